// The drive page: one group per drive, one row per shown partition, rebuilt whole from fresh data.
#include "page.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "markup.hpp"
#include "row_actions.hpp"
#include "tuvrek/filesystem.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/listing.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/text.hpp"

namespace brevane {
namespace {

using tuvrek::Drive;
using tuvrek::Entry;
using tuvrek::Filesystem;
using tuvrek::Partition;
using Kind = tuvrek::Filesystem::Kind;

constexpr std::string_view kSeparator = " \u00b7 ";

// A tooltip set on a shown widget makes GTK ask the display server where the pointer is, a round
// trip for every row; a new widget takes its tooltip while still hidden.
void set_tooltip(GtkWidget* widget, const char* text) {
    gtk_widget_set_visible(widget, FALSE);
    gtk_widget_set_tooltip_text(widget, text);
    gtk_widget_set_visible(widget, TRUE);
}

GtkWidget* caption_label(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_widget_add_css_class(label, "caption");
    gtk_widget_add_css_class(label, "dim-label");
    return label;
}

GtkWidget* status_page(const char* icon, const char* title, const std::string& description) {
    GtkWidget* page = adw_status_page_new();
    adw_status_page_set_icon_name(ADW_STATUS_PAGE(page), icon);
    adw_status_page_set_title(ADW_STATUS_PAGE(page), title);
    adw_status_page_set_description(ADW_STATUS_PAGE(page), description.c_str());
    return page;
}

GtkWidget* icon_button(const char* icon, const char* tooltip) {
    GtkWidget* button = gtk_button_new_from_icon_name(icon);
    set_tooltip(button, tooltip);
    gtk_widget_set_valign(button, GTK_ALIGN_CENTER);
    gtk_widget_add_css_class(button, "flat");
    return button;
}

GtkWidget* partition_row(const WindowStateRef& state, const Partition& partition, const std::vector<Entry>& entries) {
    const Entry* entry = partition.uuid ? tuvrek::startup_entry_for_uuid(entries, *partition.uuid) : nullptr;
    // Only data partitions reach here, and those always have a filesystem.
    const Filesystem fs = partition.fs.value_or(Filesystem{});

    GtkWidget* row = adw_action_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row),
                                  markup_escaped(tuvrek::partition_display_label(partition)).c_str());

    std::string subtitle = tuvrek::display_name(fs);
    subtitle += kSeparator;
    subtitle += tuvrek::format_size(partition.size);
    subtitle += kSeparator;
    subtitle += partition.path;
    if (!partition.mountpoints.empty()) {
        subtitle += kSeparator;
        subtitle += "mounted at ";
        subtitle += tuvrek::join(partition.mountpoints, ", ");
    }
    adw_action_row_set_subtitle(ADW_ACTION_ROW(row), markup_escaped(subtitle).c_str());

    const bool removable_media = fs.kind == Kind::Exfat || fs.kind == Kind::Vfat;
    adw_action_row_add_prefix(ADW_ACTION_ROW(row), gtk_image_new_from_icon_name(removable_media
                                                                                   ? "drive-removable-media-symbolic"
                                                                                   : "drive-harddisk-symbolic"));

    if (fs.kind != Kind::Other) {
        const std::string family(tuvrek::os_family_label(tuvrek::os_family(fs)));
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), caption_label(family.c_str()));
    }

    if (tuvrek::has_system_mountpoint(partition.mountpoints)) {
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), caption_label("System"));
        return row;
    }
    if (fs.kind == Kind::Luks || fs.kind == Kind::BitLocker) {
        GtkWidget* label = caption_label("Encrypted");
        set_tooltip(label, "Unlock it first; unlocking isn't supported here yet");
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), label);
        return row;
    }
    if (!tuvrek::is_mountable(fs.kind)) return row;

    if (partition.uuid) {
        GtkWidget* sw = gtk_switch_new();
        gtk_switch_set_active(GTK_SWITCH(sw), entry != nullptr);
        gtk_widget_set_valign(sw, GTK_ALIGN_CENTER);
        const std::string tooltip = entry != nullptr ? "Mounted at " + entry->target + " at startup" : "Mount at startup";
        set_tooltip(sw, tooltip.c_str());
        connect_startup_switch(GTK_SWITCH(sw), state, partition,
                               entry != nullptr ? std::optional<std::string>(entry->target) : std::nullopt);

        GtkWidget* label = gtk_label_new("At startup");
        gtk_widget_add_css_class(label, "caption");
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
        gtk_box_append(GTK_BOX(box), label);
        gtk_box_append(GTK_BOX(box), sw);
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), box);
    }

    if (!partition.mountpoints.empty()) {
        GtkWidget* open = icon_button("folder-open-symbolic", "Open in Files");
        connect_open_in_files(GTK_BUTTON(open), state, partition.mountpoints.front());
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), open);
        GtkWidget* unmount = icon_button("media-eject-symbolic", "Unmount");
        connect_unmount_button(GTK_BUTTON(unmount), state, partition.mountpoints.front());
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), unmount);
    } else {
        GtkWidget* mount = gtk_button_new_with_label("Mount");
        gtk_widget_set_valign(mount, GTK_ALIGN_CENTER);
        connect_mount_button(GTK_BUTTON(mount), state, partition);
        adw_action_row_add_suffix(ADW_ACTION_ROW(row), mount);
    }
    return row;
}

