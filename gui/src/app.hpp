#pragma once
// The window program's shared state and the seams between its files.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tuvrek/drives.hpp"

namespace brevane {

// Created once per main window; handlers hold it by shared (strong) or weak reference.
struct WindowState {
    AdwApplicationWindow* window = nullptr;  // held reference
    AdwToastOverlay* toast_overlay = nullptr;
    AdwClamp* clamp = nullptr;
    GVolumeMonitor* volume_monitor = nullptr;  // held reference
    std::string page_fingerprint;
    ~WindowState();
};
using WindowStateRef = std::shared_ptr<WindowState>;

// page.cpp
void refresh_drive_list(const WindowStateRef& state, bool force);

// privileged.cpp
struct CliResult {
    bool ok = false;
    std::string text;
    bool operator==(const CliResult&) const = default;
};
using ResultCallback = std::shared_ptr<std::function<void(const CliResult&)>>;
std::string cli_path();
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

}  // namespace brevane
