// The main window and its drive page, built for real under a virtual display from fixture drives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "compat_inspection.hpp"
#include "page.hpp"
#include "window.hpp"
#include "gui_support.hpp"

namespace {

using namespace brevane::test;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr const char* kStartupOnWin =
    "[[mount]]\n"
    "uuid = \"abcd1234ef567890\"\n"  // the partition's UUID in other letter case
    "target = \"/mnt/win\"\n"
    "uid = 1000\n"
    "gid = 1000\n";

class WindowTest : public testing::Test {
protected:
    void open(const std::string& lsblk, const std::string& automount = kStartupOnWin) {
        fixture = std::make_unique<Fixture>(lsblk, automount);
        window = open_main_window();
        ASSERT_NE(window, nullptr);
        state = brevane::window_state(window);
        ASSERT_NE(state, nullptr);
    }
    void TearDown() override {
        state.reset();
        close_main_window(window);
    }

    GtkWidget* refresh_button() {
        for (GtkWidget* w : descendants_of_type(GTK_WIDGET(window), GTK_TYPE_BUTTON)) {
            if (tooltip(w) == "Refresh") return w;
        }
        return nullptr;
    }

    std::unique_ptr<Fixture> fixture;
    GtkWindow* window = nullptr;
    brevane::WindowStateRef state;
};

TEST_F(WindowTest, HasTheFixedWidgetTree) {
    open("lsblk-gui-drives.json");
    EXPECT_STREQ(gtk_window_get_title(window), "Brevane");
    EXPECT_STREQ(gtk_window_get_icon_name(window), "org.tuvrek.Brevane");
    int width = 0, height = 0;
    gtk_window_get_default_size(window, &width, &height);
    EXPECT_EQ(width, 780);
    EXPECT_EQ(height, 620);
    EXPECT_TRUE(ADW_IS_APPLICATION_WINDOW(window));

    // toolbar view: the header bar on top, the toast overlay as content
    GtkWidget* toolbar = adw_application_window_get_content(ADW_APPLICATION_WINDOW(window));
    GtkWidget* overlay = toolbar_view_get_content(toolbar);
    ASSERT_TRUE(ADW_IS_TOAST_OVERLAY(overlay));
    EXPECT_EQ(overlay, GTK_WIDGET(state->toast_overlay));
    auto headers = descendants_of_type(toolbar, ADW_TYPE_HEADER_BAR);
    ASSERT_EQ(headers.size(), 1u);

    GtkWidget* refresh = refresh_button();
    ASSERT_NE(refresh, nullptr);
    ASSERT_TRUE(pump_until([&] { return gtk_widget_get_width(headers[0]) > 0; }));
    EXPECT_STREQ(gtk_button_get_icon_name(GTK_BUTTON(refresh)), "view-refresh-symbolic");
    EXPECT_TRUE(gtk_widget_is_ancestor(refresh, headers[0]));
    // packed at the start: left of the title
    graphene_point_t origin = GRAPHENE_POINT_INIT(0, 0);
    graphene_point_t at;
    ASSERT_TRUE(gtk_widget_compute_point(refresh, headers[0], &origin, &at));
    EXPECT_LT(at.x, gtk_widget_get_width(headers[0]) / 2);

    GtkWidget* scrolled = adw_toast_overlay_get_child(ADW_TOAST_OVERLAY(overlay));
    ASSERT_TRUE(GTK_IS_SCROLLED_WINDOW(scrolled));
    GtkPolicyType h, v;
    gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(scrolled), &h, &v);
    EXPECT_EQ(h, GTK_POLICY_NEVER);
    EXPECT_EQ(v, GTK_POLICY_AUTOMATIC);
    EXPECT_TRUE(gtk_widget_get_vexpand(scrolled));

