#pragma once
// mounts.json: the mounts this system made, and whether it created their folders.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tuvrek/result.hpp"

namespace tuvrek {

struct Record {
    std::string device;
    std::string target;
    bool created_dir = false;

    bool operator==(const Record&) const = default;
};

// TUVREK_DISK_RUN_DIR (or /run/tuvrek-disk) joined with "mounts.json".
std::string records_path();

// Never fails: anything unreadable or of the wrong shape reads as an empty list.
std::vector<Record> read_mount_records();
std::vector<Record> parse_mount_records(std::string_view text);

// The file's exact bytes: pretty-printed, two-blank indent, final line feed; "[]\n" when empty.
std::string serialize_mount_records(const std::vector<Record>& records);

// Replaces the file whole (written to a new mounts.json.new.XXXXXX beside it, flushed, renamed over), so
// a crash mid-write or another run never leaves a cut list that would read as no records. The run
// folder is made 0755 and the file is 0644, whatever the umask. The error is the system's text.
Result<void, std::string> write_mount_records(const std::vector<Record>& records);

// Removes the first record for this canonical target and returns it. A stored target whose canonical
// form equals it matches too (files written before folders were canonical hold "/mnt/new/").
Result<std::optional<Record>, std::string> take_record(std::string_view target);

}  // namespace tuvrek
