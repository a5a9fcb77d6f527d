// Saves a picture of the main window built from fixture drives:
//   xvfb-run -a -s "-screen 0 1280x900x24" dbus-run-session -- brevane_screenshot OUT.png [LSBLK_FIXTURE]
#include <cstdio>
#include <string>

#include "window.hpp"
#include "gui_support.hpp"
#include "picture.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [lsblk fixture name]\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const std::string lsblk = argc > 2 ? argv[2] : "lsblk-gui-drives.json";
    using namespace brevane::test;

    Fixture fixture(lsblk,
                    "[[mount]]\nuuid = \"ABCD1234EF567890\"\ntarget = \"/mnt/win\"\nuid = 1000\ngid = 1000\n");
    GtkWindow* window = open_main_window();
    if (window == nullptr) {
        std::fprintf(stderr, "the window did not open\n");
        return 1;
    }
    // A freshly presented window may still be 0x0; wait for its size and a few frames.
    pump_until([&] { return gtk_widget_get_width(GTK_WIDGET(window)) > 0; });
    pump_for(std::chrono::milliseconds(500));

    const int width = gtk_widget_get_width(GTK_WIDGET(window));
    const int height = gtk_widget_get_height(GTK_WIDGET(window));
    GdkTexture* texture = window_picture(window);
    const int status = texture != nullptr && gdk_texture_save_to_png(texture, out.c_str()) ? 0 : 1;
    g_clear_object(&texture);
    close_main_window(window);
    if (status == 0) std::printf("saved %s (%dx%d)\n", out.c_str(), width, height);
    return status;
}
