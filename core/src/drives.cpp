#include "tuvrek/drives.hpp"

#include <charconv>
#include <cstdlib>
#include <utility>

#include "tuvrek/process.hpp"
#include "tuvrek/text.hpp"
#include "whole_file.hpp"

namespace tuvrek {
namespace {

using nlohmann::json;

const json* member(const json& node, const char* key) {
    if (!node.is_object()) return nullptr;
    auto it = node.find(key);
    return it == node.end() ? nullptr : &*it;
}

// A string value trimmed of white space; blank, null, missing and non-strings are absent.
std::optional<std::string> text_field(const json& node, const char* key) {
    const json* value = member(node, key);
    if (!value || !value->is_string()) return std::nullopt;
    std::string text = trim_white_space(lossy_utf8(value->get_ref<const std::string&>()));
    if (text.empty()) return std::nullopt;
    return text;
}

std::string required_text(const json& node, const char* key) { return text_field(node, key).value_or(""); }

bool flag_field(const json& node, const char* key) {
    const json* value = member(node, key);
    if (!value) return false;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number_unsigned()) return value->get<std::uint64_t>() == 1;
    if (value->is_string()) return value->get_ref<const std::string&>() == "1";
    return false;
}

std::vector<std::string> mountpoints_field(const json& node) {
    std::vector<std::string> mountpoints;
    const json* value = member(node, "mountpoints");
    if (!value || !value->is_array()) return mountpoints;
    for (const auto& element : *value) {
        if (element.is_string()) mountpoints.push_back(lossy_utf8(element.get_ref<const std::string&>()));
    }
    return mountpoints;
}

std::optional<Filesystem> filesystem_field(const json& node) {
    auto fstype = text_field(node, "fstype");
    return fstype ? classify_filesystem(*fstype) : std::nullopt;
}

Partition partition_from(const json& node, std::string kind, std::optional<Filesystem> fs) {
    Partition partition;
    partition.path = required_text(node, "path");
    partition.name = required_text(node, "name");
    partition.kind = std::move(kind);
    partition.size = json_size(node);
    partition.fs = std::move(fs);
    partition.fs_version = text_field(node, "fsver");
    partition.label = text_field(node, "label");
    partition.part_label = text_field(node, "partlabel");
    partition.part_type = text_field(node, "parttypename");
    partition.uuid = text_field(node, "uuid");
    partition.mountpoints = mountpoints_field(node);
    partition.read_only = flag_field(node, "ro");
    return partition;
}

}  // namespace

std::uint64_t json_size(const json& node) {
    const json* size = member(node, "size");
    if (!size) return 0;
    if (size->is_number_unsigned()) return size->get<std::uint64_t>();
    if (!size->is_string()) return 0;
    std::string_view text = size->get_ref<const std::string&>();
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return 0;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return 0;
    return value;
}

void parse_partition(const json& node, std::vector<Partition>& out) {
    // The tree comes from device data anyone can shape, so it is walked with an explicit stack
    // rather than recursion. Children are pushed in reverse to keep depth-first pre-order.
    std::vector<const json*> pending{&node};
    while (!pending.empty()) {
        const json& current = *pending.back();
        pending.pop_back();
        std::string kind = required_text(current, "type");
        auto fs = filesystem_field(current);
        const bool container = (kind == "disk" || kind == "loop") && !fs;
        if (!container) out.push_back(partition_from(current, std::move(kind), std::move(fs)));
        const json* children = member(current, "children");
        if (children && children->is_array()) {
            for (auto child = children->rbegin(); child != children->rend(); ++child) pending.push_back(&*child);
        }
    }
}

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