GtkWidget* drive_group(const WindowStateRef& state, const Drive& drive, const std::vector<Entry>& entries) {
    GtkWidget* group = adw_preferences_group_new();
    adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group),
                                    markup_escaped(tuvrek::drive_display_name(drive)).c_str());
    std::string description = drive.path;
    description += kSeparator;
    description += tuvrek::format_size(drive.size);
    if (drive.removable) {
        description += kSeparator;
        description += "removable";
    }
    // The group reads its description as markup; escaped, the text shows as written.
    adw_preferences_group_set_description(ADW_PREFERENCES_GROUP(group), markup_escaped(description).c_str());
    for (const auto& partition : drive.partitions) {
        if (tuvrek::is_data_partition(partition)) {
            adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), partition_row(state, partition, entries));
        }
    }
    return group;
}

bool has_shown_partition(const Drive& drive) {
    for (const auto& partition : drive.partitions) {
        if (tuvrek::is_data_partition(partition)) return true;
    }
    return false;
}

}  // namespace

PageData page_fingerprint(DriveListing listing, std::vector<Entry> entries) {
    PageData data;
    if (listing) {
        data.listing = std::move(*listing);
    } else {
        data.listing = std::move(listing.error());
    }
    data.entries = std::move(entries);
    return data;
}

void refresh_drive_list(const WindowStateRef& state, bool force) {
    // The window's tree is gone: nothing left to show a page in.
    if (!state || state->clamp == nullptr) return;

    // A broken startup configuration shows every switch off; its message is not for this page.
    auto loaded = tuvrek::load_automount_config();
    PageData data = page_fingerprint(tuvrek::list_drives(), loaded ? std::move(*loaded) : std::vector<Entry>{});
    if (!force && data == state->page_fingerprint) return;

    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 24);
    if (const auto* error = std::get_if<std::string>(&data.listing)) {
        gtk_box_append(GTK_BOX(page),
                       status_page("dialog-error-symbolic", "Can't Read the Drives", markup_escaped(*error)));
    } else {
        bool any = false;
        for (const auto& drive : std::get<std::vector<Drive>>(data.listing)) {
            if (!has_shown_partition(drive)) continue;
            any = true;
            gtk_box_append(GTK_BOX(page), drive_group(state, drive, data.entries));
        }
        if (!any) {
            gtk_box_append(GTK_BOX(page), status_page("drive-harddisk-symbolic", "No Partitions",
                                                      "Connect a drive and it shows up here."));
        }
    }
    // The rows hold copies of what they need; the data itself is kept only to compare against.
    state->page_fingerprint = std::move(data);

    // Tearing down a page of many shown rows costs about as much as building one; the old page is
    // let go from the main loop once the rebuild has returned.
    GtkWidget* old = adw_clamp_get_child(state->clamp);
    if (old != nullptr) g_object_ref(old);
    adw_clamp_set_child(state->clamp, page);
    if (old != nullptr) {
        g_idle_add_full(
            G_PRIORITY_DEFAULT_IDLE,
            [](gpointer widget) {
                g_object_unref(widget);
                return G_SOURCE_REMOVE;
            },
            old, nullptr);
    }
}

}  // namespace brevane
