// The mount dialog in a real window over fixture drives: its form, the live preview, the checks of
// its action, the confirmation alert and the command line that reaches pkexec.
#include <stdlib.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialog_harness.hpp"
#include "picture.hpp"

namespace brevane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Args = std::vector<std::string>;

class MountDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        harness.set_installed({"apfs-fuse-git", "linux-apfs-rw-dkms-git", "dkms", "linux-headers"});
        ASSERT_NE(harness.open_window(), nullptr);
    }

    std::string dir(const std::string& name) { return (harness.root() / name).string(); }

    // Opens the dialog of a row, with every widget of the form found.
    DialogForm open(const std::string& row) {
        GtkWidget* dialog = harness.open_mount_dialog(row);
        EXPECT_NE(dialog, nullptr);
        DialogForm form(dialog);
        EXPECT_TRUE(dialog == nullptr || form.complete());
        return form;
    }

    // Turns the row's At startup switch on, which opens the dialog in startup mode.
    DialogForm open_startup(const std::string& row) {
        GtkWidget* sw = find_one(harness.page_row(row), [](GtkWidget* w) { return GTK_IS_SWITCH(w); });
        EXPECT_NE(sw, nullptr);
        if (sw != nullptr) gtk_switch_set_active(GTK_SWITCH(sw), TRUE);
        GtkWidget* dialog = harness.wait_for_dialog(false);
        EXPECT_NE(dialog, nullptr);
        return DialogForm(dialog);
    }

    // Presses the action and waits for the run's whole round: dialog gone, reply shown, page rebuilt.
    void press_and_wait_for_run(const DialogForm& form) {
        GtkWidget* old_page = harness.page();
        form.press();
        EXPECT_TRUE(harness.wait_for_rebuild(old_page)) << "no page rebuild after the run";
        EXPECT_FALSE(harness.form_dialog_open());
    }

    WindowHarness harness;
};

// ---- the form ----

struct FormCase {
    const char* row;
    const char* title;
    const char* description;
    const char* folder;
    bool volume_visible;
    bool startup_visible;
};

class MountDialogForm : public MountDialogTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(MountDialogForm, ShowsThePartitionAndItsChoices) {
    const FormCase& c = GetParam();
    DialogForm form = open(c.row);
    ASSERT_TRUE(form.complete());
    EXPECT_STREQ(dialog_get_title(form.dialog), c.title);
    EXPECT_EQ(dialog_get_content_width(form.dialog), 480);
    GtkWidget* group = find_one(form.dialog, [](GtkWidget* w) { return ADW_IS_PREFERENCES_GROUP(w); });
    ASSERT_NE(group, nullptr);
    EXPECT_STREQ(adw_preferences_group_get_description(ADW_PREFERENCES_GROUP(group)), c.description);
    EXPECT_EQ(form.folder_text(), c.folder);
    EXPECT_NE(find_button_by_tooltip(form.folder, "Choose a folder"), nullptr);

    EXPECT_FALSE(compat::switch_row_get_active(form.read_write));
    EXPECT_STREQ(adw_action_row_get_subtitle(ADW_ACTION_ROW(form.read_write)),
                 "When off, nothing on the drive can change");
    EXPECT_EQ(compat::spin_row_get_value(form.volume), 0);
    EXPECT_STREQ(adw_action_row_get_subtitle(ADW_ACTION_ROW(form.volume)), "Try 1 if your Users folder is missing");
    EXPECT_EQ(gtk_widget_get_visible(form.volume), c.volume_visible);
    EXPECT_FALSE(compat::switch_row_get_active(form.startup));
    EXPECT_EQ(gtk_widget_get_visible(form.startup), c.startup_visible);

    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(form.action)), "Mount");
    EXPECT_TRUE(gtk_widget_has_css_class(form.action, "suggested-action"));
    EXPECT_FALSE(form.error_visible());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MountDialogForm,
    ::testing::Values(
        FormCase{"Windows Data", "Mount Windows Data", "NTFS \u00b7 200.0 GB \u00b7 /dev/sdc1", "/mnt/Windows-Data",
                 false, true},
        FormCase{"Macintosh HD", "Mount Macintosh HD", "APFS \u00b7 500.1 GB \u00b7 /dev/sdc2", "/mnt/Macintosh-HD",
                 true, true},
        // Without a UUID there is no startup entry to make.
        FormCase{"Camera", "Mount Camera", "exFAT \u00b7 16.0 GB \u00b7 /dev/sdc3", "/mnt/Camera", false, false}));

