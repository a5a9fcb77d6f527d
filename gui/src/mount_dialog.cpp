// The mount dialog: the form for one partition, its live plan preview, and the action that starts the
// privileged run.
#include "mount_dialog.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "compat.hpp"
#include "markup.hpp"
#include "owned.hpp"
#include "tuvrek/apfs.hpp"
#include "tuvrek/cli_error.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/filesystem.hpp"
#include "tuvrek/folder_path.hpp"
#include "tuvrek/folders.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/listing.hpp"
#include "tuvrek/owner.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/text.hpp"

namespace brevane {
namespace {

constexpr const char* kSeparator = " \u00b7 ";

// What the dialog's handlers share. The widgets belong to the dialog; every handler that uses them is
// connected to a widget inside it, so none outlives them.
struct MountDialogState {
    tuvrek::Partition partition;
    std::shared_ptr<const tuvrek::ApfsSupport> apfs_support;
    GtkWidget* folder_row = nullptr;
    GtkWidget* read_write_row = nullptr;
    GtkWidget* volume_row = nullptr;
    bool is_apfs = false;
    GtkLabel* error_label = nullptr;
    GtkLabel* warning_label = nullptr;
    std::string device;
    GtkWidget* startup_row = nullptr;
    GtkWidget* dialog = nullptr;
    std::shared_ptr<bool> started;
    ResultCallback on_result;
    GtkWindow* window = nullptr;
    DialogMode mode = DialogMode::Mount;
};
using StateRef = std::shared_ptr<MountDialogState>;

// The signal connection owns the state reference and drops it with the connection.
void connect_with_state(gpointer instance, const char* signal, GCallback handler, const StateRef& state) {
    connect_owned(instance, signal, handler, state);
}

// The spin row's value as a volume number: 0 (or less) means none.
std::optional<std::uint32_t> volume_from_value(double value) {
    if (!(value >= 1.0)) return std::nullopt;
    return static_cast<std::uint32_t>(std::min(value, 4294967295.0));
}

// The form as a request, the same way for the preview and for the action. The folder goes in its one
// canonical form, so the plan's target, the folder check and "-d" all name the same folder however
// it was typed ("/mnt/new/", "/mnt/x/../new", a link).
tuvrek::MountRequest read_form(const MountDialogState& state) {
    const tuvrek::UserIdentity owner = tuvrek::user_identity();
    tuvrek::MountRequest request;
    request.folder =
        tuvrek::canonical_folder(tuvrek::trim_white_space(gtk_editable_get_text(GTK_EDITABLE(state.folder_row))));
    request.read_write = compat::switch_row_get_active(state.read_write_row);
    if (state.is_apfs) request.volume = volume_from_value(compat::spin_row_get_value(state.volume_row));
    request.uid = owner.uid;
    request.gid = owner.gid;
    return request;
}

void show_error(const MountDialogState& state, const std::string& message) {
    gtk_label_set_label(state.error_label, message.c_str());
    gtk_widget_set_visible(GTK_WIDGET(state.error_label), TRUE);
}

void refresh_mount_warnings(const MountDialogState& state) {
    gtk_widget_set_visible(GTK_WIDGET(state.error_label), FALSE);
    const tuvrek::MountRequest request = read_form(state);
    auto plan = tuvrek::plan_mount(state.partition, request, *state.apfs_support);
    // A plan error waits for the action button; the preview only shows warnings.
    const std::vector<std::string> warnings = plan ? plan->warnings : std::vector<std::string>{};
    gtk_label_set_label(state.warning_label, tuvrek::join(warnings, "\n\n").c_str());
    gtk_widget_set_visible(GTK_WIDGET(state.warning_label), !warnings.empty());
}

std::vector<std::string> mount_arguments(const MountDialogState& state, const tuvrek::MountPlan& plan,
                                         const tuvrek::MountRequest& request) {
    std::vector<std::string> args;
    if (state.mode == DialogMode::Mount) {
        args = {"mount"};
    } else {
        args = {"automount", "add"};
    }
    args.insert(args.end(), {"-p", state.device, "-d", plan.target, "--yes"});
    if (request.read_write) args.push_back("--rw");
    if (request.volume) {
        args.push_back("--volume");
        args.push_back(std::to_string(*request.volume));
    }
    if (state.mode == DialogMode::Mount && compat::switch_row_get_active(state.startup_row)) {
        args.push_back("--startup");
    }
    return args;
}

// The flag goes up before the dialog closes, so its "closed" handler knows a run is starting. Copies:
// closing the dialog may release the handler that owns the originals.
void start_run(std::shared_ptr<bool> started, GtkWidget* dialog, std::vector<std::string> args,
               ResultCallback on_result) {
    *started = true;
    compat::dialog_close(dialog);
    run_cli_privileged(std::move(args), std::move(on_result));
}

// What the confirmation's "go" needs; lives as long as the alert's handler.
struct Confirmation {
    std::vector<std::string> args;
    std::shared_ptr<bool> started;
    ObjectRef<GtkWidget> dialog;
    ResultCallback on_result;
};

void on_confirm_go(const Confirmation& confirmation) {
    start_run(confirmation.started, confirmation.dialog.get(), confirmation.args, confirmation.on_result);
}

void ask_confirmation(const MountDialogState& state, const tuvrek::MountPlan& plan, std::vector<std::string> args) {
    const bool packages = !plan.missing_packages.empty();
    const bool experimental = plan.experimental;
    std::vector<std::string> paragraphs;
    if (packages) {
        paragraphs.push_back("Mounting " + plan.filesystem + " needs packages that aren't installed:\n\n" +
                             tuvrek::join(plan.missing_packages, "\n") +
                             "\n\nThey'll be installed from the Tuvrek repository.");
    }
    if (experimental) {
        const std::string* warning = tuvrek::experimental_warning(plan);
        paragraphs.push_back(warning != nullptr ? *warning : std::string());
    }
    std::string heading;
    if (packages && experimental) {
        heading = "Install Packages and Write to " + plan.filesystem + "?";
    } else if (packages) {
        heading = "Install Packages?";
    } else {
        heading = "Write to " + plan.filesystem + "?";
    }

    GtkWidget* alert = compat::alert_dialog_new(heading.c_str(), tuvrek::join(paragraphs, "\n\n").c_str());
    compat::alert_dialog_add_response(alert, "cancel", "Cancel");
    compat::alert_dialog_add_response(alert, "go", "Continue");
    compat::alert_dialog_set_response_appearance(alert, "go",
                                                 experimental ? ADW_RESPONSE_DESTRUCTIVE : ADW_RESPONSE_SUGGESTED);
    compat::alert_dialog_set_default_response(alert, "cancel");
    compat::alert_dialog_set_close_response(alert, "cancel");
    auto confirmation = std::make_shared<Confirmation>(
        Confirmation{std::move(args), state.started, ObjectRef<GtkWidget>(state.dialog), state.on_result});
    compat::alert_dialog_on_response(alert, "go", [confirmation](const char*) { on_confirm_go(*confirmation); });
    compat::alert_dialog_present(alert, GTK_WIDGET(state.window));
}

void on_dialog_mount_clicked(GtkButton*, gpointer data) {
    const MountDialogState& state = **static_cast<StateRef*>(data);
    const tuvrek::MountRequest request = read_form(state);
    auto plan = tuvrek::plan_mount(state.partition, request, *state.apfs_support);
    if (!plan) {
        show_error(state, tuvrek::plan_error_message(plan.error()).message);
        return;
    }
    // A startup entry is mounted later, so its folder is checked then.
    if (state.mode == DialogMode::Mount) {
        auto folder = tuvrek::check_mount_folder(request.folder);
        if (!folder) {
            show_error(state, tuvrek::plan_error_message(folder.error()).message);
            return;
        }
    }
    std::vector<std::string> args = mount_arguments(state, *plan, request);
    if (plan->missing_packages.empty() && !plan->experimental) {
        start_run(state.started, state.dialog, std::move(args), state.on_result);
        return;
    }
    ask_confirmation(state, *plan, std::move(args));
}

void on_preview_changed(GtkEditable*, gpointer data) { refresh_mount_warnings(**static_cast<StateRef*>(data)); }

void on_folder_chosen(const ObjectRef<GtkWidget>& folder_row, GFile* folder) {
    if (folder == nullptr) return;  // cancelled or failed: nothing to do
    g_autofree char* path = g_file_get_path(folder);
    if (path == nullptr) return;
    gtk_editable_set_text(GTK_EDITABLE(folder_row.get()), tuvrek::lossy_utf8(path).c_str());
}

void choose_mount_folder(GtkButton*, gpointer data) {
    const MountDialogState& state = **static_cast<StateRef*>(data);
    g_autoptr(GFile) initial = g_file_new_for_path("/mnt");
    ObjectRef<GtkWidget> folder_row(state.folder_row);
    compat::choose_folder(state.window, "Mount Folder", initial,
                          [folder_row](GFile* folder) { on_folder_chosen(folder_row, folder); });
}

void on_mount_dialog_closed(const std::shared_ptr<bool>& started, const DismissCallback& on_dismissed) {
    if (!*started && on_dismissed && *on_dismissed) (*on_dismissed)();
}

GtkWidget* label_new(const char* css_class) {
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_widget_add_css_class(label, css_class);
    gtk_widget_set_visible(label, FALSE);
    return label;
}

StateRef new_dialog_state(GtkWindow* parent, const tuvrek::Partition& partition, DialogMode mode,
                          ResultCallback on_result) {
    auto state = std::make_shared<MountDialogState>();
    state->partition = partition;
    // Planned as unmounted: a startup entry is about the next boot, not the mount of today.
    if (mode == DialogMode::Startup) state->partition.mountpoints.clear();
    state->apfs_support = std::make_shared<const tuvrek::ApfsSupport>(tuvrek::check_apfs_support());
    state->is_apfs = partition.fs && partition.fs->kind == tuvrek::Filesystem::Kind::Apfs;
    state->device = partition.path;
    state->started = std::make_shared<bool>(false);
    state->on_result = std::move(on_result);
    state->window = parent;
    state->mode = mode;
    return state;
}

// The "Folder" row, with the button that opens the folder chooser as its suffix.
GtkWidget* folder_row_new(const tuvrek::Partition& partition, GtkWidget*& chooser_button) {
    GtkWidget* row = adw_entry_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), "Folder");
    gtk_editable_set_text(GTK_EDITABLE(row), tuvrek::lossy_utf8(tuvrek::default_mount_folder(partition)).c_str());
    chooser_button = gtk_button_new_from_icon_name("folder-open-symbolic");
    gtk_widget_set_tooltip_text(chooser_button, "Choose a folder");
    gtk_widget_set_valign(chooser_button, GTK_ALIGN_CENTER);
    gtk_widget_add_css_class(chooser_button, "flat");
    adw_entry_row_add_suffix(ADW_ENTRY_ROW(row), chooser_button);
    return row;
}

