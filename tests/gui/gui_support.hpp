#pragma once
// Helpers for tests that drive the real window under a virtual display.

#include <adwaita.h>
#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support.hpp"

namespace brevane::test {

// The application, registered once per process with "activate" wired as the program wires it.
AdwApplication* application();

// Turns the main loop until pred() holds or the time is up; returns pred().
bool pump_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Turns the main loop for a while, for checks that something does not happen.
void pump_for(std::chrono::milliseconds duration);

// The widget and all below it, depth first, a widget before its children.
std::vector<GtkWidget*> descendants(GtkWidget* root);
std::vector<GtkWidget*> descendants_of_type(GtkWidget* root, GType type);
std::vector<GtkWidget*> children(GtkWidget* widget);
std::vector<std::string> css_classes(GtkWidget* widget);
std::string tooltip(GtkWidget* widget);

// The environment one window test reads: its drives, startup file, mount table and run folder.
class Fixture {
public:
    // lsblk_fixture: a file name under tests/fixtures; it is copied so a test may rewrite it.
    explicit Fixture(const std::string& lsblk_fixture, const std::string& automount_toml = "");
    ~Fixture();
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;
    tuvrek::test::TempDir& dir() { return dir_; }
    std::string lsblk_path() const;
    std::string automount_path() const;
    void set_lsblk(const std::string& content);
    void set_automount(const std::string& content);

private:
    tuvrek::test::TempDir dir_;
};

// Opens the main window through the application's "activate" and waits until it is shown.
GtkWindow* open_main_window();
// Destroys the window and waits until its state is released.
void close_main_window(GtkWindow* window);

// The page inside the window's clamp.
GtkWidget* current_page(GtkWindow* window);
// The toast titles the window's toast overlay shows right now.
std::vector<std::string> toast_titles(GtkWindow* window);

// One partition row as the user sees it.
struct RowView {
    GtkWidget* row = nullptr;
    std::string title;     // as shown (markup rendered)
    std::string subtitle;  // as shown
    std::string icon;      // the prefix image's icon name
    std::vector<GtkWidget*> suffixes;
};
RowView row_view(GtkWidget* row);

struct GroupView {
    GtkWidget* group = nullptr;
    std::string title;        // as shown
    std::string description;  // as shown
    std::vector<RowView> rows;
};
std::vector<GroupView> page_groups(GtkWidget* page);

// The label texts and button tooltips/labels of a row's suffixes, in order, e.g.
// {"Windows", "At startup", "switch:on", "Open in Files", "Unmount"}.
std::vector<std::string> suffix_summary(const RowView& row);

}  // namespace brevane::test
