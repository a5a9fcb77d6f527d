// The drive page: one group per drive, one row per shown partition, rebuilt whole from fresh data.
#include "page.hpp"

#include <cstdint>
#include <string>
#include <string_view>

#include "markup.hpp"
#include "row_actions.hpp"
#include "tuvrek/filesystem.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/listing.hpp"
#include "tuvrek/text.hpp"

namespace brevane {
namespace {

using tuvrek::Drive;
using tuvrek::Entry;
using tuvrek::Filesystem;
using tuvrek::Partition;
using Kind = tuvrek::Filesystem::Kind;

constexpr std::string_view kSeparator = " \u00b7 ";

// Fingerprint pieces: every text is length-prefixed and every optional marked, so two different
// inputs can never render to the same text.
void put_text(std::string& out, std::string_view text) {
    out += std::to_string(text.size());
    out += ':';
    out += text;
}
void put(std::string& out, std::uint64_t number) {
    out += std::to_string(number);
    out += ';';
}
void put(std::string& out, bool flag) { out += flag ? 'T' : 'F'; }
void put(std::string& out, const std::optional<std::string>& text) {
    if (!text) {
        out += '-';
        return;
    }
    out += '+';
    put_text(out, *text);
}
void put(std::string& out, const std::optional<std::uint32_t>& number) {
    if (!number) {
        out += '-';
        return;
    }
    out += '+';
    put(out, std::uint64_t{*number});
}
void put(std::string& out, const std::optional<Filesystem>& fs) {
    if (!fs) {
        out += '-';
        return;
    }
    out += '+';
    put(out, static_cast<std::uint64_t>(fs->kind));
    put_text(out, fs->name);
}

void put(std::string& out, const Partition& p) {
    put_text(out, p.path);
    put_text(out, p.name);
    put_text(out, p.kind);
    put(out, p.size);
    put(out, p.fs);
    put(out, p.fs_version);
    put(out, p.label);
    put(out, p.part_label);
    put(out, p.part_type);
    put(out, p.uuid);
    put(out, std::uint64_t{p.mountpoints.size()});
    for (const auto& mountpoint : p.mountpoints) put_text(out, mountpoint);
    put(out, p.read_only);
}

void put(std::string& out, const Drive& d) {
    put_text(out, d.path);
    put_text(out, d.name);
    put(out, d.model);
    put(out, d.vendor);
    put(out, d.size);
    put(out, d.removable);
    put(out, std::uint64_t{d.partitions.size()});
    for (const auto& partition : d.partitions) put(out, partition);
}

void put(std::string& out, const Entry& e) {
    put_text(out, e.uuid);
    put_text(out, e.target);
    put(out, e.read_write);
    put(out, e.volume);
    put(out, std::uint64_t{e.uid});
    put(out, std::uint64_t{e.gid});
    put(out, e.filesystem);
}

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

bool can_mount(Kind kind) {
    switch (kind) {
        case Kind::Apfs:
        case Kind::HfsPlus:
        case Kind::Ntfs:
        case Kind::Exfat:
        case Kind::Vfat:
        case Kind::Ext:
        case Kind::Btrfs:
        case Kind::Xfs:
        case Kind::F2fs:
            return true;
        case Kind::Luks:
        case Kind::BitLocker:
        case Kind::Swap:
        case Kind::Other:
            return false;
    }
    return false;
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
    if (!can_mount(fs.kind)) return row;

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

std::string page_fingerprint(const DriveListing& listing, const std::vector<Entry>& entries) {
    std::string out;
    if (listing) {
        out += 'D';
        put(out, std::uint64_t{listing->size()});
        for (const auto& drive : *listing) put(out, drive);
    } else {
        out += 'E';
        put_text(out, listing.error());
    }
    put(out, std::uint64_t{entries.size()});
    for (const auto& entry : entries) put(out, entry);
    return out;
}

void refresh_drive_list(const WindowStateRef& state, bool force) {
    // The window's tree is gone: nothing left to show a page in.
    if (!state || state->clamp == nullptr) return;

    DriveListing listing = tuvrek::list_drives();
    // A broken startup configuration shows every switch off; its message is not for this page.
    auto loaded = tuvrek::load_automount_config();
    std::vector<Entry> entries = loaded ? std::move(*loaded) : std::vector<Entry>{};

    std::string fingerprint = page_fingerprint(listing, entries);
    if (!force && fingerprint == state->page_fingerprint) return;
    state->page_fingerprint = std::move(fingerprint);

    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 24);
    if (!listing) {
        gtk_box_append(GTK_BOX(page),
                       status_page("dialog-error-symbolic", "Can't Read the Drives", markup_escaped(listing.error())));
    } else {
        bool any = false;
        for (const auto& drive : *listing) {
            if (!has_shown_partition(drive)) continue;
            any = true;
            gtk_box_append(GTK_BOX(page), drive_group(state, drive, entries));
        }
        if (!any) {
            gtk_box_append(GTK_BOX(page), status_page("drive-harddisk-symbolic", "No Partitions",
                                                      "Connect a drive and it shows up here."));
        }
    }
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
