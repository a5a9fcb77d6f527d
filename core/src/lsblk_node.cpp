#include "lsblk_node.hpp"

#include <charconv>
#include <utility>

#include "tuvrek/text.hpp"

namespace tuvrek {

using nlohmann::json;

namespace {

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

const json* member(const json& node, const char* key) {
    if (!node.is_object()) return nullptr;
    auto it = node.find(key);
    return it == node.end() ? nullptr : &*it;
}

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

}  // namespace tuvrek