    GtkWidget* clamp = GTK_WIDGET(state->clamp);
    EXPECT_TRUE(gtk_widget_is_ancestor(clamp, scrolled));
    EXPECT_EQ(adw_clamp_get_maximum_size(ADW_CLAMP(clamp)), 820);
    EXPECT_EQ(gtk_widget_get_margin_top(clamp), 12);
    EXPECT_EQ(gtk_widget_get_margin_bottom(clamp), 24);
    EXPECT_EQ(gtk_widget_get_margin_start(clamp), 12);
    EXPECT_EQ(gtk_widget_get_margin_end(clamp), 12);

    GtkWidget* page = current_page(window);
    ASSERT_TRUE(GTK_IS_BOX(page));
    EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(page)), GTK_ORIENTATION_VERTICAL);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(page)), 24);
}

TEST_F(WindowTest, ShowsDrivesAndPartitionsAsTheDataSays) {
    open("lsblk-gui-drives.json");
    auto groups = page_groups(current_page(window));
    // sdc holds only hidden partitions (EFI by type in any case, EFI by label, swap, no filesystem).
    ASSERT_EQ(groups.size(), 3u);

    EXPECT_EQ(groups[0].title, "ATA Example SSD");
    EXPECT_EQ(groups[0].description, "/dev/sda \u00b7 500.1 GB");
    EXPECT_EQ(groups[1].title, "Example SSD");
    EXPECT_EQ(groups[1].description, "/dev/sdb \u00b7 31.0 GB \u00b7 removable");
    EXPECT_EQ(groups[2].title, "Plain Disk");
    EXPECT_EQ(groups[2].description, "/dev/sdd \u00b7 1.0 KB");

    struct Expected {
        std::string title;
        std::string subtitle;
        std::string icon;
        std::vector<std::string> suffixes;
    };
    const std::string disk = "drive-harddisk-symbolic";
    const std::string removable = "drive-removable-media-symbolic";
    const std::vector<std::vector<Expected>> expected = {
        {
            {"root", "ext4 \u00b7 100.0 GB \u00b7 /dev/sda2 \u00b7 mounted at /", disk, {"Linux", "System"}},
            {"Win & <Data>", "NTFS \u00b7 250.0 GB \u00b7 /dev/sda3 \u00b7 mounted at /mnt/a, /mnt/b", disk,
             {"Windows", "At startup", "switch:on", "Open in Files", "Unmount"}},
            {"vault", "LUKS \u00b7 1.0 KB \u00b7 /dev/sda5", disk, {"Linux", "Encrypted"}},
        },
        {
            {"STICK", "exFAT \u00b7 1.5 KB \u00b7 /dev/sdb1", removable,
             {"Shared", "At startup", "switch:off", "Mount"}},
            {"sdb2", "BitLocker \u00b7 999 B \u00b7 /dev/sdb2", disk, {"Windows", "Encrypted"}},
            {"CDROM", "iso9660 \u00b7 700.0 MB \u00b7 /dev/sdb3", disk, {}},
            {"Backup", "NTFS \u00b7 2.0 GB \u00b7 /dev/sdb4", disk, {"Windows", "Mount"}},
            {"Users", "NTFS \u00b7 3.0 GB \u00b7 /dev/sdb5 \u00b7 mounted at /home", disk, {"Windows", "System"}},
            {"sdb6", "APFS \u00b7 4.0 GB \u00b7 /dev/sdb6 \u00b7 mounted at /mnt/mac", disk,
             {"macOS", "At startup", "switch:off", "Open in Files", "Unmount"}},
        },
        {
            // the EFI partition label only hides in its exact letter case
            {"efi system partition", "FAT \u00b7 1.0 KB \u00b7 /dev/sdd1", removable,
             {"Shared", "At startup", "switch:off", "Mount"}},
        },
    };
    for (std::size_t g = 0; g < expected.size(); ++g) {
        ASSERT_EQ(groups[g].rows.size(), expected[g].size()) << groups[g].title;
        for (std::size_t r = 0; r < expected[g].size(); ++r) {
            const RowView& row = groups[g].rows[r];
            const Expected& want = expected[g][r];
            SCOPED_TRACE(want.title);
            EXPECT_EQ(row.title, want.title);
            EXPECT_EQ(row.subtitle, want.subtitle);
            EXPECT_EQ(row.icon, want.icon);
            EXPECT_EQ(suffix_summary(row), want.suffixes);
        }
    }

    // Titles are markup, so data texts go in escaped and show literally.
    EXPECT_STREQ(adw_preferences_row_get_title(ADW_PREFERENCES_ROW(groups[0].rows[1].row)),
                 "Win &amp; &lt;Data&gt;");
}

