#include "gui_support.hpp"

#include <cstdlib>
#include <memory>

#include "window.hpp"

namespace brevane::test {
namespace {

void on_activate(GApplication* app, gpointer) { build_main_window(ADW_APPLICATION(app)); }

std::string text_of(GtkWidget* label) { return label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : ""; }

bool inside_button(GtkWidget* widget, GtkWidget* root) {
    for (GtkWidget* w = widget; w != nullptr && w != root; w = gtk_widget_get_parent(w)) {
        if (GTK_IS_BUTTON(w)) return true;
    }
    return false;
}

// The shown label below root, other than `other`, that shows a widget's text property (a row's
// title, a group's description); nullptr for an empty text. The property is the label's markup, or
// already its shown text (libadwaita 1.2's group description).
GtkWidget* label_showing(GtkWidget* root, const char* property, GtkWidget* other = nullptr) {
    if (property == nullptr || *property == '\0') return nullptr;
    for (GtkWidget* w : descendants(root)) {
        if (w == other || !GTK_IS_LABEL(w) || !gtk_widget_get_visible(w)) continue;
        if (g_strcmp0(gtk_label_get_label(GTK_LABEL(w)), property) == 0 ||
            g_strcmp0(gtk_label_get_text(GTK_LABEL(w)), property) == 0) {
            return w;
        }
    }
    return nullptr;
}

// The widgets a row holds before or after its title, as added: climbing from one of them up to just
// below the widget that also holds the title gives the box they stand in.
std::vector<GtkWidget*> row_box_of(GtkWidget* member, GtkWidget* title) {
    GtkWidget* box = member;
    for (GtkWidget* parent = gtk_widget_get_parent(box); parent != nullptr && !gtk_widget_is_ancestor(title, parent);
         parent = gtk_widget_get_parent(box)) {
        box = parent;
    }
    return box != member ? children(box) : std::vector<GtkWidget*>{member};
}

}  // namespace

AdwApplication* application() {
    static AdwApplication* app = [] {
        // As g_application_run names the program after argv[0]; the file chooser records the
        // folders it opens under that name.
        g_set_prgname("brevane");
        // No assistive technology listens under the virtual display, whose session may have no
        // accessibility bus; the widgets keep their roles without it.
        g_setenv("GTK_A11Y", "none", TRUE);
        AdwApplication* created = adw_application_new("org.tuvrek.Brevane", G_APPLICATION_DEFAULT_FLAGS);
        g_signal_connect(created, "activate", G_CALLBACK(on_activate), nullptr);
        GError* error = nullptr;
        if (!g_application_register(G_APPLICATION(created), nullptr, &error)) {
            g_printerr("can't register the application: %s\n", error->message);
            std::abort();
        }
        return created;
    }();
    return app;
}

bool pump_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return pred();
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
    return true;
}

void pump_for(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
}

std::vector<GtkWidget*> children(GtkWidget* widget) {
    std::vector<GtkWidget*> out;
    for (GtkWidget* c = gtk_widget_get_first_child(widget); c != nullptr; c = gtk_widget_get_next_sibling(c)) {
        out.push_back(c);
    }
    return out;
}

std::vector<GtkWidget*> descendants(GtkWidget* root) {
    std::vector<GtkWidget*> out;
    std::function<void(GtkWidget*)> walk = [&](GtkWidget* w) {
        out.push_back(w);
        for (GtkWidget* c : children(w)) walk(c);
    };
    if (root != nullptr) walk(root);
    return out;
}

std::vector<GtkWidget*> descendants_of_type(GtkWidget* root, GType type) {
    std::vector<GtkWidget*> out;
    for (GtkWidget* w : descendants(root)) {
        if (G_TYPE_CHECK_INSTANCE_TYPE(w, type)) out.push_back(w);
    }
    return out;
}

std::vector<std::string> css_classes(GtkWidget* widget) {
    std::vector<std::string> out;
    char** classes = gtk_widget_get_css_classes(widget);
    for (char** c = classes; *c != nullptr; ++c) out.emplace_back(*c);
    g_strfreev(classes);
    return out;
}

std::string tooltip(GtkWidget* widget) {
    const char* text = gtk_widget_get_tooltip_text(widget);
    return text != nullptr ? text : "";
}

Fixture::Fixture(const std::string& lsblk_fixture, const std::string& automount_toml) {
    set_lsblk(tuvrek::test::read_file(tuvrek::test::fixture_path(lsblk_fixture)));
    if (!automount_toml.empty()) set_automount(automount_toml);
    tuvrek::test::write_file(dir_ / "mountinfo", "");
    std::filesystem::create_directories(dir_ / "run");
    setenv("TUVREK_DISK_LSBLK_JSON", lsblk_path().c_str(), 1);
    setenv("TUVREK_DISK_AUTOMOUNT_CONF", automount_path().c_str(), 1);
    setenv("TUVREK_DISK_MOUNTINFO", (dir_ / "mountinfo").c_str(), 1);
    setenv("TUVREK_DISK_RUN_DIR", (dir_ / "run").c_str(), 1);
}