// The partition's facts over the form's four rows, which the state takes note of.
GtkWidget* form_group(MountDialogState& state, const tuvrek::Partition& partition, GtkWidget*& chooser_button) {
    GtkWidget* group = adw_preferences_group_new();
    const std::string description = tuvrek::join(
        {partition.fs ? tuvrek::display_name(*partition.fs) : std::string(), tuvrek::format_size(partition.size),
         partition.path},
        kSeparator);
    adw_preferences_group_set_description(ADW_PREFERENCES_GROUP(group), markup_escaped(description).c_str());

    state.folder_row = folder_row_new(partition, chooser_button);

    state.read_write_row = compat::switch_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(state.read_write_row), "Read and Write");
    adw_action_row_set_subtitle(ADW_ACTION_ROW(state.read_write_row), "When off, nothing on the drive can change");
    compat::switch_row_set_active(state.read_write_row, false);

    state.volume_row = compat::spin_row_new_with_range(0, 99, 1);
    compat::spin_row_set_value(state.volume_row, 0);
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(state.volume_row), "APFS Volume");
    adw_action_row_set_subtitle(ADW_ACTION_ROW(state.volume_row), "Try 1 if your Users folder is missing");
    gtk_widget_set_visible(state.volume_row, state.is_apfs);

    state.startup_row = compat::switch_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(state.startup_row), "Also Mount at Startup");
    compat::switch_row_set_active(state.startup_row, false);
    gtk_widget_set_visible(state.startup_row, state.mode == DialogMode::Mount && partition.uuid.has_value());

    for (GtkWidget* row : {state.folder_row, state.read_write_row, state.volume_row, state.startup_row}) {
        adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), row);
    }
    return group;
}

