#pragma once
// The kernel's mount table, /proc/self/mountinfo.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tuvrek {

struct MountInfoEntry {
    std::string mount_point;
    std::string fs_type;
    std::string source;
    std::vector<std::string> options;        // per-mount options
    std::vector<std::string> super_options;  // the filesystem's own; empty when the line has none

    // The kernel may keep a mount asked for read/write read-only (a journaled HFS+ volume), and
    // then only the superblock options say so.
    bool read_only() const;

    bool operator==(const MountInfoEntry&) const = default;
};

// TUVREK_DISK_MOUNTINFO or /proc/self/mountinfo; never fails (unreadable reads as empty).
std::vector<MountInfoEntry> read_mountinfo();
std::vector<MountInfoEntry> parse_mountinfo(std::string_view text);
std::optional<MountInfoEntry> parse_mountinfo_line(std::string_view line);
std::string unescape_mount_field(std::string_view field);

// The entry mounted on exactly this folder, the last one when several are stacked.
std::optional<MountInfoEntry> mount_at(std::string_view folder);

}  // namespace tuvrek
