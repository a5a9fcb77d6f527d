#include "tuvrek/drives.hpp"

#include <cstdlib>
#include <utility>

#include <nlohmann/json.hpp>

#include "lsblk_node.hpp"
#include "tuvrek/process.hpp"
#include "tuvrek/text.hpp"
#include "whole_file.hpp"

namespace tuvrek {

using nlohmann::json;

Result<std::vector<Drive>, std::string> parse_lsblk_document(std::string_view text) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        // The library's description quotes the bytes it stopped at, which may cut a character.
        return fail("lsblk output: " + lossy_utf8(e.what()));
    }
    const json* devices = member(document, "blockdevices");
    if (!devices || !devices->is_array()) return fail(std::string("lsblk output has no blockdevices"));

    std::vector<Drive> drives;
    for (const auto& device : *devices) {
        const std::string kind = required_text(device, "type");
        if (kind == "rom") continue;
        std::vector<Partition> partitions;
        parse_partition(device, partitions);
        if (kind == "loop" && partitions.empty()) continue;
        Drive drive;
        drive.path = required_text(device, "path");
        drive.name = required_text(device, "name");
        drive.model = text_field(device, "model");
        drive.vendor = text_field(device, "vendor");
        drive.size = json_size(device);
        drive.removable = flag_field(device, "rm");
        drive.partitions = std::move(partitions);
        drives.push_back(std::move(drive));
    }
    return drives;
}

void add_recorded_mounts(std::vector<Drive>& drives, const std::vector<MountInfoEntry>& table,
                         const std::vector<Record>& records) {
    std::vector<const Record*> live;
    for (const auto& record : records) {
        for (const auto& entry : table) {
            if (entry.mount_point == record.target) {
                live.push_back(&record);
                break;
            }
        }
    }
    if (live.empty()) return;
    for (auto& drive : drives) {
        for (auto& partition : drive.partitions) {
            for (const Record* record : live) {
                if (record->device != partition.path) continue;
                bool listed = false;
                for (const auto& mountpoint : partition.mountpoints) listed = listed || mountpoint == record->target;
                if (!listed) partition.mountpoints.push_back(record->target);
            }
        }
    }
}

Result<std::vector<Drive>, std::string> list_drives() {
    std::string text;
    if (const char* override_path = std::getenv("TUVREK_DISK_LSBLK_JSON")) {
        auto content = read_whole_file(override_path);
        if (!content) return fail(lossy_utf8(override_path) + ": " + os_error_text(content.error()));
        if (!is_valid_utf8(*content)) return fail(lossy_utf8(override_path) + ": stream did not contain valid UTF-8");
        text = std::move(*content);
    } else {
        auto run = run_process({"lsblk", "--json", "--bytes", "--output", std::string(kLsblkColumns)},
                               {Stream::Null, Stream::Capture, Stream::Capture});
        if (!run) return fail("lsblk: " + os_error_text(run.error()));
        if (!run->status.success()) return fail("lsblk: " + trim_white_space(lossy_utf8(run->err)));
        text = lossy_utf8(run->out);
    }

    auto drives = parse_lsblk_document(text);
    if (!drives) return drives;
    add_recorded_mounts(*drives, read_mountinfo(), read_mount_records());
    return drives;
}

}  // namespace tuvrek
