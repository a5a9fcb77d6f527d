// What the controls of a partition row do: open the mount dialog, or run one command through pkexec.
#include "row_actions.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "mount_dialog.hpp"
#include "owned.hpp"
#include "privileged.hpp"
#include "window.hpp"

namespace brevane {
namespace {

// Each handler's data belongs to its signal connection and goes when the row's page is replaced.
struct SwitchData {
    WindowStateRef state;
    tuvrek::Partition partition;
    std::optional<std::string> entry_target;
};

struct PartitionData {
    WindowStateRef state;
    tuvrek::Partition partition;
};

struct FolderData {
    WindowStateRef state;
    std::string mount_point;
};

// Shows the run's result; its reference to the window state goes once it has been used.
ResultCallback report_callback(const WindowStateRef& state) {
    auto held = std::make_shared<WindowStateRef>(state);
    return std::make_shared<std::function<void(const CliResult&)>>([held](const CliResult& result) {
        WindowStateRef state = std::move(*held);
        if (state) show_cli_result(state, result);
    });
}

// The dialog reports its run through report_callback, and a dismissal rebuilds the page, forced, so a
// switch the user flipped shows the stored truth again.
void open_dialog(const WindowStateRef& state, const tuvrek::Partition& partition, DialogMode mode) {
    show_mount_dialog(GTK_WINDOW(state->window), partition, mode, report_callback(state), refresh_callback(state));
}

// TRUE on every path: the switch's state is never committed here; the rebuild that follows shows it.
gboolean on_startup_switch_toggled(GtkSwitch*, gboolean active, gpointer data) {
    const auto& owned = *static_cast<SwitchData*>(data);
    if (active) {
        open_dialog(owned.state, owned.partition, DialogMode::Startup);
    } else if (owned.entry_target) {
        run_cli_privileged(owned.state, {"automount", "remove", *owned.entry_target});
    }
    return TRUE;
}

void on_mount_clicked(GtkButton*, gpointer data) {
    const auto& owned = *static_cast<PartitionData*>(data);
    open_dialog(owned.state, owned.partition, DialogMode::Mount);
}

void open_in_files(GtkButton*, gpointer data) {
    const auto& owned = *static_cast<FolderData*>(data);
    g_autofree char* uri = g_filename_to_uri(owned.mount_point.c_str(), nullptr, nullptr);
    g_autoptr(GError) error = nullptr;
    if (!g_app_info_launch_default_for_uri(uri != nullptr ? uri : "", nullptr, &error)) {
        show_toast(owned.state, error != nullptr ? error->message : "");
    }
}

void on_unmount_clicked(GtkButton* button, gpointer data) {
    const auto& owned = *static_cast<FolderData*>(data);
    // No second click while the child runs; the rebuild after it brings a fresh button.
    gtk_widget_set_sensitive(GTK_WIDGET(button), FALSE);
    run_cli_privileged(owned.state, {"unmount", owned.mount_point});
}

}  // namespace

void connect_startup_switch(GtkSwitch* sw, const WindowStateRef& state, const tuvrek::Partition& partition,
                            std::optional<std::string> entry_target) {
    connect_owned(sw, "state-set", G_CALLBACK(on_startup_switch_toggled),
                  SwitchData{state, partition, std::move(entry_target)});
}

void connect_mount_button(GtkButton* button, const WindowStateRef& state, const tuvrek::Partition& partition) {
    connect_owned(button, "clicked", G_CALLBACK(on_mount_clicked), PartitionData{state, partition});
}

void connect_open_in_files(GtkButton* button, const WindowStateRef& state, std::string mount_point) {
    connect_owned(button, "clicked", G_CALLBACK(open_in_files), FolderData{state, std::move(mount_point)});
}

void connect_unmount_button(GtkButton* button, const WindowStateRef& state, std::string mount_point) {
    connect_owned(button, "clicked", G_CALLBACK(on_unmount_clicked), FolderData{state, std::move(mount_point)});
}

}  // namespace brevane
