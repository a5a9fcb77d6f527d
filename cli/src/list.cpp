#include "list.hpp"

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "partition_arg.hpp"
#include "reply.hpp"
#include "tuvrek/config.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/listing.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {

namespace {

enum class Align { Left, Right };

struct Column {
    std::size_t width;  // in characters; 0: as long as the text
    Align align;
    std::string_view after;
};

// The partition line: path, size, filesystem, origin, label, mount points.
constexpr std::array<Column, 6> kPartitionColumns{{
    {18, Align::Left, " "},
    {9, Align::Right, "  "},
    {8, Align::Left, " "},
    {8, Align::Left, " "},
    {20, Align::Left, " "},
    {0, Align::Left, ""},
}};

// Characters, not bytes: a label in another script lines up like an ASCII one.
std::size_t char_count(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

void append_cell(std::string& line, const Column& column, std::string_view text) {
    std::size_t length = char_count(text);
    std::size_t pad = column.width > length ? column.width - length : 0;
    if (column.align == Align::Right) line.append(pad, ' ');
    line += text;
    if (column.align == Align::Left) line.append(pad, ' ');
    line += column.after;
}

std::vector<const Partition*> shown_partitions(const Drive& drive, bool all) {
    std::vector<const Partition*> shown;
    for (const Partition& partition : drive.partitions)
        if (all || is_data_partition(partition)) shown.push_back(&partition);
    return shown;
}

const Entry* startup_entry(const std::vector<Entry>& entries, const Partition& partition) {
    return partition.uuid ? startup_entry_for_uuid(entries, *partition.uuid) : nullptr;
}

// Device data (labels, models, paths) is whatever the drive's owner wrote: its control characters are
// shown as escapes so they cannot drive the terminal.
std::string partition_line(const Partition& partition, const std::vector<Entry>& entries) {
    std::vector<std::string> shown;
    for (const std::string& mountpoint : partition.mountpoints) shown.push_back(escape_controls(mountpoint));
    std::string mounts = shown.empty() ? std::string("-") : join(shown, ", ");
    if (has_system_mountpoint(partition.mountpoints)) mounts += " (system)";

    const std::array<std::string, 6> cells{
        escape_controls(partition.path),
        format_size(partition.size),
        partition.fs ? escape_controls(display_name(*partition.fs)) : "-",
        partition.fs ? std::string(os_family_label(os_family(*partition.fs))) : "-",
        escape_controls(partition_display_label(partition)),
        mounts,
    };
    std::string line = "  ";
    for (std::size_t i = 0; i < cells.size(); ++i) append_cell(line, kPartitionColumns[i], cells[i]);
    if (const Entry* entry = startup_entry(entries, partition))
        line += "  [startup: " + escape_controls(entry->target) + "]";
    return line;
}

void print_table(const std::vector<Drive>& drives, const std::vector<Entry>& entries, bool all) {
    std::string out;
    for (const Drive& drive : drives) {
        std::vector<const Partition*> shown = shown_partitions(drive, all);
        if (shown.empty()) continue;
        out += "\x1b[1m" + escape_controls(drive_display_name(drive)) + "\x1b[0m  " + escape_controls(drive.path) +
               "  " + format_size(drive.size) + (drive.removable ? "  (removable)" : "") + "\n";
        for (const Partition* partition : shown) out += partition_line(*partition, entries) + "\n";
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

template <class T>
nlohmann::json optional_json(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json partition_to_json(const Partition& partition, const std::vector<Entry>& entries) {
    const Entry* entry = startup_entry(entries, partition);
    return {
        {"path", partition.path},
        {"name", partition_display_label(partition)},
        {"size", partition.size},
        {"uuid", optional_json(partition.uuid)},
        {"filesystem", partition.fs ? nlohmann::json(display_name(*partition.fs)) : nlohmann::json(nullptr)},
        {"origin", partition.fs ? nlohmann::json(os_family_label(os_family(*partition.fs)))
                                : nlohmann::json(nullptr)},
        {"mountpoints", partition.mountpoints},
        {"system", has_system_mountpoint(partition.mountpoints)},
        {"startup", entry ? nlohmann::json(entry->target) : nlohmann::json(nullptr)},
    };
}

nlohmann::json drives_to_json(const std::vector<Drive>& drives, const std::vector<Entry>& entries, bool all) {
    nlohmann::json out = nlohmann::json::array();
    for (const Drive& drive : drives) {
        nlohmann::json partitions = nlohmann::json::array();
        for (const Partition* partition : shown_partitions(drive, all))
            partitions.push_back(partition_to_json(*partition, entries));
        out.push_back({
            {"path", drive.path},
            {"name", drive_display_name(drive)},
            {"size", drive.size},
            {"removable", drive.removable},
            {"partitions", std::move(partitions)},
        });
    }
    return out;
}

}  // namespace

Result<void, CliError> run_list(bool json, bool all) {
    auto drives = read_drives();
    if (!drives) return fail(std::move(drives).error());

    // The startup marks are a courtesy: a broken configuration only hides them.
    std::vector<Entry> entries;
    if (auto config = load_automount_config()) entries = std::move(*config);

    if (json) print_success(true, "", {{"drives", drives_to_json(*drives, entries, all)}});
    else print_table(*drives, entries, all);
    return {};
}

}  // namespace tuvrek
