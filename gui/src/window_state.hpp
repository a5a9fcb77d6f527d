#pragma once
// The window program's shared state: one per main window, reached by every handler.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <memory>
#include <optional>

#include "page_data.hpp"

namespace brevane {

// Created once per main window; handlers hold it by shared (strong) or weak reference.
struct WindowState {
    AdwApplicationWindow* window = nullptr;  // held reference, given up when the window goes
    // Borrowed from the window's tree; cleared when the tree goes, so late callbacks find them null.
    AdwToastOverlay* toast_overlay = nullptr;
    AdwClamp* clamp = nullptr;
    GVolumeMonitor* volume_monitor = nullptr;  // held reference
    std::optional<PageData> page_fingerprint;  // none until the first page
    ~WindowState();
};
using WindowStateRef = std::shared_ptr<WindowState>;

}  // namespace brevane