Fixture::~Fixture() {
    for (const char* name :
         {"TUVREK_DISK_LSBLK_JSON", "TUVREK_DISK_AUTOMOUNT_CONF", "TUVREK_DISK_MOUNTINFO", "TUVREK_DISK_RUN_DIR"}) {
        unsetenv(name);
    }
}

std::string Fixture::lsblk_path() const { return (dir_ / "lsblk.json").string(); }
std::string Fixture::automount_path() const { return (dir_ / "automount.toml").string(); }
void Fixture::set_lsblk(const std::string& content) { tuvrek::test::write_file(lsblk_path(), content); }
void Fixture::set_automount(const std::string& content) { tuvrek::test::write_file(automount_path(), content); }

GtkWindow* open_main_window() {
    AdwApplication* app = application();
    g_application_activate(G_APPLICATION(app));
    GtkWindow* window = nullptr;
    pump_until([&] {
        window = gtk_application_get_active_window(GTK_APPLICATION(app));
        return window != nullptr && gtk_widget_get_mapped(GTK_WIDGET(window));
    });
    return window;
}

void close_main_window(GtkWindow* window) {
    if (window == nullptr) return;
    std::weak_ptr<WindowState> state = window_state(window);
    gtk_window_destroy(window);
    pump_until([&] { return state.expired(); });
}

GtkWidget* current_page(GtkWindow* window) {
    WindowStateRef state = window_state(window);
    return state && state->clamp != nullptr ? adw_clamp_get_child(state->clamp) : nullptr;
}

std::vector<std::string> toast_titles(GtkWindow* window) {
    std::vector<std::string> out;
    WindowStateRef state = window_state(window);
    if (!state || state->toast_overlay == nullptr) return out;
    // Besides the page, the overlay holds one widget per toast; its title is the label outside its buttons.
    GtkWidget* page = adw_toast_overlay_get_child(state->toast_overlay);
    for (GtkWidget* toast : children(GTK_WIDGET(state->toast_overlay))) {
        if (toast == page) continue;
        std::string title;
        for (GtkWidget* w : descendants(toast)) {
            if (GTK_IS_LABEL(w) && !inside_button(w, toast)) {
                title = text_of(w);
                break;
            }
        }
        out.push_back(title);
    }
    return out;
}

RowView row_view(GtkWidget* row) {
    RowView view;
    view.row = row;
    GtkWidget* title = label_showing(row, adw_preferences_row_get_title(ADW_PREFERENCES_ROW(row)));
    GtkWidget* subtitle = label_showing(row, adw_action_row_get_subtitle(ADW_ACTION_ROW(row)), title);
    view.title = text_of(title);
    view.subtitle = text_of(subtitle);
    if (title == nullptr) return view;
    // In tree order the prefixes come before the title and the suffixes after it.
    bool after_title = false;
    for (GtkWidget* w : descendants(row)) {
        if (w == title || w == subtitle) {
            after_title = true;
            continue;
        }
        if (!gtk_widget_get_visible(w) || (inside_button(w, row) && !GTK_IS_BUTTON(w))) continue;
        if (!after_title && GTK_IS_IMAGE(w) && view.icon.empty()) {
            const char* icon = gtk_image_get_icon_name(GTK_IMAGE(w));
            view.icon = icon != nullptr ? icon : "";
        } else if (after_title && (GTK_IS_LABEL(w) || GTK_IS_BUTTON(w) || GTK_IS_SWITCH(w))) {
            view.suffixes = row_box_of(w, title);
            break;
        }
    }
    return view;
}

std::vector<GroupView> page_groups(GtkWidget* page) {
    std::vector<GroupView> out;
    for (GtkWidget* group : descendants_of_type(page, ADW_TYPE_PREFERENCES_GROUP)) {
        GroupView view;
        view.group = group;
        GtkWidget* title = label_showing(group, adw_preferences_group_get_title(ADW_PREFERENCES_GROUP(group)));
        view.title = text_of(title);
        view.description =
            text_of(label_showing(group, adw_preferences_group_get_description(ADW_PREFERENCES_GROUP(group)), title));
        for (GtkWidget* row : descendants_of_type(group, ADW_TYPE_ACTION_ROW)) view.rows.push_back(row_view(row));
        out.push_back(std::move(view));
    }
    return out;
}

std::vector<std::string> suffix_summary(const RowView& row) {
    std::vector<std::string> out;
    std::function<void(GtkWidget*)> add = [&](GtkWidget* w) {
        if (GTK_IS_LABEL(w)) {
            out.push_back(gtk_label_get_text(GTK_LABEL(w)));
        } else if (GTK_IS_SWITCH(w)) {
            out.push_back(gtk_switch_get_active(GTK_SWITCH(w)) ? "switch:on" : "switch:off");
        } else if (GTK_IS_BUTTON(w)) {
            const char* label = gtk_button_get_label(GTK_BUTTON(w));
            out.push_back(label != nullptr ? label : tooltip(w));
        } else if (GTK_IS_BOX(w)) {
            for (GtkWidget* c : children(w)) add(c);
        } else {
            out.push_back(G_OBJECT_TYPE_NAME(w));
        }
    };
    for (GtkWidget* w : row.suffixes) add(w);
    return out;
}

}  // namespace brevane::test
