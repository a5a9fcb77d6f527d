// brevane: the drive window.
#include "window.hpp"

namespace {

void on_activate(GApplication* app, gpointer) { brevane::build_main_window(ADW_APPLICATION(app)); }

}  // namespace

int main(int argc, char** argv) {
    AdwApplication* app = adw_application_new("org.tuvrek.Brevane", G_APPLICATION_DEFAULT_FLAGS);
    g_signal_connect(app, "activate", G_CALLBACK(on_activate), nullptr);
    const int status = g_application_run(G_APPLICATION(app), argc, argv);
    g_object_unref(app);
    return status;
}
