#pragma once
// Newer libadwaita / GTK widgets the window uses, real where the installed libraries have them and
// built from libadwaita 1.2 / GTK 4.8 parts where they don't. The rest of the window reaches these
// widgets only through the functions below, so both builds behave alike.
//
// Every handle is a GtkWidget*: the real widget, or the stand-in built from older parts.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <functional>

// Which widget is real (1) and which is built from older parts (0).
#if ADW_CHECK_VERSION(1, 4, 0)
#define BREVANE_REAL_TOOLBAR_VIEW 1
#define BREVANE_REAL_SWITCH_ROW 1
#define BREVANE_REAL_SPIN_ROW 1
#else
#define BREVANE_REAL_TOOLBAR_VIEW 0  // a vertical GtkBox: top bars first, then the content
#define BREVANE_REAL_SWITCH_ROW 0    // AdwActionRow + GtkSwitch suffix, activatable widget
#define BREVANE_REAL_SPIN_ROW 0      // AdwActionRow + GtkSpinButton suffix
#endif
#if ADW_CHECK_VERSION(1, 5, 0)
#define BREVANE_REAL_DIALOG 1
#define BREVANE_REAL_ALERT_DIALOG 1
#else
#define BREVANE_REAL_DIALOG 0        // modal AdwWindow transient for the parent
#define BREVANE_REAL_ALERT_DIALOG 0  // AdwMessageDialog
#endif
#if GTK_CHECK_VERSION(4, 10, 0)
#define BREVANE_REAL_FILE_DIALOG 1
#else
#define BREVANE_REAL_FILE_DIALOG 0  // GtkFileChooserNative, SELECT_FOLDER
#endif

namespace compat {

// --- AdwToolbarView ---
GtkWidget* toolbar_view_new();
void toolbar_view_add_top_bar(GtkWidget* view, GtkWidget* bar);
void toolbar_view_set_content(GtkWidget* view, GtkWidget* content);

// --- AdwSwitchRow --- (an AdwActionRow in both builds: adw_preferences_row_set_title,
// adw_action_row_set_subtitle and gtk_widget_set_visible apply to it directly)
GtkWidget* switch_row_new();
bool switch_row_get_active(GtkWidget* row);
void switch_row_set_active(GtkWidget* row, bool active);
// Called after every change of the active state, whether by the user or by switch_row_set_active
// ("notify::active"). The function lives as long as the row.
void switch_row_on_active_changed(GtkWidget* row, std::function<void()> handler);

// --- AdwSpinRow --- (also an AdwActionRow in both builds)
GtkWidget* spin_row_new_with_range(double min, double max, double step);
double spin_row_get_value(GtkWidget* row);
void spin_row_set_value(GtkWidget* row, double value);

// --- AdwDialog ---
GtkWidget* dialog_new();
void dialog_set_title(GtkWidget* dialog, const char* title);
void dialog_set_content_width(GtkWidget* dialog, int width);
void dialog_set_child(GtkWidget* dialog, GtkWidget* child);
// parent: any widget of the window the dialog belongs to (usually the main window).
void dialog_present(GtkWidget* dialog, GtkWidget* parent);
void dialog_close(GtkWidget* dialog);
// Called once when the dialog closes: close button, Escape or dialog_close. The function lives as
// long as the dialog.
void dialog_on_closed(GtkWidget* dialog, std::function<void()> handler);

// --- AdwAlertDialog ---
GtkWidget* alert_dialog_new(const char* heading, const char* body);
void alert_dialog_add_response(GtkWidget* alert, const char* id, const char* label);
void alert_dialog_set_response_appearance(GtkWidget* alert, const char* id, AdwResponseAppearance appearance);
void alert_dialog_set_default_response(GtkWidget* alert, const char* id);
void alert_dialog_set_close_response(GtkWidget* alert, const char* id);
// Called when a response is chosen; with a response id only for that one ("response::<id>").
// The handler gets the chosen id. The function lives as long as the alert.
void alert_dialog_on_response(GtkWidget* alert, const char* only_id, std::function<void(const char* id)> handler);
void alert_dialog_present(GtkWidget* alert, GtkWidget* parent);

// --- GtkFileDialog, folder selection ---
// Called exactly once: with the chosen folder (borrowed for the call), or nullptr on cancel or error.
using FolderCallback = std::function<void(GFile* folder)>;
void choose_folder(GtkWindow* parent, const char* title, GFile* initial_folder, FolderCallback callback);

}  // namespace compat
