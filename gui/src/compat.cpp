#include "compat.hpp"

#include <memory>
#include <utility>
#include <vector>

#include "owned.hpp"

namespace compat {
namespace {

using Handler = std::function<void()>;
using ResponseHandler = std::function<void(const char*)>;

using brevane::connect_owned;

void run_notify_handler(GObject*, GParamSpec*, gpointer data) { (*static_cast<Handler*>(data))(); }
[[maybe_unused]] void run_plain_handler(GObject*, gpointer data) { (*static_cast<Handler*>(data))(); }
void run_response_handler(GObject*, const char* id, gpointer data) { (*static_cast<ResponseHandler*>(data))(id); }

#if !BREVANE_REAL_TOOLBAR_VIEW
constexpr const char* kContentKey = "brevane-compat-content";
constexpr const char* kLastTopBarKey = "brevane-compat-last-top-bar";
#endif
#if !BREVANE_REAL_SWITCH_ROW
constexpr const char* kSwitchKey = "brevane-compat-switch";
GtkSwitch* row_switch(GtkWidget* row) { return GTK_SWITCH(g_object_get_data(G_OBJECT(row), kSwitchKey)); }
#endif
#if !BREVANE_REAL_SPIN_ROW
constexpr const char* kSpinKey = "brevane-compat-spin";
GtkSpinButton* row_spin(GtkWidget* row) { return GTK_SPIN_BUTTON(g_object_get_data(G_OBJECT(row), kSpinKey)); }
#endif
#if !BREVANE_REAL_DIALOG
constexpr const char* kClosedHandlersKey = "brevane-compat-closed-handlers";

// AdwDialog's "closed" comes once; close-request on the stand-in window plays it.
struct ClosedHandlers {
    bool fired = false;
    std::vector<Handler> handlers;
};

ClosedHandlers* closed_handlers(GtkWidget* dialog) {
    return brevane::owned_data<ClosedHandlers>(dialog, kClosedHandlersKey);
}

gboolean on_standin_close_request(GtkWindow* window, gpointer) {
    ClosedHandlers* closed = closed_handlers(GTK_WIDGET(window));
    if (closed != nullptr && !closed->fired) {
        closed->fired = true;
        // A handler may add another one; run over a copy.
        std::vector<Handler> handlers = closed->handlers;
        for (auto& handler : handlers) handler();
    }
    return FALSE;  // let the window close
}
#endif
#if !BREVANE_REAL_DIALOG || !BREVANE_REAL_ALERT_DIALOG
GtkWindow* parent_window(GtkWidget* parent) {
    if (parent == nullptr) return nullptr;
    GtkRoot* root = gtk_widget_get_root(parent);
    return root != nullptr && GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

void present_standin(GtkWidget* dialog, GtkWidget* parent) {
    gtk_window_set_transient_for(GTK_WINDOW(dialog), parent_window(parent));
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_present(GTK_WINDOW(dialog));
}
#endif

}  // namespace

// --- AdwToolbarView ---

#if BREVANE_REAL_TOOLBAR_VIEW
GtkWidget* toolbar_view_new() { return adw_toolbar_view_new(); }
void toolbar_view_add_top_bar(GtkWidget* view, GtkWidget* bar) {
    adw_toolbar_view_add_top_bar(ADW_TOOLBAR_VIEW(view), bar);
}
void toolbar_view_set_content(GtkWidget* view, GtkWidget* content) {
    adw_toolbar_view_set_content(ADW_TOOLBAR_VIEW(view), content);
}
#else
GtkWidget* toolbar_view_new() { return gtk_box_new(GTK_ORIENTATION_VERTICAL, 0); }

void toolbar_view_add_top_bar(GtkWidget* view, GtkWidget* bar) {
    // Top bars stay above the content in the order they were added.
    auto* last = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(view), kLastTopBarKey));
    gtk_box_insert_child_after(GTK_BOX(view), bar, last);
    g_object_set_data(G_OBJECT(view), kLastTopBarKey, bar);
}

void toolbar_view_set_content(GtkWidget* view, GtkWidget* content) {
    auto* old = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(view), kContentKey));
    if (old != nullptr) gtk_box_remove(GTK_BOX(view), old);
    g_object_set_data(G_OBJECT(view), kContentKey, content);
    if (content == nullptr) return;
    // The content takes the space the bars leave, as in the real view.
    gtk_widget_set_vexpand(content, TRUE);
    gtk_box_append(GTK_BOX(view), content);
}
#endif

// --- AdwSwitchRow ---