// ---- the live preview ----

TEST_F(MountDialogTest, PreviewFollowsTheFolderAndReadWrite) {
    harness.make_fuse_available();
    DialogForm form = open("Macintosh HD");
    ASSERT_TRUE(form.complete());
    // Read-only APFS goes through apfs-fuse: its one warning names the folder.
    EXPECT_TRUE(form.warnings_visible());
    EXPECT_EQ(form.warnings(), fuse_root("/mnt/Macintosh-HD"));

    form.set_folder("  " + dir("mnt/mac") + "/  ");
    EXPECT_EQ(form.warnings(), fuse_root(dir("mnt/mac")));
    // The preview plans the folder in the form the action will use.
    form.set_folder(dir("mnt/x/../mac"));
    EXPECT_EQ(form.warnings(), fuse_root(dir("mnt/mac")));

    compat::switch_row_set_active(form.read_write, true);
    EXPECT_EQ(form.warnings(), kApfsWrite + "\n\n" + kFileVault);
    EXPECT_TRUE(form.warnings_visible());

    // A folder the planner refuses shows neither warnings nor an error while typing.
    form.set_folder("mnt/mac");
    EXPECT_FALSE(form.warnings_visible());
    EXPECT_FALSE(form.error_visible());

    compat::switch_row_set_active(form.read_write, false);
    form.set_folder("/mnt/mac");
    EXPECT_EQ(form.warnings(), fuse_root("/mnt/mac"));
}

TEST_F(MountDialogTest, PreviewOfAPlanWithoutWarningsHidesTheLabel) {
    DialogForm form = open("Windows Data");
    ASSERT_TRUE(form.complete());
    EXPECT_FALSE(form.warnings_visible());
    compat::switch_row_set_active(form.read_write, true);
    EXPECT_FALSE(form.warnings_visible());
    EXPECT_EQ(form.warnings(), "");
}

// Only the folder text and "Read and Write" re-plan: the error of a pressed action stays up until then.
TEST_F(MountDialogTest, OnlyFolderAndReadWriteChangesReplan) {
    harness.make_fuse_available();
    DialogForm form = open("Macintosh HD");
    ASSERT_TRUE(form.complete());
    form.set_folder("");
    form.press();
    ASSERT_TRUE(form.error_visible());

    compat::spin_row_set_value(form.volume, 3);
    compat::switch_row_set_active(form.startup, true);
    EXPECT_TRUE(form.error_visible());

    compat::switch_row_set_active(form.read_write, true);
    EXPECT_FALSE(form.error_visible());
    form.press();
    ASSERT_TRUE(form.error_visible());
    form.set_folder("/mnt/x");
    EXPECT_FALSE(form.error_visible());
}

// ---- the folder chooser ----

