#pragma once
// The main window: its fixed widget tree, its shared state and the signals that rebuild the page.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <utility>

#include "mount_dialog.hpp"
#include "window_state.hpp"

namespace brevane {

// The application's "activate": builds the one main window, or brings it forward.
void build_main_window(AdwApplication* app);
// The state of a main window built by build_main_window, or null once it is gone.
WindowStateRef window_state(GtkWindow* window);

// A forced rebuild that holds a strong reference to the state, for as many calls as it gets.
class RefreshCallback {
public:
    explicit RefreshCallback(WindowStateRef state) : state_(std::move(state)) {}
    void operator()() const;

private:
    WindowStateRef state_;
};
// The shared form handed to the mount dialog as its on-dismissed action.
DismissCallback refresh_callback(const WindowStateRef& state);

}  // namespace brevane