// The form, then the plan's warnings, the action's error and the action button, under a header bar.
GtkWidget* dialog_content(MountDialogState& state, GtkWidget* group, GtkWidget* action) {
    GtkWidget* warning_label = label_new("caption");
    GtkWidget* error_label = label_new("error");
    state.warning_label = GTK_LABEL(warning_label);
    state.error_label = GTK_LABEL(error_label);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 18);
    gtk_widget_set_margin_top(box, 12);
    gtk_widget_set_margin_bottom(box, 24);
    gtk_widget_set_margin_start(box, 18);
    gtk_widget_set_margin_end(box, 18);
    for (GtkWidget* child : {group, warning_label, error_label, action}) gtk_box_append(GTK_BOX(box), child);

    GtkWidget* view = compat::toolbar_view_new();
    compat::toolbar_view_add_top_bar(view, adw_header_bar_new());
    compat::toolbar_view_set_content(view, box);
    return view;
}

GtkWidget* action_button_new(DialogMode mode) {
    GtkWidget* action = gtk_button_new_with_label(mode == DialogMode::Mount ? "Mount" : "Save");
    gtk_widget_set_halign(action, GTK_ALIGN_CENTER);
    const char* action_classes[] = {"suggested-action", "pill", nullptr};
    gtk_widget_set_css_classes(action, action_classes);
    return action;
}

