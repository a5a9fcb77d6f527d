#include "compat_inspection.hpp"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "gui_support.hpp"

namespace brevane::test {
namespace {

// The window of a widget, when it is one.
[[maybe_unused]] GtkWindow* window_of(GtkWidget* widget) {
    GtkRoot* root = widget != nullptr ? gtk_widget_get_root(widget) : nullptr;
    return root != nullptr && GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

// Toplevels in the order they were created.
template <typename F>
void for_each_toplevel(F&& visit) {
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0, n = g_list_model_get_n_items(toplevels); i < n; ++i) {
        auto* widget = static_cast<GtkWidget*>(g_list_model_get_item(toplevels, i));
        visit(widget);
        g_object_unref(widget);
    }
}

}  // namespace

#if BREVANE_REAL_TOOLBAR_VIEW
GtkWidget* toolbar_view_get_content(GtkWidget* view) { return adw_toolbar_view_get_content(ADW_TOOLBAR_VIEW(view)); }
#else
// The stand-in box holds its top bars first and the content last.
GtkWidget* toolbar_view_get_content(GtkWidget* view) { return gtk_widget_get_last_child(view); }
#endif

#if BREVANE_REAL_DIALOG
const char* dialog_get_title(GtkWidget* dialog) { return adw_dialog_get_title(ADW_DIALOG(dialog)); }
int dialog_get_content_width(GtkWidget* dialog) { return adw_dialog_get_content_width(ADW_DIALOG(dialog)); }
#else
const char* dialog_get_title(GtkWidget* dialog) { return gtk_window_get_title(GTK_WINDOW(dialog)); }
int dialog_get_content_width(GtkWidget* dialog) {
    int width = 0;
    int height = 0;
    gtk_window_get_default_size(GTK_WINDOW(dialog), &width, &height);
    return width;
}
#endif

#if BREVANE_REAL_ALERT_DIALOG
namespace {
AdwAlertDialog* alert_of(GtkWidget* alert) { return ADW_ALERT_DIALOG(alert); }
}  // namespace
const char* alert_dialog_get_heading(GtkWidget* alert) { return adw_alert_dialog_get_heading(alert_of(alert)); }
const char* alert_dialog_get_body(GtkWidget* alert) { return adw_alert_dialog_get_body(alert_of(alert)); }
bool alert_dialog_has_response(GtkWidget* alert, const char* id) {
    return adw_alert_dialog_has_response(alert_of(alert), id);
}
const char* alert_dialog_get_response_label(GtkWidget* alert, const char* id) {
    return adw_alert_dialog_get_response_label(alert_of(alert), id);
}
AdwResponseAppearance alert_dialog_get_response_appearance(GtkWidget* alert, const char* id) {
    return adw_alert_dialog_get_response_appearance(alert_of(alert), id);
}
const char* alert_dialog_get_default_response(GtkWidget* alert) {
    return adw_alert_dialog_get_default_response(alert_of(alert));
}
const char* alert_dialog_get_close_response(GtkWidget* alert) {
    return adw_alert_dialog_get_close_response(alert_of(alert));
}
void alert_dialog_choose_response(GtkWidget* alert, const char* id) {
    // What a click on the response button does: the detailed "response", then the alert closes.
    g_object_ref(alert);
    g_autofree char* detailed = g_strdup_printf("response::%s", id);
    g_signal_emit_by_name(alert, detailed, id);
    adw_dialog_force_close(ADW_DIALOG(alert));
    g_object_unref(alert);
}
bool is_alert_dialog(GtkWidget* widget) { return widget != nullptr && ADW_IS_ALERT_DIALOG(widget); }
#else
namespace {
AdwMessageDialog* alert_of(GtkWidget* alert) { return ADW_MESSAGE_DIALOG(alert); }
}  // namespace
const char* alert_dialog_get_heading(GtkWidget* alert) { return adw_message_dialog_get_heading(alert_of(alert)); }
const char* alert_dialog_get_body(GtkWidget* alert) { return adw_message_dialog_get_body(alert_of(alert)); }
bool alert_dialog_has_response(GtkWidget* alert, const char* id) {
    return adw_message_dialog_has_response(alert_of(alert), id);
}
const char* alert_dialog_get_response_label(GtkWidget* alert, const char* id) {
    return adw_message_dialog_get_response_label(alert_of(alert), id);
}
AdwResponseAppearance alert_dialog_get_response_appearance(GtkWidget* alert, const char* id) {
    return adw_message_dialog_get_response_appearance(alert_of(alert), id);
}
const char* alert_dialog_get_default_response(GtkWidget* alert) {
    return adw_message_dialog_get_default_response(alert_of(alert));
}
const char* alert_dialog_get_close_response(GtkWidget* alert) {
    return adw_message_dialog_get_close_response(alert_of(alert));
}
void alert_dialog_choose_response(GtkWidget* alert, const char* id) {
    // adw_message_dialog_response emits the detailed "response"; the button click also closes it.
    g_object_ref(alert);
    adw_message_dialog_response(alert_of(alert), id);
    gtk_window_close(GTK_WINDOW(alert));
    g_object_unref(alert);
}
bool is_alert_dialog(GtkWidget* widget) { return widget != nullptr && ADW_IS_MESSAGE_DIALOG(widget); }
#endif

#if BREVANE_REAL_DIALOG
bool is_dialog(GtkWidget* widget) { return widget != nullptr && ADW_IS_DIALOG(widget); }

GtkWidget* visible_dialog(GtkWidget* parent) {
    GtkRoot* root = gtk_widget_get_root(parent);
    AdwDialog* dialog = nullptr;
    if (ADW_IS_APPLICATION_WINDOW(root)) {
        dialog = adw_application_window_get_visible_dialog(ADW_APPLICATION_WINDOW(root));
    } else if (ADW_IS_WINDOW(root)) {
        dialog = adw_window_get_visible_dialog(ADW_WINDOW(root));
    }
    return dialog != nullptr ? GTK_WIDGET(dialog) : nullptr;
}
#else
// The stand-in dialog is an AdwWindow (the main window is an AdwApplicationWindow, not one).
bool is_dialog(GtkWidget* widget) { return widget != nullptr && (ADW_IS_WINDOW(widget) || is_alert_dialog(widget)); }

// Each dialog is a window made when it opens, so the last one made that is still shown is on top.
GtkWidget* visible_dialog(GtkWidget* parent) {
    GtkWindow* window = window_of(parent);
    GtkWidget* top = nullptr;
    for_each_toplevel([&](GtkWidget* widget) {
        if (is_dialog(widget) && gtk_widget_get_visible(widget) &&
            gtk_window_get_transient_for(GTK_WINDOW(widget)) == window) {
            top = widget;
        }
    });
    return top;
}
#endif

// GtkFileDialog (and GtkFileChooserNative before it) falls back to this window without a portal;
// it is deprecated API, the only handle tests have on that window.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

GtkWidget* open_folder_chooser() {
    GtkWidget* found = nullptr;
    for_each_toplevel([&](GtkWidget* widget) {
        if (GTK_IS_FILE_CHOOSER_DIALOG(widget) && gtk_widget_get_visible(widget)) found = widget;
    });
    return found;
}

std::string folder_chooser_title(GtkWidget* chooser) {
    const char* title = gtk_window_get_title(GTK_WINDOW(chooser));
    return title != nullptr ? title : "";
}

std::string folder_chooser_folder(GtkWidget* chooser) {
    g_autoptr(GFile) folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser));
    g_autofree char* path = folder != nullptr ? g_file_get_path(folder) : nullptr;
    return path != nullptr ? path : "";
}

bool folder_chooser_shows_path(GtkWidget* chooser, const std::string& folder) {
    if (folder_chooser_folder(chooser) != folder) return false;
    std::vector<std::string> shown;
    for (GtkWidget* widget : descendants(chooser)) {
        if (GTK_IS_LABEL(widget) && gtk_widget_get_visible(widget)) {
            shown.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
        }
    }
    for (const auto& part : std::filesystem::path(folder).relative_path()) {
        if (std::find(shown.begin(), shown.end(), part.string()) == shown.end()) return false;
    }
    return true;
}

void folder_chooser_go_to(GtkWidget* chooser, const std::string& folder) {
    g_autoptr(GFile) file = g_file_new_for_path(folder.c_str());
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), file, nullptr);
}

void folder_chooser_accept(GtkWidget* chooser) {
    GtkWidget* accept = gtk_dialog_get_widget_for_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    if (accept != nullptr) g_signal_emit_by_name(accept, "clicked");
}

void folder_chooser_cancel(GtkWidget* chooser) {
    GtkWidget* cancel = gtk_dialog_get_widget_for_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
    if (cancel != nullptr) g_signal_emit_by_name(cancel, "clicked");
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace brevane::test
