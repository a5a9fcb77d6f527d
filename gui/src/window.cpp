// The main window: its fixed widget tree, its shared state and the signals that rebuild the page.
#include "window.hpp"

#include <memory>
#include <vector>

#include "compat.hpp"
#include "owned.hpp"
#include "page.hpp"

namespace brevane {
namespace {

constexpr const char* kStateKey = "brevane-window-state";

using StrongRef = WindowStateRef;
using WeakRef = std::weak_ptr<WindowState>;

void refresh_button_clicked(GtkButton*, gpointer data) {
    refresh_drive_list(*static_cast<StrongRef*>(data), true);
}

// Bursts of these come when a drive is plugged in; the fingerprint absorbs them.
void on_volume_monitor_changed(GVolumeMonitor*, GObject*, gpointer data) {
    if (StrongRef state = static_cast<WeakRef*>(data)->lock()) refresh_drive_list(state, false);
}

void on_window_active_changed(GtkWindow* window, GParamSpec*, gpointer data) {
    if (!gtk_window_is_active(window)) return;
    if (StrongRef state = static_cast<WeakRef*>(data)->lock()) refresh_drive_list(state, false);
}

gulong connect_weak(gpointer instance, const char* signal, GCallback handler, const StrongRef& state) {
    return connect_owned(instance, signal, handler, WeakRef(state));
}

// What goes when the window leaves the application. The window holds the tree, the tree's handlers
// hold the state, and the state holds the window: dropping the state's reference releases the whole
// ring. The application and the volume monitor outlive every window, so the window's handlers on
// them are taken off rather than left behind.
struct Teardown {
    WeakRef state;
    GtkWindow* window = nullptr;  // borrowed: only compared
    ObjectRef<GVolumeMonitor> monitor;
    std::vector<gulong> monitor_handlers;
};

void on_window_removed(GtkApplication* app, GtkWindow* window, gpointer data) {
    auto& teardown = *static_cast<Teardown*>(data);
    if (window != teardown.window) return;
    for (gulong id : teardown.monitor_handlers) g_signal_handler_disconnect(teardown.monitor.get(), id);
    teardown.monitor_handlers.clear();
    if (StrongRef state = teardown.state.lock()) g_clear_object(&state->window);
    // Frees the teardown once this call returns.
    g_signal_handlers_disconnect_by_func(app, reinterpret_cast<gpointer>(on_window_removed), data);
}

}  // namespace

WindowStateRef window_state(GtkWindow* window) {
    auto* weak = owned_data<WeakRef>(window, kStateKey);
    return weak != nullptr ? weak->lock() : nullptr;
}

void RefreshCallback::operator()() const {
    if (state_) refresh_drive_list(state_, true);
}

DismissCallback refresh_callback(const WindowStateRef& state) {
    return std::make_shared<std::function<void()>>(
        [callback = RefreshCallback(state)] { callback(); });
}

void build_main_window(AdwApplication* app) {
    // A further launch only brings the existing window forward.
    if (GtkWindow* active = gtk_application_get_active_window(GTK_APPLICATION(app))) {
        gtk_window_present(active);
        return;
    }

    GtkWidget* refresh = gtk_button_new_from_icon_name("view-refresh-symbolic");
    gtk_widget_set_tooltip_text(refresh, "Refresh");

    GtkWidget* header = adw_header_bar_new();
    adw_header_bar_pack_start(ADW_HEADER_BAR(header), refresh);

    GtkWidget* clamp = adw_clamp_new();
    adw_clamp_set_maximum_size(ADW_CLAMP(clamp), 820);
    gtk_widget_set_margin_top(clamp, 12);
    gtk_widget_set_margin_bottom(clamp, 24);
    gtk_widget_set_margin_start(clamp, 12);
    gtk_widget_set_margin_end(clamp, 12);

    GtkWidget* scrolled = gtk_scrolled_window_new();
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_widget_set_vexpand(scrolled, TRUE);
    gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scrolled), clamp);

    GtkWidget* overlay = adw_toast_overlay_new();
    adw_toast_overlay_set_child(ADW_TOAST_OVERLAY(overlay), scrolled);

    GtkWidget* toolbar = compat::toolbar_view_new();
    compat::toolbar_view_add_top_bar(toolbar, header);
    compat::toolbar_view_set_content(toolbar, overlay);

    GtkWidget* window = GTK_WIDGET(g_object_new(ADW_TYPE_APPLICATION_WINDOW,
                                                "application", app,
                                                "title", "Brevane",
                                                "icon-name", "org.tuvrek.Brevane",
                                                "default-width", 780,
                                                "default-height", 620,
                                                "content", toolbar,
                                                nullptr));

    auto state = std::make_shared<WindowState>();
    state->window = ADW_APPLICATION_WINDOW(g_object_ref(window));
    state->toast_overlay = ADW_TOAST_OVERLAY(overlay);
    state->clamp = ADW_CLAMP(clamp);
    state->volume_monitor = g_volume_monitor_get();
    // A run that ends after the window is gone finds these cleared instead of dangling.
    g_object_add_weak_pointer(G_OBJECT(clamp), reinterpret_cast<gpointer*>(&state->clamp));
    g_object_add_weak_pointer(G_OBJECT(overlay), reinterpret_cast<gpointer*>(&state->toast_overlay));
    set_owned_data(window, kStateKey, WeakRef(state));

    // The first page exists before the window is first shown.
    refresh_drive_list(state, true);

    connect_owned(refresh, "clicked", G_CALLBACK(refresh_button_clicked), StrongRef(state));
    Teardown teardown{state, GTK_WINDOW(window), ObjectRef<GVolumeMonitor>(state->volume_monitor), {}};
    for (const char* signal : {"drive-connected", "drive-disconnected", "volume-added", "volume-removed",
                               "mount-added", "mount-removed"}) {
        teardown.monitor_handlers.push_back(
            connect_weak(state->volume_monitor, signal, G_CALLBACK(on_volume_monitor_changed), state));
    }
    connect_weak(window, "notify::is-active", G_CALLBACK(on_window_active_changed), state);
    connect_owned(app, "window-removed", G_CALLBACK(on_window_removed), std::move(teardown));

    gtk_window_present(GTK_WINDOW(window));
}

}  // namespace brevane
