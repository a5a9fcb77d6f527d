#pragma once
// What the controls of a partition row do; the page connects each row's controls through these.

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "tuvrek/drives.hpp"
#include "window_state.hpp"

namespace brevane {

void connect_startup_switch(GtkSwitch* sw, const WindowStateRef& state, const tuvrek::Partition& partition,
                            std::optional<std::string> entry_target);
void connect_mount_button(GtkButton* button, const WindowStateRef& state, const tuvrek::Partition& partition);
void connect_open_in_files(GtkButton* button, const WindowStateRef& state, std::string mount_point);
void connect_unmount_button(GtkButton* button, const WindowStateRef& state, std::string mount_point);

}  // namespace brevane
