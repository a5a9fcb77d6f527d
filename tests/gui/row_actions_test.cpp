// The controls of a partition row in a real window: the At startup switch, Unmount and Open in Files.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dialog_harness.hpp"

namespace brevane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Args = std::vector<std::string>;

GtkWidget* row_switch(GtkWidget* row) {
    return find_one(row, [](GtkWidget* w) { return GTK_IS_SWITCH(w); });
}

// RFC 3986 escaping of a path: everything but unreserved characters and "/" as %XX.
std::string file_uri(const std::string& path) {
    std::string out = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

class RowActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        harness.use_startup_config("automount-dialog.toml");
        fs::remove(WindowHarness::launched_file());
        ASSERT_NE(harness.open_window(), nullptr);
    }
    std::string dir(const std::string& name) { return (harness.root() / name).string(); }

    WindowHarness harness;
};

// ---- At startup ----

TEST_F(RowActionsTest, SwitchOnOpensTheStartupDialogAndClosingItChangesNothing) {
    const std::string config_before = tuvrek::test::read_file(harness.automount_conf());
    GtkWidget* sw = row_switch(harness.page_row("Windows Data"));
    ASSERT_NE(sw, nullptr);
    gtk_switch_set_active(GTK_SWITCH(sw), TRUE);
    GtkWidget* dialog = harness.wait_for_dialog(false);
    ASSERT_NE(dialog, nullptr);
    EXPECT_STREQ(dialog_get_title(dialog), "Mount Windows Data at Startup");
    // The handler claims the signal, so the switch's state is not committed.
    EXPECT_FALSE(gtk_switch_get_state(GTK_SWITCH(sw)));

    GtkWidget* old_page = harness.page();
    compat::dialog_close(dialog);
    ASSERT_TRUE(harness.wait_for_rebuild(old_page));
    GtkWidget* rebuilt = row_switch(harness.page_row("Windows Data"));
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_FALSE(gtk_switch_get_active(GTK_SWITCH(rebuilt)));
    EXPECT_EQ(tuvrek::test::read_file(harness.automount_conf()), config_before);
    EXPECT_THAT(harness.pkexec_calls(), IsEmpty());
}

TEST_F(RowActionsTest, SwitchOffRemovesTheEntryByItsFolder) {
    GtkWidget* sw = row_switch(harness.page_row("Stick"));
    ASSERT_NE(sw, nullptr);
    ASSERT_TRUE(gtk_switch_get_active(GTK_SWITCH(sw)));
    EXPECT_EQ(tooltip(sw), "Mounted at /mnt/data at startup");
    GtkWidget* old_page = harness.page();

    gtk_switch_set_active(GTK_SWITCH(sw), FALSE);
    ASSERT_TRUE(harness.wait_for_rebuild(old_page));
    EXPECT_THAT(harness.pkexec_calls(), ElementsAre(Args{"--elevated", "--json", "automount", "remove", "/mnt/data"}));
    EXPECT_TRUE(harness.wait_for_toast(
        "/mnt/data won't be mounted at startup any more. It stays mounted until you unmount it or restart."));
    GtkWidget* rebuilt = row_switch(harness.page_row("Stick"));
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_FALSE(gtk_switch_get_active(GTK_SWITCH(rebuilt)));
}

TEST_F(RowActionsTest, SwitchOffWithoutAnEntryDoesNothing) {
    GtkWidget* sw = row_switch(harness.page_row("Windows Data"));
    ASSERT_NE(sw, nullptr);
    GtkWidget* old_page = harness.page();
    gboolean handled = FALSE;
    g_signal_emit_by_name(sw, "state-set", FALSE, &handled);
    EXPECT_TRUE(handled);
    pump_for(300ms);
    EXPECT_THAT(harness.pkexec_calls(), IsEmpty());
    EXPECT_EQ(harness.dialog(), nullptr);
    EXPECT_EQ(harness.page(), old_page);
}

// ---- Unmount ----