// The chooser is the toolkit's own (GtkFileDialog, or GtkFileChooserNative before it), shown as a
// window of this process; the test answers it as the user would.
TEST_F(MountDialogTest, ChosenFolderBecomesTheFolderText) {
    harness.make_fuse_available();
    DialogForm form = open("Macintosh HD");
    ASSERT_TRUE(form.complete());
    GtkWidget* choose = find_button_by_tooltip(form.folder, "Choose a folder");
    ASSERT_NE(choose, nullptr);
    // Opens the chooser and waits until it shows its folder, as the user sees it.
    const auto open_chooser = [&]() -> GtkWidget* {
        g_signal_emit_by_name(choose, "clicked");
        GtkWidget* chooser = nullptr;
        pump_until([&] { return (chooser = open_folder_chooser()) != nullptr; });
        if (chooser != nullptr) pump_until([&] { return folder_chooser_shows_path(chooser, "/mnt"); });
        return chooser;
    };

    GtkWidget* chooser = open_chooser();
    ASSERT_NE(chooser, nullptr) << "no folder chooser opened";
    EXPECT_EQ(folder_chooser_title(chooser), "Mount Folder");
    EXPECT_EQ(folder_chooser_folder(chooser), "/mnt");
    folder_chooser_cancel(chooser);
    ASSERT_TRUE(pump_until([] { return open_folder_chooser() == nullptr; }));
    pump_for(200ms);
    EXPECT_EQ(form.folder_text(), "/mnt/Macintosh-HD");

    const std::string chosen = dir("mnt/chosen");
    fs::create_directories(chosen);
    chooser = open_chooser();
    ASSERT_NE(chooser, nullptr) << "no folder chooser opened the second time";
    folder_chooser_go_to(chooser, chosen);
    ASSERT_TRUE(pump_until([&] { return folder_chooser_shows_path(chooser, chosen); }))
        << folder_chooser_folder(chooser);
    folder_chooser_accept(chooser);
    EXPECT_TRUE(pump_until([&] { return form.folder_text() == chosen; })) << form.folder_text();
    EXPECT_EQ(open_folder_chooser(), nullptr);
    EXPECT_EQ(form.warnings(), fuse_root(chosen));
}

// ---- the action: refusals ----

struct RefusalCase {
    const char* name;
    const char* folder;  // @ROOT@ stands for the test's folder
    const char* message;
};

class MountDialogRefusal : public MountDialogTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(MountDialogRefusal, ShowsTheMessageAndStartsNothing) {
    fs::create_directories(harness.root() / "full");
    tuvrek::test::write_file(harness.root() / "full" / ".keep", "");
    tuvrek::test::write_file(harness.root() / "file", "x");
    fs::create_directories(harness.root() / "busy");
    tuvrek::test::write_file(harness.mountinfo(), "50 1 8:33 / " + dir("busy") + " rw - ext4 /dev/sdz1 rw\n");
    fs::create_directory_symlink("/boot", harness.root() / "to-boot");

    std::string folder = GetParam().folder;
    if (folder.rfind("@ROOT@", 0) == 0) folder = harness.root().string() + folder.substr(6);
    DialogForm form = open("Windows Data");
    ASSERT_TRUE(form.complete());
    GtkWidget* old_page = harness.page();
    form.set_folder(folder);
    form.press();
    pump_for(200ms);

    EXPECT_TRUE(form.error_visible());
    EXPECT_EQ(form.error(), GetParam().message);
    EXPECT_EQ(harness.dialog(), form.dialog) << "the dialog stays open";
    EXPECT_THAT(harness.pkexec_calls(), IsEmpty());
    EXPECT_EQ(harness.page(), old_page) << "nothing dismissed, nothing rebuilt";
}

const char* const kNotAbsolute = "The mount folder must be a full path, such as /mnt/mac.";
const char* const kNotEmpty =
    "The mount folder isn't empty. Mounting over it would hide its files; pick an empty or new folder.";