TEST_F(WindowTest, SuffixWidgetsCarryTheirLooks) {
    open("lsblk-gui-drives.json");
    auto groups = page_groups(current_page(window));
    ASSERT_EQ(groups.size(), 3u);
    ASSERT_EQ(groups[0].rows.size(), 3u);
    ASSERT_EQ(groups[1].rows.size(), 6u);

    const RowView& win = groups[0].rows[1];
    ASSERT_EQ(win.suffixes.size(), 4u);
    EXPECT_THAT(css_classes(win.suffixes[0]), testing::IsSupersetOf({"caption", "dim-label"}));
    GtkWidget* box = win.suffixes[1];
    ASSERT_TRUE(GTK_IS_BOX(box));
    EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(box)), GTK_ORIENTATION_HORIZONTAL);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(box)), 6);
    auto in_box = children(box);
    ASSERT_EQ(in_box.size(), 2u);
    EXPECT_THAT(css_classes(in_box[0]), testing::Contains("caption"));
    EXPECT_THAT(css_classes(in_box[0]), testing::Not(testing::Contains("dim-label")));
    ASSERT_TRUE(GTK_IS_SWITCH(in_box[1]));
    EXPECT_EQ(gtk_widget_get_valign(in_box[1]), GTK_ALIGN_CENTER);
    EXPECT_EQ(tooltip(in_box[1]), "Mounted at /mnt/win at startup");

    const std::pair<int, const char*> buttons[] = {{2, "folder-open-symbolic"}, {3, "media-eject-symbolic"}};
    for (const auto& [index, icon] : buttons) {
        GtkWidget* button = win.suffixes[index];
        ASSERT_TRUE(GTK_IS_BUTTON(button));
        EXPECT_STREQ(gtk_button_get_icon_name(GTK_BUTTON(button)), icon);
        EXPECT_EQ(gtk_widget_get_valign(button), GTK_ALIGN_CENTER);
        EXPECT_THAT(css_classes(button), testing::Contains("flat"));
    }

    const RowView& stick = groups[1].rows[0];
    ASSERT_EQ(stick.suffixes.size(), 3u);
    EXPECT_EQ(tooltip(children(stick.suffixes[1])[1]), "Mount at startup");
    GtkWidget* mount = stick.suffixes[2];
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(mount)), "Mount");
    EXPECT_EQ(gtk_widget_get_valign(mount), GTK_ALIGN_CENTER);

    const RowView& vault = groups[0].rows[2];
    ASSERT_EQ(vault.suffixes.size(), 2u);
    EXPECT_EQ(tooltip(vault.suffixes[1]), "Unlock it first; unlocking isn't supported here yet");
    EXPECT_THAT(css_classes(vault.suffixes[1]), testing::IsSupersetOf({"caption", "dim-label"}));
    const RowView& root = groups[0].rows[0];
    ASSERT_EQ(root.suffixes.size(), 2u);
    EXPECT_THAT(css_classes(root.suffixes[1]), testing::IsSupersetOf({"caption", "dim-label"}));
}