TEST_F(RowActionsTest, UnmountActsOnTheFirstMountPoint) {
    GtkWidget* button = find_button_by_tooltip(harness.page_row("Backup"), "Unmount");
    ASSERT_NE(button, nullptr);
    GtkWidget* old_page = harness.page();
    g_signal_emit_by_name(button, "clicked");
    EXPECT_FALSE(gtk_widget_get_sensitive(button)) << "no second click while the command runs";

    ASSERT_TRUE(harness.wait_for_rebuild(old_page));
    EXPECT_THAT(harness.pkexec_calls(), ElementsAre(Args{"--elevated", "--json", "unmount", dir("mnt/a")}));
    EXPECT_THAT(harness.stand_ins().calls("umount"), ElementsAre(Args{dir("mnt/a")}));
    EXPECT_TRUE(harness.wait_for_toast("Unmounted " + dir("mnt/a") + "."));
}

struct RefusedCase {
    const char* name;
    int pkexec_status;
    const char* alert_body;  // nullptr: nothing is shown
};

class RowActionsRefused : public RowActionsTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RowActionsRefused, RebuildsWithASensitiveButton) {
    harness.set_pkexec_exit(GetParam().pkexec_status);
    GtkWidget* button = find_button_by_tooltip(harness.page_row("Backup"), "Unmount");
    ASSERT_NE(button, nullptr);
    GtkWidget* old_page = harness.page();
    g_signal_emit_by_name(button, "clicked");
    ASSERT_TRUE(harness.wait_for_rebuild(old_page));
    pump_for(300ms);

    EXPECT_THAT(toast_titles(harness.window()), IsEmpty());
    GtkWidget* alert = harness.dialog();
    if (GetParam().alert_body == nullptr) {
        EXPECT_EQ(alert, nullptr);
    } else {
        ASSERT_NE(alert, nullptr);
        EXPECT_STREQ(alert_dialog_get_body(alert), GetParam().alert_body);
    }
    GtkWidget* fresh = find_button_by_tooltip(harness.page_row("Backup"), "Unmount");
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(gtk_widget_get_sensitive(fresh));
    EXPECT_THAT(harness.stand_ins().calls("umount"), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Authentication, RowActionsRefused,
                         ::testing::Values(RefusedCase{"Cancelled", 126, nullptr},
                                           RefusedCase{"NotAuthorized", 127, "Not authorized."}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Open in Files ----

TEST_F(RowActionsTest, OpenInFilesLaunchesAnEscapedFileUri) {
    const std::string folder = dir("Meine Fotos äöü");
    fs::create_directories(folder);
    GtkWidget* button = find_button_by_tooltip(harness.page_row("Fotos"), "Open in Files");
    ASSERT_NE(button, nullptr);
    GtkWidget* old_page = harness.page();
    g_signal_emit_by_name(button, "clicked");

    ASSERT_TRUE(pump_until([] { return fs::exists(WindowHarness::launched_file()); }, kRunTimeout));
    pump_for(200ms);
    EXPECT_EQ(tuvrek::test::read_file(WindowHarness::launched_file()), file_uri(folder) + "\n");
    EXPECT_NE(file_uri(folder).find("Meine%20Fotos%20%C3%A4%C3%B6%C3%BC"), std::string::npos);
    EXPECT_THAT(toast_titles(harness.window()), IsEmpty());
    EXPECT_EQ(harness.page(), old_page);
    EXPECT_THAT(harness.pkexec_calls(), IsEmpty());
}

// A folder that can't be opened (here: it doesn't exist) gives the launcher's message as a toast.
TEST_F(RowActionsTest, OpenInFilesFailureShowsAToast) {
    GtkWidget* button = find_button_by_tooltip(harness.page_row("Backup"), "Open in Files");
    ASSERT_NE(button, nullptr);
    GtkWidget* old_page = harness.page();
    g_signal_emit_by_name(button, "clicked");
    ASSERT_TRUE(pump_until([&] { return !toast_titles(harness.window()).empty(); }));

    const auto toasts = toast_titles(harness.window());
    ASSERT_EQ(toasts.size(), 1u);
    EXPECT_NE(toasts[0].find(dir("mnt/a")), std::string::npos) << toasts[0];
    EXPECT_EQ(harness.dialog(), nullptr) << "no alert";
    EXPECT_EQ(harness.page(), old_page) << "no rebuild";
    EXPECT_FALSE(fs::exists(WindowHarness::launched_file()));
}

}  // namespace
}  // namespace brevane::test
