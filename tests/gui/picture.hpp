#pragma once
// Pictures of the window for the README, as the user sees it: with a dialog, the dialog over it.

#include <gtk/gtk.h>

namespace brevane::test {

// What the window shows right now, with the dialogs presented over it (drawn inside it, or their own
// windows centred on it), at the window's size; nullptr when it can't be drawn. The caller owns it.
GdkTexture* window_picture(GtkWindow* window);

}  // namespace brevane::test