#if BREVANE_REAL_SWITCH_ROW
GtkWidget* switch_row_new() { return adw_switch_row_new(); }
bool switch_row_get_active(GtkWidget* row) { return adw_switch_row_get_active(ADW_SWITCH_ROW(row)); }
void switch_row_set_active(GtkWidget* row, bool active) { adw_switch_row_set_active(ADW_SWITCH_ROW(row), active); }
void switch_row_on_active_changed(GtkWidget* row, std::function<void()> handler) {
    connect_owned(row, "notify::active", G_CALLBACK(run_notify_handler), Handler(std::move(handler)));
}
#else
GtkWidget* switch_row_new() {
    GtkWidget* row = adw_action_row_new();
    GtkWidget* sw = gtk_switch_new();
    gtk_widget_set_valign(sw, GTK_ALIGN_CENTER);
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), sw);
    // Clicking anywhere on the row flips the switch.
    adw_action_row_set_activatable_widget(ADW_ACTION_ROW(row), sw);
    g_object_set_data(G_OBJECT(row), kSwitchKey, sw);
    return row;
}
bool switch_row_get_active(GtkWidget* row) { return gtk_switch_get_active(row_switch(row)); }
void switch_row_set_active(GtkWidget* row, bool active) { gtk_switch_set_active(row_switch(row), active); }
void switch_row_on_active_changed(GtkWidget* row, std::function<void()> handler) {
    connect_owned(row_switch(row), "notify::active", G_CALLBACK(run_notify_handler), Handler(std::move(handler)));
}
#endif

// --- AdwSpinRow ---

#if BREVANE_REAL_SPIN_ROW
GtkWidget* spin_row_new_with_range(double min, double max, double step) {
    return adw_spin_row_new_with_range(min, max, step);
}
double spin_row_get_value(GtkWidget* row) { return adw_spin_row_get_value(ADW_SPIN_ROW(row)); }
void spin_row_set_value(GtkWidget* row, double value) { adw_spin_row_set_value(ADW_SPIN_ROW(row), value); }
#else
GtkWidget* spin_row_new_with_range(double min, double max, double step) {
    GtkWidget* row = adw_action_row_new();
    GtkWidget* spin = gtk_spin_button_new_with_range(min, max, step);
    gtk_widget_set_valign(spin, GTK_ALIGN_CENTER);
    adw_action_row_add_suffix(ADW_ACTION_ROW(row), spin);
    g_object_set_data(G_OBJECT(row), kSpinKey, spin);
    return row;
}
double spin_row_get_value(GtkWidget* row) { return gtk_spin_button_get_value(row_spin(row)); }
void spin_row_set_value(GtkWidget* row, double value) { gtk_spin_button_set_value(row_spin(row), value); }
#endif

// --- AdwDialog ---

#if BREVANE_REAL_DIALOG
GtkWidget* dialog_new() { return GTK_WIDGET(adw_dialog_new()); }
void dialog_set_title(GtkWidget* dialog, const char* title) { adw_dialog_set_title(ADW_DIALOG(dialog), title); }
void dialog_set_content_width(GtkWidget* dialog, int width) {
    adw_dialog_set_content_width(ADW_DIALOG(dialog), width);
}
void dialog_set_child(GtkWidget* dialog, GtkWidget* child) { adw_dialog_set_child(ADW_DIALOG(dialog), child); }
void dialog_present(GtkWidget* dialog, GtkWidget* parent) { adw_dialog_present(ADW_DIALOG(dialog), parent); }
void dialog_close(GtkWidget* dialog) { adw_dialog_close(ADW_DIALOG(dialog)); }
void dialog_on_closed(GtkWidget* dialog, std::function<void()> handler) {
    connect_owned(dialog, "closed", G_CALLBACK(run_plain_handler), Handler(std::move(handler)));
}
#else
GtkWidget* dialog_new() {
    GtkWidget* window = adw_window_new();
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(window), TRUE);
    brevane::set_owned_data(window, kClosedHandlersKey, ClosedHandlers{});
    g_signal_connect(window, "close-request", G_CALLBACK(on_standin_close_request), nullptr);
    // Escape closes the dialog, as it does the real one.
    GtkEventController* keys = gtk_shortcut_controller_new();
    gtk_shortcut_controller_add_shortcut(GTK_SHORTCUT_CONTROLLER(keys),
                                         gtk_shortcut_new(gtk_keyval_trigger_new(GDK_KEY_Escape, GdkModifierType(0)),
                                                          gtk_named_action_new("window.close")));
    gtk_widget_add_controller(window, keys);
    return window;
}
void dialog_set_title(GtkWidget* dialog, const char* title) { gtk_window_set_title(GTK_WINDOW(dialog), title); }
// The stand-in window is as wide as the real dialog's content.
void dialog_set_content_width(GtkWidget* dialog, int width) {
    gtk_window_set_default_size(GTK_WINDOW(dialog), width, -1);
}
void dialog_set_child(GtkWidget* dialog, GtkWidget* child) { adw_window_set_content(ADW_WINDOW(dialog), child); }
void dialog_present(GtkWidget* dialog, GtkWidget* parent) { present_standin(dialog, parent); }
void dialog_close(GtkWidget* dialog) { gtk_window_close(GTK_WINDOW(dialog)); }
void dialog_on_closed(GtkWidget* dialog, std::function<void()> handler) {
    closed_handlers(dialog)->handlers.push_back(std::move(handler));
}
#endif

