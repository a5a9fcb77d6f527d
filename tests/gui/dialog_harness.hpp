#pragma once
// A real main window over fixture drives, for the tests of the mount dialog and the row actions.
//
// Every program that would touch the machine is a stand-in first on PATH. pkexec records its
// arguments and runs what it was given (the built tuvrek-disk), so a test sees the exact command
// line and the window's handling of the real reply. mount adds its target to the fixture mount
// table, so the page rebuilt after a mount shows the partition as mounted.

#include <adwaita.h>
#include <gtk/gtk.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "compat.hpp"
#include "compat_inspection.hpp"
#include "gui_support.hpp"
#include "support.hpp"
#include "texts.hpp"
#include "window.hpp"

namespace brevane::test {

namespace fs = std::filesystem;
using Calls = std::vector<std::vector<std::string>>;

using tuvrek::test::fuse_root;
using tuvrek::test::kApfsWrite;
using tuvrek::test::kFileVault;
using tuvrek::test::kOwners;

using namespace std::chrono_literals;
// A run goes through pkexec, tuvrek-disk and its stand-ins: give it time on a loaded machine.
inline constexpr std::chrono::milliseconds kRunTimeout = 60s;

inline std::vector<GtkWidget*> find_all(GtkWidget* root, const std::function<bool(GtkWidget*)>& match) {
    std::vector<GtkWidget*> found;
    for (GtkWidget* w : descendants(root)) {
        if (match(w)) found.push_back(w);
    }
    return found;
}

inline GtkWidget* find_one(GtkWidget* root, const std::function<bool(GtkWidget*)>& match) {
    auto found = find_all(root, match);
    return found.empty() ? nullptr : found.front();
}

inline std::string text_of(const char* text) { return text != nullptr ? text : ""; }

// A row of a preferences group (page row or dialog row) by its title.
inline GtkWidget* find_row(GtkWidget* root, std::string_view title) {
    return find_one(root, [&](GtkWidget* w) {
        return ADW_IS_PREFERENCES_ROW(w) && text_of(adw_preferences_row_get_title(ADW_PREFERENCES_ROW(w))) == title;
    });
}

inline GtkWidget* find_button_by_label(GtkWidget* root, std::string_view label) {
    return find_one(root, [&](GtkWidget* w) {
        return GTK_IS_BUTTON(w) && text_of(gtk_button_get_label(GTK_BUTTON(w))) == label;
    });
}

inline GtkWidget* find_button_by_tooltip(GtkWidget* root, std::string_view tooltip) {
    return find_one(root, [&](GtkWidget* w) {
        return GTK_IS_BUTTON(w) && text_of(gtk_widget_get_tooltip_text(w)) == tooltip;
    });
}

inline GtkWidget* find_label(GtkWidget* root, std::string_view text) {
    return find_one(root, [&](GtkWidget* w) { return GTK_IS_LABEL(w) && text_of(gtk_label_get_label(GTK_LABEL(w))) == text; });
}

inline std::string shell_quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The process environment points every reader at the harness's files. GIO reads the XDG folders
// once per process, so they are fixed at the first window and shared by all tests of the program.
class WindowHarness {
public:
    WindowHarness() : fixture_("lsblk-dialog-drives.json"), stand_(root() / "stand-ins") {
        fs::create_directories(root() / "modules");
        fs::create_directories(sys_module_dir());
        fs::create_directories(root() / "mnt");
        set_lsblk("lsblk-dialog-drives.json");

        stand_.add_script("pkexec", "exec \"$@\"");
        stand_.add_script("mount", "[ \"$1\" = -t ] && printf '900 1 0:99 / %s %s - %s %s rw\\n' \"$6\" \"${4%%,*}\" "
                                   "\"$2\" \"$5\" >> " + shell_quote(mountinfo().string()) + "\nexit 0");
        stand_.add("umount");
        stand_.add("systemctl");
        stand_.add("modprobe");
        stand_.add("modinfo", 1);  // no apfs module unless a test makes one available
        // pacman -Q names the installed packages listed in a file, one per line.
        stand_.add_script("pacman", "[ \"$1\" = -Q ] && cat " + shell_quote((root() / "installed").string()) +
                                        " 2>/dev/null\nexit 0");

        setenv("PATH", stand_.path_env().c_str(), 1);
        setenv("TUVREK_MODULES_DIR", (root() / "modules").c_str(), 1);
        setenv("TUVREK_DISK_SYS_MODULE_DIR", sys_module_dir().c_str(), 1);
        setenv("TUVREK_DISK_FILESYSTEMS", (root() / "filesystems").c_str(), 1);
        setup_desktop_once();
    }

