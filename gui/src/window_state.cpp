#include "window_state.hpp"

namespace brevane {

WindowState::~WindowState() {
    if (clamp != nullptr) g_object_remove_weak_pointer(G_OBJECT(clamp), reinterpret_cast<gpointer*>(&clamp));
    if (toast_overlay != nullptr) {
        g_object_remove_weak_pointer(G_OBJECT(toast_overlay), reinterpret_cast<gpointer*>(&toast_overlay));
    }
    g_clear_object(&volume_monitor);
    g_clear_object(&window);
}

}  // namespace brevane