// --- AdwAlertDialog ---

#if BREVANE_REAL_ALERT_DIALOG
namespace {
AdwAlertDialog* alert_of(GtkWidget* alert) { return ADW_ALERT_DIALOG(alert); }
}  // namespace
GtkWidget* alert_dialog_new(const char* heading, const char* body) {
    return GTK_WIDGET(adw_alert_dialog_new(heading, body));
}
void alert_dialog_add_response(GtkWidget* alert, const char* id, const char* label) {
    adw_alert_dialog_add_response(alert_of(alert), id, label);
}
void alert_dialog_set_response_appearance(GtkWidget* alert, const char* id, AdwResponseAppearance appearance) {
    adw_alert_dialog_set_response_appearance(alert_of(alert), id, appearance);
}
void alert_dialog_set_default_response(GtkWidget* alert, const char* id) {
    adw_alert_dialog_set_default_response(alert_of(alert), id);
}
void alert_dialog_set_close_response(GtkWidget* alert, const char* id) {
    adw_alert_dialog_set_close_response(alert_of(alert), id);
}
void alert_dialog_present(GtkWidget* alert, GtkWidget* parent) { adw_dialog_present(ADW_DIALOG(alert), parent); }
#else
namespace {
AdwMessageDialog* alert_of(GtkWidget* alert) { return ADW_MESSAGE_DIALOG(alert); }
}  // namespace
GtkWidget* alert_dialog_new(const char* heading, const char* body) {
    GtkWidget* alert = adw_message_dialog_new(nullptr, heading, body);
    // The real alert lives inside its window and goes with it.
    gtk_window_set_destroy_with_parent(GTK_WINDOW(alert), TRUE);
    return alert;
}
void alert_dialog_add_response(GtkWidget* alert, const char* id, const char* label) {
    adw_message_dialog_add_response(alert_of(alert), id, label);
}
void alert_dialog_set_response_appearance(GtkWidget* alert, const char* id, AdwResponseAppearance appearance) {
    adw_message_dialog_set_response_appearance(alert_of(alert), id, appearance);
}
void alert_dialog_set_default_response(GtkWidget* alert, const char* id) {
    adw_message_dialog_set_default_response(alert_of(alert), id);
}
void alert_dialog_set_close_response(GtkWidget* alert, const char* id) {
    adw_message_dialog_set_close_response(alert_of(alert), id);
}
void alert_dialog_present(GtkWidget* alert, GtkWidget* parent) { present_standin(alert, parent); }
#endif

void alert_dialog_on_response(GtkWidget* alert, const char* only_id, std::function<void(const char* id)> handler) {
    g_autofree char* signal = only_id != nullptr ? g_strdup_printf("response::%s", only_id) : g_strdup("response");
    connect_owned(alert, signal, G_CALLBACK(run_response_handler), ResponseHandler(std::move(handler)));
}

// --- Folder selection ---

#if BREVANE_REAL_FILE_DIALOG
void choose_folder(GtkWindow* parent, const char* title, GFile* initial_folder, FolderCallback callback) {
    GtkFileDialog* dialog = gtk_file_dialog_new();
    gtk_file_dialog_set_title(dialog, title);
    gtk_file_dialog_set_initial_folder(dialog, initial_folder);
    gtk_file_dialog_select_folder(
        dialog, parent, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<FolderCallback> callback = brevane::take_from_callback<FolderCallback>(data);
            GError* error = nullptr;
            GFile* folder = gtk_file_dialog_select_folder_finish(GTK_FILE_DIALOG(source), result, &error);
            g_clear_error(&error);
            (*callback)(folder);
            g_clear_object(&folder);
            g_object_unref(source);
        },
        brevane::give_to_callback(std::make_unique<FolderCallback>(std::move(callback))));
}
#else
void choose_folder(GtkWindow* parent, const char* title, GFile* initial_folder, FolderCallback callback) {
    GtkFileChooserNative* chooser =
        gtk_file_chooser_native_new(title, parent, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    if (initial_folder != nullptr) {
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), initial_folder, nullptr);
    }
    // The chooser's own reference is given up in the response handler, which comes exactly once.
    connect_owned(chooser, "response",
                  G_CALLBACK(+[](GtkNativeDialog* native, int response, gpointer data) {
                      auto& callback = *static_cast<FolderCallback*>(data);
                      GFile* folder = response == GTK_RESPONSE_ACCEPT
                                          ? gtk_file_chooser_get_file(GTK_FILE_CHOOSER(native))
                                          : nullptr;
                      FolderCallback once = std::move(callback);
                      callback = nullptr;
                      if (once) once(folder);
                      g_clear_object(&folder);
                      g_object_unref(native);
                  }),
                  FolderCallback(std::move(callback)));
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}
#endif

}  // namespace compat
