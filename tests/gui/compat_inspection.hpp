#pragma once
// What tests read of the window's newer widgets (gui/src/compat.hpp), real or built from older
// parts, and how they answer them as a user would. The window itself never needs any of this.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <string>

#include "compat.hpp"

namespace brevane::test {

// --- AdwToolbarView ---
GtkWidget* toolbar_view_get_content(GtkWidget* view);

// --- AdwDialog ---
const char* dialog_get_title(GtkWidget* dialog);
int dialog_get_content_width(GtkWidget* dialog);

// --- AdwAlertDialog ---
const char* alert_dialog_get_heading(GtkWidget* alert);
const char* alert_dialog_get_body(GtkWidget* alert);
bool alert_dialog_has_response(GtkWidget* alert, const char* id);
const char* alert_dialog_get_response_label(GtkWidget* alert, const char* id);
AdwResponseAppearance alert_dialog_get_response_appearance(GtkWidget* alert, const char* id);
const char* alert_dialog_get_default_response(GtkWidget* alert);
const char* alert_dialog_get_close_response(GtkWidget* alert);
// Chooses a response as the user's click does: the response handlers run and the alert closes.
void alert_dialog_choose_response(GtkWidget* alert, const char* id);

// Is this one of the dialogs (plain or alert)?
bool is_dialog(GtkWidget* widget);
bool is_alert_dialog(GtkWidget* widget);
// The topmost open dialog or alert presented over parent's window, or nullptr.
GtkWidget* visible_dialog(GtkWidget* parent);

// --- the folder chooser ---
// Where no portal serves it, the chooser is a window of this process: the open one, or nullptr.
GtkWidget* open_folder_chooser();
std::string folder_chooser_title(GtkWidget* chooser);
// The folder it shows, as a path ("" until it has one).
std::string folder_chooser_folder(GtkWidget* chooser);
// Whether it shows this folder, with a label for each part of its path: then it has read what it
// shows. (The toolkit's chooser misbehaves when closed while it still reads them; a user answers
// only once they are on screen.)
bool folder_chooser_shows_path(GtkWidget* chooser, const std::string& folder);
// Goes into the folder, as the user's double click does.
void folder_chooser_go_to(GtkWidget* chooser, const std::string& folder);
// Press its buttons, as the user does; with nothing selected, accepting chooses the folder shown.
void folder_chooser_accept(GtkWidget* chooser);
void folder_chooser_cancel(GtkWidget* chooser);

}  // namespace brevane::test