// The group's description is markup too: a device path with markup characters shows as written.
TEST_F(WindowTest, DriveDescriptionShowsMarkupCharactersLiterally) {
    open("lsblk-gui-drives.json");
    std::string listing = tuvrek::test::read_file(fixture->lsblk_path());
    const std::string path = "\"path\":\"/dev/sdd\"";
    ASSERT_NE(listing.find(path), std::string::npos);
    listing.replace(listing.find(path), path.size(), "\"path\":\"/dev/s&d<d>\"");
    fixture->set_lsblk(listing);
    brevane::refresh_drive_list(state, true);

    auto groups = page_groups(current_page(window));
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[2].description, "/dev/s&d<d> \u00b7 1.0 KB");
}

TEST_F(WindowTest, ABrokenStartupFileShowsEverySwitchOff) {
    open("lsblk-gui-drives.json", "[[mount]]\nuuid = \"abcd1234ef567890\"\n");  // no target
    auto groups = page_groups(current_page(window));
    ASSERT_FALSE(groups.empty());
    ASSERT_EQ(groups[0].rows.size(), 3u);
    EXPECT_THAT(suffix_summary(groups[0].rows[1]),
                ElementsAre("Windows", "At startup", "switch:off", "Open in Files", "Unmount"));
}

struct StatusCase {
    const char* name;
    const char* lsblk;  // fixture, or "" for a file that can't be read
    const char* icon;
    const char* title;
};

class StatusPageTest : public WindowTest, public testing::WithParamInterface<StatusCase> {};