    ~WindowHarness() {
        // Close every window of this test, dialogs included, so the next test starts alone.
        GListModel* toplevels = gtk_window_get_toplevels();
        std::vector<GtkWindow*> windows;
        for (guint i = 0, n = g_list_model_get_n_items(toplevels); i < n; ++i) {
            windows.push_back(GTK_WINDOW(g_list_model_get_item(toplevels, i)));
        }
        std::weak_ptr<WindowState> state = window_ != nullptr ? window_state(window_) : nullptr;
        // Newest first: a dialog goes before the window it stands over.
        std::reverse(windows.begin(), windows.end());
        for (GtkWindow* window : windows) {
            gtk_window_destroy(window);
            g_object_unref(window);
        }
        // Briefly: the state goes with the window's last handler, which the toolkit may keep a while.
        pump_until([&] { return state.expired(); }, 2s);
        // The toolkit had nothing to complain about (a missing GSettings schema, a widget misused).
        EXPECT_TRUE(logged_warnings().empty()) << "logged: " << logged_warnings().front();
        logged_warnings().clear();
    }

    WindowHarness(const WindowHarness&) = delete;
    WindowHarness& operator=(const WindowHarness&) = delete;

    fs::path root() { return fixture_.dir().path(); }
    fs::path mountinfo() { return root() / "mountinfo"; }
    fs::path automount_conf() const { return fixture_.automount_path(); }
    fs::path sys_module_dir() { return root() / "sys-module"; }
    tuvrek::test::StandIns& stand_ins() { return stand_; }

    // The fixture with @ROOT@ replaced by this test's folder.
    void set_lsblk(const std::string& fixture) {
        std::string text = tuvrek::test::read_file(tuvrek::test::fixture_path(fixture));
        for (std::size_t at = text.find("@ROOT@"); at != std::string::npos; at = text.find("@ROOT@", at)) {
            text.replace(at, 6, root().string());
        }
        fixture_.set_lsblk(text);
    }
    void set_installed(const std::vector<std::string>& packages) {
        std::string lines;
        for (const auto& name : packages) lines += name + " 1.0-1\n";
        tuvrek::test::write_file(root() / "installed", lines);
    }
    void make_module_available() { fs::create_directories(sys_module_dir() / "apfs"); }
    void make_fuse_available() { stand_.add("apfs-fuse"); }
    void set_pkexec_exit(int status) { stand_.add("pkexec", status); }
    void use_startup_config(const std::string& fixture) {
        fixture_.set_automount(tuvrek::test::read_file(tuvrek::test::fixture_path(fixture)));
    }

    // pkexec's calls, each without the program path that the runner puts first.
    Calls pkexec_calls() const {
        Calls calls = stand_.calls("pkexec");
        for (auto& call : calls) {
            EXPECT_FALSE(call.empty());
            if (!call.empty()) call.erase(call.begin());
        }
        return calls;
    }
    std::vector<std::string> pkexec_program_paths() const {
        std::vector<std::string> paths;
        for (const auto& call : stand_.calls("pkexec")) paths.push_back(call.empty() ? "" : call.front());
        return paths;
    }

    // Builds the main window as "activate" does and waits until it is on screen.
    GtkWindow* open_window() {
        window_ = open_main_window();
        return window_;
    }
    GtkWindow* window() const { return window_; }
    WindowStateRef state() const { return window_state(window_); }
    GtkWidget* page() const { return current_page(window_); }
    GtkWidget* page_row(std::string_view title) const { return find_row(page(), title); }