INSTANTIATE_TEST_SUITE_P(
    Folders, MountDialogRefusal,
    ::testing::Values(RefusalCase{"Empty", "", kNotAbsolute}, RefusalCase{"Blanks", "   ", kNotAbsolute},
                      RefusalCase{"Relative", "mnt/win", kNotAbsolute},
                      RefusalCase{"SystemFolder", "/home/", kNotEmpty}, RefusalCase{"Root", "/", kNotEmpty},
                      // A system folder is refused however it is spelled, and so are the kernel's own.
                      RefusalCase{"SystemFolderWithASlash", "/boot/", kNotEmpty},
                      RefusalCase{"SystemFolderThroughDots", "/mnt/../boot", kNotEmpty},
                      RefusalCase{"SystemFolderThroughALink", "@ROOT@/to-boot", kNotEmpty},
                      RefusalCase{"KernelFolder", "/run//", kNotEmpty},
                      RefusalCase{"BelowTheKernelsProc", "/proc/self/../1", kNotEmpty},
                      RefusalCase{"File", "@ROOT@/file", "The mount folder exists and isn't a folder."},
                      RefusalCase{"NotEmpty", "@ROOT@/full", kNotEmpty},
                      RefusalCase{"InUse", "@ROOT@/busy", "Something is already mounted on that folder."}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the action: runs ----

struct RunCase {
    const char* name;
    const char* row;
    const char* folder;  // below the test's folder: the "-d" folder; blanks around it are typed too
    bool read_write;
    double volume;
    bool startup;
    Args expected_tail;  // after "mount", "-p", device, "-d", target, "--yes"
    const char* device;
    const char* typed = nullptr;  // below the test's folder, when typed otherwise than `folder`
};

class MountDialogRun : public MountDialogTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(MountDialogRun, SendsTheArgumentListToPkexec) {
    const RunCase& c = GetParam();
    harness.make_fuse_available();
    fs::create_directories(harness.root() / "mnt" / "real");
    fs::create_directory_symlink(harness.root() / "mnt" / "real", harness.root() / "link");
    DialogForm form = open(c.row);
    ASSERT_TRUE(form.complete());
    form.set_folder(" " + dir(c.typed != nullptr ? c.typed : c.folder) + " ");
    compat::switch_row_set_active(form.read_write, c.read_write);
    compat::spin_row_set_value(form.volume, c.volume);
    compat::switch_row_set_active(form.startup, c.startup);
    press_and_wait_for_run(form);

    Args expected = {"--elevated", "--json", "mount", "-p", c.device, "-d", dir(c.folder), "--yes"};
    expected.insert(expected.end(), c.expected_tail.begin(), c.expected_tail.end());
    EXPECT_THAT(harness.pkexec_calls(), ElementsAre(expected));
    EXPECT_THAT(harness.pkexec_program_paths(), ElementsAre(tuvrek::test::cli_binary()));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, MountDialogRun,
    ::testing::Values(
        RunCase{"ReadOnly", "Windows Data", "mnt/win", false, 0, false, {}, "/dev/sdc1"},
        RunCase{"ReadWriteAtStartup", "Windows Data", "mnt/win", true, 0, true, {"--rw", "--startup"}, "/dev/sdc1"},
        // The volume row is hidden and never read for other filesystems.
        RunCase{"VolumeIgnoredOffApfs", "Windows Data", "mnt/win", false, 5, false, {}, "/dev/sdc1"},
        RunCase{"ApfsVolumeZero", "Macintosh HD", "mnt/mac", false, 0, false, {}, "/dev/sdc2"},
        RunCase{"ApfsVolumeTwelve", "Macintosh HD", "mnt/mac", false, 12, false, {"--volume", "12"}, "/dev/sdc2"},
        // The folder goes in its one canonical form, however it was typed.
        RunCase{"TrailingSlash", "Windows Data", "mnt/new", false, 0, false, {}, "/dev/sdc1", "mnt/new/"},
        RunCase{"DotsAndRepeatedSlashes", "Windows Data", "mnt/new", false, 0, false, {}, "/dev/sdc1",
                "mnt/x/..//./new"},
        RunCase{"ThroughALink", "Windows Data", "mnt/real", false, 0, false, {}, "/dev/sdc1", "link/"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MountDialogTest, MountedPartitionShowsUpAfterTheRun) {
    DialogForm form = open("Windows Data");
    ASSERT_TRUE(form.complete());
    form.set_folder(dir("mnt/win"));
    press_and_wait_for_run(form);

    EXPECT_TRUE(harness.wait_for_toast("Mounted /dev/sdc1 at " + dir("mnt/win") + " (read-only)."));
    EXPECT_TRUE(fs::is_directory(dir("mnt/win")));
    GtkWidget* row = harness.page_row("Windows Data");
    EXPECT_NE(find_button_by_tooltip(row, "Unmount"), nullptr) << "the rebuilt row shows the new mount";
    EXPECT_EQ(find_button_by_label(row, "Mount"), nullptr);
}

// ---- the confirmation alert ----

struct ConfirmCase {
    const char* name;
    std::vector<std::string> installed;
    bool module_available;
    bool read_write;
    double volume;
    bool startup;
    const char* heading;
    std::string body;
    AdwResponseAppearance go_appearance;
    Args expected_tail;  // after "-d", target, "--yes"
};

const std::string kAllApfsPackages =
    "Mounting APFS needs packages that aren't installed:\n\nlinux-apfs-rw-dkms-git\ndkms\nlinux-headers\n\n"
    "They'll be installed from the Tuvrek repository.";

class MountDialogConfirm : public MountDialogTest, public ::testing::WithParamInterface<ConfirmCase> {};

TEST_P(MountDialogConfirm, AsksFirstAndRunsOnlyOnContinue) {
    const ConfirmCase& c = GetParam();
    harness.set_installed(c.installed);
    if (c.module_available) harness.make_module_available();
    DialogForm form = open("Macintosh HD");
    ASSERT_TRUE(form.complete());
    form.set_folder(dir("mnt/mac"));
    compat::switch_row_set_active(form.read_write, c.read_write);
    compat::spin_row_set_value(form.volume, c.volume);
    compat::switch_row_set_active(form.startup, c.startup);
    GtkWidget* old_page = harness.page();

    form.press();
    GtkWidget* alert = harness.wait_for_dialog(true);
    ASSERT_NE(alert, nullptr);
    EXPECT_STREQ(alert_dialog_get_heading(alert), c.heading);
    EXPECT_EQ(text_of(alert_dialog_get_body(alert)), c.body);
    EXPECT_STREQ(alert_dialog_get_response_label(alert, "cancel"), "Cancel");
    EXPECT_STREQ(alert_dialog_get_response_label(alert, "go"), "Continue");
    EXPECT_EQ(alert_dialog_get_response_appearance(alert, "go"), c.go_appearance);
    EXPECT_STREQ(alert_dialog_get_default_response(alert), "cancel");
    EXPECT_STREQ(alert_dialog_get_close_response(alert), "cancel");

    // Cancel only closes the alert: the form stays, nothing runs, nothing is dismissed.
    alert_dialog_choose_response(alert, "cancel");
    EXPECT_EQ(harness.wait_for_dialog(false), form.dialog);
    pump_for(200ms);
    EXPECT_THAT(harness.pkexec_calls(), IsEmpty());
    EXPECT_EQ(harness.page(), old_page);

    form.press();
    alert = harness.wait_for_dialog(true);
    ASSERT_NE(alert, nullptr);
    alert_dialog_choose_response(alert, "go");
    EXPECT_TRUE(harness.wait_for_rebuild(old_page));
    EXPECT_FALSE(harness.form_dialog_open());
    Args expected = {"--elevated", "--json", "mount", "-p", "/dev/sdc2", "-d", dir("mnt/mac"), "--yes"};
    expected.insert(expected.end(), c.expected_tail.begin(), c.expected_tail.end());
    EXPECT_THAT(harness.pkexec_calls(), ElementsAre(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Plans, MountDialogConfirm,
    ::testing::Values(
        ConfirmCase{"PackagesAndExperimental", {}, false, true, 0, false, "Install Packages and Write to APFS?",
                    kAllApfsPackages + "\n\n" + kApfsWrite, ADW_RESPONSE_DESTRUCTIVE, {"--rw"}},
        ConfirmCase{"PackagesOnly", {"dkms"}, false, false, 0, false, "Install Packages?",
                    "Mounting APFS needs packages that aren't installed:\n\napfs-fuse-git\n\n"
                    "They'll be installed from the Tuvrek repository.",
                    ADW_RESPONSE_SUGGESTED, {}},
        ConfirmCase{"ExperimentalOnly", {}, true, true, 1, true, "Write to APFS?", kApfsWrite,
                    ADW_RESPONSE_DESTRUCTIVE, {"--rw", "--volume", "1", "--startup"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MountDialogTest, ClosingAfterACancelledAlertDismisses) {
    harness.make_module_available();
    DialogForm form = open("Macintosh HD");
    ASSERT_TRUE(form.complete());
    compat::switch_row_set_active(form.read_write, true);
    GtkWidget* old_page = harness.page();
    form.press();
    GtkWidget* alert = harness.wait_for_dialog(true);
    ASSERT_NE(alert, nullptr);
    alert_dialog_choose_response(alert, "cancel");
    ASSERT_EQ(harness.wait_for_dialog(false), form.dialog);
    EXPECT_EQ(harness.page(), old_page);

    compat::dialog_close(form.dialog);
    EXPECT_TRUE(harness.wait_for_rebuild(old_page)) << "a dismissed dialog rebuilds the page";
    EXPECT_THAT(harness.pkexec_calls(), IsEmpty());
}

TEST_F(MountDialogTest, ClosingWithoutARunRebuildsOnce) {
    DialogForm form = open("Windows Data");
    ASSERT_TRUE(form.complete());
    GtkWidget* old_page = harness.page();
    compat::dialog_close(form.dialog);
    ASSERT_TRUE(harness.wait_for_rebuild(old_page));
    GtkWidget* rebuilt = harness.page();
    pump_for(300ms);
    EXPECT_EQ(harness.page(), rebuilt);
    EXPECT_FALSE(harness.form_dialog_open());
    EXPECT_THAT(harness.pkexec_calls(), IsEmpty());
}

// ---- startup mode ----

TEST_F(MountDialogTest, StartupModeSavesAnEntryWithoutStartupOrFolderCheck) {
    fs::create_directories(harness.root() / "full");
    tuvrek::test::write_file(harness.root() / "full" / "file", "x");
    DialogForm form = open_startup("Windows Data");
    ASSERT_TRUE(form.complete());
    EXPECT_STREQ(dialog_get_title(form.dialog), "Mount Windows Data at Startup");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(form.action)), "Save");
    EXPECT_FALSE(gtk_widget_get_visible(form.startup));

    // A folder that holds files is fine for an entry; the startup row never adds "--startup".
    form.set_folder(dir("full"));
    compat::switch_row_set_active(form.read_write, true);
    compat::switch_row_set_active(form.startup, true);
    press_and_wait_for_run(form);

    EXPECT_THAT(harness.pkexec_calls(), ElementsAre(Args{"--elevated", "--json", "automount", "add", "-p",
                                                         "/dev/sdc1", "-d", dir("full"), "--yes", "--rw"}));
    EXPECT_TRUE(harness.wait_for_toast("/dev/sdc1 will be mounted at " + dir("full") + " at startup, read/write."));
    GtkWidget* sw = find_one(harness.page_row("Windows Data"), [](GtkWidget* w) { return GTK_IS_SWITCH(w); });
    ASSERT_NE(sw, nullptr);
    EXPECT_TRUE(gtk_switch_get_active(GTK_SWITCH(sw))) << "the rebuilt row shows the new entry";
}

TEST_F(MountDialogTest, StartupModePlansAMountedPartitionAsUnmounted) {
    DialogForm form = open_startup("Shared");
    ASSERT_TRUE(form.complete());
    EXPECT_EQ(form.folder_text(), "/mnt/Shared");
    press_and_wait_for_run(form);
    EXPECT_THAT(harness.pkexec_calls(),
                ElementsAre(Args{"--elevated", "--json", "automount", "add", "-p", "/dev/sdc7", "-d", "/mnt/Shared",
                                 "--yes"}));
}

// ---- a picture of the dialog ----

// Renders the open dialog over its window to a PNG: to BREVANE_DIALOG_PNG when set, else into the
// test's folder.
TEST_F(MountDialogTest, RendersToAPicture) {
    harness.make_fuse_available();
    DialogForm form = open("Macintosh HD");
    ASSERT_TRUE(form.complete());
    compat::switch_row_set_active(form.read_write, true);
    GtkWidget* dialog = form.dialog;
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_width(dialog) > 0 && gtk_widget_get_height(dialog) > 0; }));
    pump_for(500ms);  // let the first frame and the dialog's opening settle

    g_autoptr(GdkTexture) texture = window_picture(harness.window());
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(gdk_texture_get_width(texture), gtk_widget_get_width(GTK_WIDGET(harness.window())));

    const char* wanted = getenv("BREVANE_DIALOG_PNG");
    const std::string path = wanted != nullptr && *wanted != '\0' ? wanted : dir("dialog.png");
    ASSERT_TRUE(gdk_texture_save_to_png(texture, path.c_str())) << path;
    EXPECT_GT(fs::file_size(path), 1000u);
}

}  // namespace
}  // namespace brevane::test