TEST_P(StatusPageTest, ShowsOneStatusPageAndNoGroups) {
    const StatusCase& c = GetParam();
    open(std::string(c.lsblk).empty() ? "lsblk-gui-drives.json" : c.lsblk);
    std::string missing;
    if (std::string(c.lsblk).empty()) {
        // A path with markup characters: the error text names it and must show literally.
        missing = (fixture->dir() / "a&b<c.json").string();
        setenv("TUVREK_DISK_LSBLK_JSON", missing.c_str(), 1);
        brevane::refresh_drive_list(state, true);
    }
    GtkWidget* page = current_page(window);
    auto pages = children(page);
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_TRUE(ADW_IS_STATUS_PAGE(pages[0]));
    EXPECT_THAT(page_groups(page), IsEmpty());
    AdwStatusPage* status = ADW_STATUS_PAGE(pages[0]);
    EXPECT_STREQ(adw_status_page_get_icon_name(status), c.icon);
    EXPECT_STREQ(adw_status_page_get_title(status), c.title);
    if (missing.empty()) {
        EXPECT_STREQ(adw_status_page_get_description(status), "Connect a drive and it shows up here.");
    } else {
        char* escaped = g_markup_escape_text(missing.c_str(), -1);
        EXPECT_THAT(adw_status_page_get_description(status), testing::StartsWith(std::string(escaped) + ": "));
        g_free(escaped);
        bool shown_literally = false;
        for (GtkWidget* w : descendants_of_type(pages[0], GTK_TYPE_LABEL)) {
            if (std::string(gtk_label_get_text(GTK_LABEL(w))).rfind(missing + ": ", 0) == 0) shown_literally = true;
        }
        EXPECT_TRUE(shown_literally);
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, StatusPageTest,
                         testing::Values(StatusCase{"no_partitions", "lsblk-gui-system-only.json",
                                                    "drive-harddisk-symbolic", "No Partitions"},
                                         StatusCase{"listing_failed", "", "dialog-error-symbolic",
                                                    "Can't Read the Drives"}),
                         [](const testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

TEST_F(WindowTest, UnforcedRebuildsWithUnchangedDataKeepThePage) {
    open("lsblk-gui-drives.json");
    GtkWidget* page = current_page(window);
    brevane::refresh_drive_list(state, false);
    brevane::refresh_drive_list(state, false);
    EXPECT_EQ(current_page(window), page);

    brevane::refresh_drive_list(state, true);
    GtkWidget* forced = current_page(window);
    EXPECT_NE(forced, page);

    // Refresh always rebuilds, like any forced call.
    g_signal_emit_by_name(refresh_button(), "clicked");
    EXPECT_NE(current_page(window), forced);
}

TEST_F(WindowTest, VolumeMonitorSignalsRebuildOnlyWhenTheDataChanged) {
    open("lsblk-gui-drives.json");
    GVolumeMonitor* monitor = g_volume_monitor_get();
    GtkWidget* page = current_page(window);
    for (const char* signal : {"drive-connected", "drive-disconnected", "volume-added", "volume-removed",
                               "mount-added", "mount-removed"}) {
        g_signal_emit_by_name(monitor, signal, nullptr);
        EXPECT_EQ(current_page(window), page) << signal;
    }

    // The startup file alone changes: the switch follows.
    fixture->set_automount("");
    g_signal_emit_by_name(monitor, "mount-added", nullptr);
    GtkWidget* rebuilt = current_page(window);
    ASSERT_NE(rebuilt, page);
    auto groups = page_groups(rebuilt);
    ASSERT_FALSE(groups.empty());
    ASSERT_EQ(groups[0].rows.size(), 3u);
    EXPECT_THAT(suffix_summary(groups[0].rows[1]),
                ElementsAre("Windows", "At startup", "switch:off", "Open in Files", "Unmount"));

    // The drive is unplugged: only the system drive is left.
    fixture->set_lsblk(tuvrek::test::read_file(tuvrek::test::fixture_path("lsblk-gui-system-only.json")));
    g_signal_emit_by_name(monitor, "drive-disconnected", nullptr);
    ASSERT_NE(current_page(window), rebuilt);
    auto pages = children(current_page(window));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(ADW_IS_STATUS_PAGE(pages[0]));
    g_object_unref(monitor);
}

TEST_F(WindowTest, ComingToTheFrontRereadsTheDataAndLosingFocusDoesNothing) {
    open("lsblk-gui-drives.json");
    if (!pump_until([&] { return gtk_window_is_active(window); }, std::chrono::seconds(5))) {
        GTEST_SKIP() << "the virtual display never made the window active";
    }
    GtkWidget* page = current_page(window);
    g_object_notify(G_OBJECT(window), "is-active");
    EXPECT_EQ(current_page(window), page) << "unchanged data keeps the page";

    fixture->set_automount("");
    g_object_notify(G_OBJECT(window), "is-active");
    GtkWidget* rebuilt = current_page(window);
    EXPECT_NE(rebuilt, page);

    // A second window takes the focus: the main window turns inactive and rebuilds nothing.
    GtkWidget* other = gtk_window_new();
    gtk_window_present(GTK_WINDOW(other));
    const bool lost_focus = pump_until([&] { return !gtk_window_is_active(window); }, std::chrono::seconds(5));
    if (lost_focus) {
        fixture->set_automount(kStartupOnWin);
        g_object_notify(G_OBJECT(window), "is-active");
        EXPECT_EQ(current_page(window), rebuilt);
    }
    gtk_window_destroy(GTK_WINDOW(other));
    if (!lost_focus) GTEST_SKIP() << "the virtual display never moved the focus";
}

TEST_F(WindowTest, TheFirstPageExistsBeforeTheWindowIsShown) {
    // Record, at the moment any main window maps, whether its page is already there.
    static int mapped_without_page = 0;
    static int mapped = 0;
    mapped_without_page = mapped = 0;
    guint map_signal = g_signal_lookup("map", GTK_TYPE_WIDGET);
    gulong hook = g_signal_add_emission_hook(
        map_signal, 0,
        [](GSignalInvocationHint*, guint, const GValue* values, gpointer) -> gboolean {
            auto* widget = static_cast<GObject*>(g_value_get_object(&values[0]));
            if (ADW_IS_APPLICATION_WINDOW(widget)) {
                ++mapped;
                if (current_page(GTK_WINDOW(widget)) == nullptr) ++mapped_without_page;
            }
            return TRUE;
        },
        nullptr, nullptr);
    open("lsblk-gui-drives.json");
    g_signal_remove_emission_hook(map_signal, hook);
    EXPECT_EQ(mapped, 1);
    EXPECT_EQ(mapped_without_page, 0);
}

TEST_F(WindowTest, ASecondActivationPresentsTheSameWindow) {
    open("lsblk-gui-drives.json");
    AdwApplication* app = application();
    g_application_activate(G_APPLICATION(app));
    pump_for(std::chrono::milliseconds(100));
    GList* windows = gtk_application_get_windows(GTK_APPLICATION(app));
    ASSERT_EQ(g_list_length(windows), 1u);
    EXPECT_EQ(windows->data, window);
}

TEST_F(WindowTest, ASecondLaunchOfTheProgramActivatesThisOne) {
    open("lsblk-gui-drives.json");
    GtkWidget* page = current_page(window);
    int activations = 0;
    gulong id = g_signal_connect(application(), "activate", G_CALLBACK(+[](GApplication*, gpointer count) {
                                     ++*static_cast<int*>(count);
                                 }),
                                 &activations);
    // The launched program finds this process holding the application id on the bus.
    const std::string program = tuvrek::test::gui_binary();
    const char* argv[] = {program.c_str(), nullptr};
    GError* error = nullptr;
    GSubprocess* second = g_subprocess_newv(argv, G_SUBPROCESS_FLAGS_NONE, &error);
    ASSERT_NE(second, nullptr) << error->message;
    bool done = false;
    g_subprocess_wait_async(second, nullptr, [](GObject*, GAsyncResult*, gpointer flag) {
        *static_cast<bool*>(flag) = true;
    }, &done);
    EXPECT_TRUE(pump_until([&] { return done; }, std::chrono::seconds(30)));
    EXPECT_TRUE(g_subprocess_get_if_exited(second));
    EXPECT_EQ(g_subprocess_get_exit_status(second), 0);
    g_object_unref(second);
    g_signal_handler_disconnect(application(), id);

    EXPECT_EQ(activations, 1);
    EXPECT_EQ(g_list_length(gtk_application_get_windows(GTK_APPLICATION(application()))), 1u);
    EXPECT_EQ(gtk_application_get_active_window(GTK_APPLICATION(application())), window);
    EXPECT_EQ(current_page(window), page);
}

// Whether a handler waits on each signal of the objects that may outlive a window: the volume
// monitor's six and the application's "window-removed".
std::vector<bool> lasting_handlers(GVolumeMonitor* monitor) {
    const auto pending = [](gpointer instance, const char* signal) {
        const guint id = g_signal_lookup(signal, G_OBJECT_TYPE(instance));
        return id != 0 && g_signal_has_handler_pending(instance, id, 0, TRUE) != FALSE;
    };
    std::vector<bool> out;
    for (const char* signal : {"drive-connected", "drive-disconnected", "volume-added", "volume-removed",
                               "mount-added", "mount-removed"}) {
        out.push_back(pending(monitor, signal));
    }
    out.push_back(pending(application(), "window-removed"));
    return out;
}

TEST_F(WindowTest, ClosingTheWindowReleasesItsState) {
    // Held here too, the process-wide monitor outlives the window, as it does whenever anything else
    // in the process uses it.
    GVolumeMonitor* monitor = g_volume_monitor_get();
    const std::vector<bool> none(7, false);
    ASSERT_EQ(lasting_handlers(monitor), none) << "handlers before the window opened";
    open("lsblk-gui-drives.json");
    EXPECT_EQ(lasting_handlers(monitor), std::vector<bool>(7, true));

    std::weak_ptr<brevane::WindowState> weak = state;
    state.reset();
    GtkWindow* closing = window;
    window = nullptr;
    close_main_window(closing);
    EXPECT_TRUE(weak.expired());
    // Its handlers are gone from the monitor and the application, and a signal reaches nothing of it.
    EXPECT_EQ(lasting_handlers(monitor), none);
    g_signal_emit_by_name(monitor, "mount-added", nullptr);
    g_object_unref(monitor);
}

}  // namespace