    // The topmost dialog or alert over the main window.
    GtkWidget* dialog() const { return visible_dialog(GTK_WIDGET(window_)); }
    GtkWidget* wait_for_dialog(bool alert) const {
        GtkWidget* found = nullptr;
        pump_until([&] {
            found = dialog();
            return found != nullptr && is_alert_dialog(found) == alert;
        });
        return found != nullptr && is_alert_dialog(found) == alert ? found : nullptr;
    }

    // Whether a dialog other than an alert is still open (an error alert may stand over the page).
    bool form_dialog_open() const {
#if BREVANE_REAL_DIALOG
        GtkWidget* top = dialog();
        return top != nullptr && !is_alert_dialog(top);
#else
        bool open = false;
        GListModel* toplevels = gtk_window_get_toplevels();
        for (guint i = 0, n = g_list_model_get_n_items(toplevels); i < n; ++i) {
            auto* widget = static_cast<GtkWidget*>(g_list_model_get_item(toplevels, i));
            open = open || (is_dialog(widget) && !is_alert_dialog(widget) &&
                            gtk_widget_get_visible(widget));
            g_object_unref(widget);
        }
        return open;
#endif
    }

    // Opens the mount dialog from the row's Mount button.
    GtkWidget* open_mount_dialog(std::string_view row_title) {
        GtkWidget* button = find_button_by_label(page_row(row_title), "Mount");
        EXPECT_NE(button, nullptr) << "no Mount button in the row " << row_title;
        if (button == nullptr) return nullptr;
        g_signal_emit_by_name(button, "clicked");
        return wait_for_dialog(false);
    }

    // A toast with this title over the page.
    bool has_toast(std::string_view text) const {
        for (const auto& title : toast_titles(window_)) {
            if (title == text) return true;
        }
        return false;
    }
    bool wait_for_toast(std::string_view text) const {
        return pump_until([&] { return has_toast(text); }, kRunTimeout);
    }
    // Waits until the page is replaced by a new one.
    bool wait_for_rebuild(GtkWidget* old_page) const {
        return pump_until([&] { return page() != old_page; }, kRunTimeout);
    }

    // The folder and the file that the stand-in file manager records launched URIs in.
    static fs::path desktop_dir() { return desktop_root(); }
    static fs::path launched_file() { return desktop_root() / "launched"; }

private:
    static fs::path desktop_root() {
        static const fs::path root = [] {
            char pattern[] = "/tmp/brevane-desktop-XXXXXX";
            const char* made = mkdtemp(pattern);
            return fs::path(made != nullptr ? made : "/tmp");
        }();
        return root;
    }

    // The warnings and criticals logged in this process since the last test ended.
    static std::vector<std::string>& logged_warnings() {
        static std::vector<std::string> logged;
        return logged;
    }

    static GLogWriterOutput record_warnings(GLogLevelFlags level, const GLogField* fields, gsize n_fields,
                                            gpointer) {
        if ((level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL)) != 0) {
            std::string domain;
            std::string message;
            for (gsize i = 0; i < n_fields; ++i) {
                const std::string_view key = fields[i].key;
                const auto* value = static_cast<const char*>(fields[i].value);
                const std::string text = fields[i].length < 0 ? std::string(value)
                                                              : std::string(value, std::size_t(fields[i].length));
                if (key == "GLIB_DOMAIN") domain = text;
                if (key == "MESSAGE") message = text;
            }
            logged_warnings().push_back(domain + ": " + message);
        }
        return g_log_writer_default(level, fields, n_fields, nullptr);
    }

