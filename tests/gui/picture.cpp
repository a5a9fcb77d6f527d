#include "picture.hpp"

#include <algorithm>
#include <vector>

namespace brevane::test {
namespace {

void draw(GtkSnapshot* snapshot, GtkWidget* widget, float x, float y) {
    const int width = gtk_widget_get_width(widget);
    const int height = gtk_widget_get_height(widget);
    if (width <= 0 || height <= 0) return;
    GdkPaintable* paintable = gtk_widget_paintable_new(widget);
    gtk_snapshot_save(snapshot);
    graphene_point_t at = GRAPHENE_POINT_INIT(x, y);
    gtk_snapshot_translate(snapshot, &at);
    gdk_paintable_snapshot(paintable, snapshot, width, height);
    gtk_snapshot_restore(snapshot);
    g_object_unref(paintable);
}

// The shown windows transient for this one, oldest first: dialogs that are windows of their own.
std::vector<GtkWidget*> windows_over(GtkWindow* window) {
    std::vector<GtkWidget*> over;
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0, n = g_list_model_get_n_items(toplevels); i < n; ++i) {
        auto* widget = static_cast<GtkWidget*>(g_list_model_get_item(toplevels, i));
        if (gtk_widget_get_visible(widget) && gtk_window_get_transient_for(GTK_WINDOW(widget)) == window) {
            over.push_back(widget);
        }
        g_object_unref(widget);
    }
    return over;
}

}  // namespace

GdkTexture* window_picture(GtkWindow* window) {
    GtkWidget* widget = GTK_WIDGET(window);
    const int width = gtk_widget_get_width(widget);
    const int height = gtk_widget_get_height(widget);
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window));
    if (width <= 0 || height <= 0 || renderer == nullptr) return nullptr;

    GtkSnapshot* snapshot = gtk_snapshot_new();
    draw(snapshot, widget, 0, 0);
    // A dialog of its own window stands centred over its parent, as the desktop places it.
    for (GtkWidget* dialog : windows_over(window)) {
        const float x = std::max(0, (width - gtk_widget_get_width(dialog)) / 2);
        const float y = std::max(0, (height - gtk_widget_get_height(dialog)) / 2);
        draw(snapshot, dialog, x, y);
    }
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    if (node == nullptr) return nullptr;
    graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
    gsk_render_node_unref(node);
    return texture;
}

}  // namespace brevane::test