void connect_dialog(const StateRef& state, GtkWidget* chooser_button, GtkWidget* action,
                    DismissCallback on_dismissed) {
    compat::switch_row_on_active_changed(state->read_write_row, [state] { refresh_mount_warnings(*state); });
    connect_with_state(state->folder_row, "changed", G_CALLBACK(on_preview_changed), state);
    connect_with_state(chooser_button, "clicked", G_CALLBACK(choose_mount_folder), state);
    compat::dialog_on_closed(state->dialog, [started = state->started, on_dismissed = std::move(on_dismissed)] {
        on_mount_dialog_closed(started, on_dismissed);
    });
    connect_with_state(action, "clicked", G_CALLBACK(on_dialog_mount_clicked), state);
}

}  // namespace

void show_mount_dialog(GtkWindow* parent, const tuvrek::Partition& partition, DialogMode mode,
                       ResultCallback on_result, DismissCallback on_dismissed) {
    StateRef state = new_dialog_state(parent, partition, mode, std::move(on_result));

    const std::string label = tuvrek::partition_display_label(partition);
    const std::string title = mode == DialogMode::Mount ? "Mount " + label : "Mount " + label + " at Startup";
    state->dialog = compat::dialog_new();
    compat::dialog_set_title(state->dialog, title.c_str());
    compat::dialog_set_content_width(state->dialog, 480);

    GtkWidget* chooser_button = nullptr;
    GtkWidget* group = form_group(*state, partition, chooser_button);
    GtkWidget* action = action_button_new(mode);
    compat::dialog_set_child(state->dialog, dialog_content(*state, group, action));

    refresh_mount_warnings(*state);
    connect_dialog(state, chooser_button, action, std::move(on_dismissed));
    compat::dialog_present(state->dialog, GTK_WIDGET(parent));
}

}  // namespace brevane