    // The desktop the window meets: a file manager stand-in, the default handler of folders, records
    // the URI it is given (X-GIO-NoFuse makes GIO pass the URI as it came instead of turning it back
    // into a path); no portal stands between the window and the toolkit's own dialogs.
    static void setup_desktop_once() {
        static const bool done = [] {
            // Before the toolkit starts, so that nothing it logs is missed.
            g_log_set_writer_func(record_warnings, nullptr, nullptr);
            const fs::path root = desktop_root();
            fs::create_directories(root / "data" / "applications");
            fs::create_directories(root / "config");
            fs::create_directories(root / "empty");
            const fs::path script = root / "files.sh";
            tuvrek::test::write_file(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " +
                                                 shell_quote(launched_file().string()) + "\n");
            fs::permissions(script, fs::perms::owner_all);
            tuvrek::test::write_file(root / "data" / "applications" / "brevane-test-files.desktop",
                                     "[Desktop Entry]\nType=Application\nName=Files\nExec=" + script.string() +
                                         " %u\nX-GIO-NoFuse=true\nMimeType=inode/directory;\n");
            tuvrek::test::write_file(root / "config" / "mimeapps.list",
                                     "[Default Applications]\ninode/directory=brevane-test-files.desktop\n");
            setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
            // The system's data stays reachable: the GSettings schemas that libadwaita and the file
            // chooser read live there. The folder handler named in XDG_CONFIG_HOME wins over its defaults.
            setenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share", 1);
            setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
            setenv("XDG_CONFIG_DIRS", (root / "empty").c_str(), 1);
            // The folder chooser must be a window of this process, which a test can answer, never a
            // portal's: GTK 4.8 uses one only in a sandbox or when GTK_USE_PORTAL asks for it, and
            // from 4.18 portals can be turned off.
            unsetenv("GTK_USE_PORTAL");
#if GTK_CHECK_VERSION(4, 18, 0)
            gtk_disable_portals();
#endif
            return true;
        }();
        (void)done;
    }

    Fixture fixture_;
    tuvrek::test::StandIns stand_;
    GtkWindow* window_ = nullptr;
};

// Dialog widgets by their titles.
struct DialogForm {
    GtkWidget* dialog = nullptr;
    GtkWidget* folder = nullptr;
    GtkWidget* read_write = nullptr;
    GtkWidget* volume = nullptr;
    GtkWidget* startup = nullptr;
    GtkWidget* action = nullptr;
    GtkWidget* warning_label = nullptr;
    GtkWidget* error_label = nullptr;

    explicit DialogForm(GtkWidget* d) : dialog(d) {
        folder = find_row(d, "Folder");
        read_write = find_row(d, "Read and Write");
        volume = find_row(d, "APFS Volume");
        startup = find_row(d, "Also Mount at Startup");
        action = find_one(d, [](GtkWidget* w) {
            const std::string label = GTK_IS_BUTTON(w) ? text_of(gtk_button_get_label(GTK_BUTTON(w))) : "";
            return label == "Mount" || label == "Save";
        });
        // Beside the form's group stand two labels: the plan's warnings, then the error.
        GtkWidget* group = find_one(d, [](GtkWidget* w) { return ADW_IS_PREFERENCES_GROUP(w); });
        std::vector<GtkWidget*> labels;
        for (GtkWidget* w : group != nullptr ? children(gtk_widget_get_parent(group)) : std::vector<GtkWidget*>{}) {
            if (GTK_IS_LABEL(w)) labels.push_back(w);
        }
        if (labels.size() == 2) {
            warning_label = labels[0];
            error_label = labels[1];
        }
    }
    bool complete() const {
        return folder && read_write && volume && startup && action && warning_label && error_label;
    }
    void set_folder(const std::string& text) const { gtk_editable_set_text(GTK_EDITABLE(folder), text.c_str()); }
    std::string folder_text() const { return gtk_editable_get_text(GTK_EDITABLE(folder)); }
    void press() const { g_signal_emit_by_name(action, "clicked"); }
    std::string warnings() const { return text_of(gtk_label_get_label(GTK_LABEL(warning_label))); }
    bool warnings_visible() const { return gtk_widget_get_visible(warning_label); }
    std::string error() const { return text_of(gtk_label_get_label(GTK_LABEL(error_label))); }
    bool error_visible() const { return gtk_widget_get_visible(error_label); }
};

}  // namespace brevane::test
