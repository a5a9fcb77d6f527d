#pragma once
// The window program's shared state and the seams between its files.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tuvrek/config.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/result.hpp"

namespace brevane {

// Created once per main window; handlers hold it by shared (strong) or weak reference.
struct WindowState {
    AdwApplicationWindow* window = nullptr;  // held reference, given up when the window is closed
    // Borrowed from the window's tree; cleared when the tree goes, so late callbacks find them null.
    AdwToastOverlay* toast_overlay = nullptr;
    AdwClamp* clamp = nullptr;
    GVolumeMonitor* volume_monitor = nullptr;  // held reference
    std::string page_fingerprint;
    ~WindowState();
};
using WindowStateRef = std::shared_ptr<WindowState>;

// page.cpp
void refresh_drive_list(const WindowStateRef& state, bool force);
using DriveListing = tuvrek::Result<std::vector<tuvrek::Drive>, std::string>;
// Every field of the listing result and of the entries in one text: equal data, equal text.
std::string page_fingerprint(const DriveListing& listing, const std::vector<tuvrek::Entry>& entries);

// privileged.cpp
struct CliResult {
    bool ok = false;
    std::string text;
    bool operator==(const CliResult&) const = default;
};
using ResultCallback = std::shared_ptr<std::function<void(const CliResult&)>>;
std::string cli_path();
// The lookup behind cli_path, for a given path of the running executable.
std::string cli_path_beside(std::string_view executable);
CliResult parse_cli_reply(std::string_view out, std::string_view err, int status);
void run_cli_privileged(std::vector<std::string> args, ResultCallback on_result);
void run_cli_privileged(const WindowStateRef& state, std::vector<std::string> args);
void show_toast(const WindowStateRef& state, std::string_view text);
void show_cli_result(const WindowStateRef& state, const CliResult& result);

// mount_dialog.cpp
enum class DialogMode { Mount, Startup };
using DismissCallback = std::shared_ptr<std::function<void()>>;
void show_mount_dialog(GtkWindow* parent, const tuvrek::Partition& partition, DialogMode mode,
                       ResultCallback on_result, DismissCallback on_dismissed);

// row_actions.cpp: the page connects each row's controls through these.
void connect_startup_switch(GtkSwitch* sw, const WindowStateRef& state, const tuvrek::Partition& partition,
                            std::optional<std::string> entry_target);
void connect_mount_button(GtkButton* button, const WindowStateRef& state, const tuvrek::Partition& partition);
void connect_open_in_files(GtkButton* button, const WindowStateRef& state, std::string mount_point);
void connect_unmount_button(GtkButton* button, const WindowStateRef& state, std::string mount_point);

// main.cpp / window.cpp
void build_main_window(AdwApplication* app);
// The state of a main window built by build_main_window, or null once it is gone.
WindowStateRef window_state(GtkWindow* window);

// A forced rebuild that holds a strong reference to the state: call it any number of times, or
// call_once, which gives the reference up afterwards.
class RefreshCallback {
public:
    explicit RefreshCallback(WindowStateRef state) : state_(std::move(state)) {}
    void operator()() const;
    void call_once();

private:
    WindowStateRef state_;
};
// The shared form handed to the mount dialog as its on-dismissed action.
DismissCallback refresh_callback(const WindowStateRef& state);

}  // namespace brevane
