#pragma once
// The block-device list: drives and their partitions, read from lsblk's JSON document.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tuvrek/filesystem.hpp"
#include "tuvrek/mountinfo.hpp"
#include "tuvrek/records.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

struct Partition {
    std::string path;
    std::string name;
    std::string kind;
    std::uint64_t size = 0;
    std::optional<Filesystem> fs;
    std::optional<std::string> fs_version;
    std::optional<std::string> label;
    std::optional<std::string> part_label;
    std::optional<std::string> part_type;
    std::optional<std::string> uuid;
    std::vector<std::string> mountpoints;
    bool read_only = false;

    bool operator==(const Partition&) const = default;
};

struct Drive {
    std::string path;
    std::string name;
    std::optional<std::string> model;
    std::optional<std::string> vendor;
    std::uint64_t size = 0;
    bool removable = false;
    std::vector<Partition> partitions;

    bool operator==(const Drive&) const = default;
};

// The columns asked of lsblk, in this order.
inline constexpr std::string_view kLsblkColumns =
    "NAME,PATH,TYPE,SIZE,FSTYPE,FSVER,LABEL,PARTLABEL,PARTTYPENAME,UUID,MOUNTPOINTS,MODEL,VENDOR,RM,RO";

// Runs lsblk (or reads TUVREK_DISK_LSBLK_JSON), parses it and adds the recorded mounts still in the
// kernel's table. The error is the text shown to the user.
Result<std::vector<Drive>, std::string> list_drives();

// The parse step alone: the document text to drives, without the recorded mounts.
Result<std::vector<Drive>, std::string> parse_lsblk_document(std::string_view text);

// Adds each record's target to its partition's mount points while the kernel still shows it mounted.
void add_recorded_mounts(std::vector<Drive>& drives, const std::vector<MountInfoEntry>& table,
                         const std::vector<Record>& records);

}  // namespace tuvrek
