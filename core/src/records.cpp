#include "tuvrek/records.hpp"

#include <nlohmann/json.hpp>

#include "state_files.hpp"
#include "tuvrek/folder_path.hpp"
#include "tuvrek/text.hpp"
#include "whole_file.hpp"

namespace tuvrek {
namespace {

std::optional<Record> record_from(const nlohmann::json& element) {
    const nlohmann::json* device = nullptr;
    const nlohmann::json* target = nullptr;
    const nlohmann::json* created_dir = nullptr;
    if (element.is_object()) {
        auto field = [&](const char* key) -> const nlohmann::json* {
            auto it = element.find(key);
            return it == element.end() ? nullptr : &*it;
        };
        device = field("device");
        target = field("target");
        created_dir = field("created_dir");
    } else if (element.is_array() && element.size() == 3) {
        device = &element[0];
        target = &element[1];
        created_dir = &element[2];
    } else {
        return std::nullopt;
    }
    if (!device || !target || !created_dir) return std::nullopt;
    if (!device->is_string() || !target->is_string() || !created_dir->is_boolean()) return std::nullopt;
    const auto& device_text = device->get_ref<const std::string&>();
    const auto& target_text = target->get_ref<const std::string&>();
    // Both become arguments and paths, which a NUL would cut short: such a record is malformed.
    if (holds_nul(device_text) || holds_nul(target_text)) return std::nullopt;
    return Record{device_text, target_text, created_dir->get<bool>()};
}

}  // namespace

std::string records_path() { return (run_folder() / "mounts.json").string(); }

std::vector<Record> parse_mount_records(std::string_view text) {
    if (!is_valid_utf8(text)) return {};
    const auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_array()) return {};
    std::vector<Record> records;
    records.reserve(document.size());
    for (const auto& element : document) {
        auto record = record_from(element);
        if (!record) return {};  // one bad element makes the whole file untrustworthy
        records.push_back(std::move(*record));
    }
    return records;
}

std::vector<Record> read_mount_records() {
    auto content = read_whole_file(records_path());
    if (!content) return {};
    return parse_mount_records(*content);
}

std::string serialize_mount_records(const std::vector<Record>& records) {
    auto list = nlohmann::ordered_json::array();
    for (const auto& record : records) {
        nlohmann::ordered_json element;
        // The library refuses to write invalid UTF-8, so such bytes go in as U+FFFD.
        element["device"] = lossy_utf8(record.device);
        element["target"] = lossy_utf8(record.target);
        element["created_dir"] = record.created_dir;
        list.push_back(std::move(element));
    }
    return list.dump(2) + "\n";
}

Result<void, std::string> write_mount_records(const std::vector<Record>& records) {
    const auto folder = run_folder();
    if (!folder.empty()) {
        if (auto made = make_folders(folder.string(), Links::Follow); !made) return fail(os_error_text(made.error()));
    }
    const std::string path = records_path();
    auto replaced = replace_file(path, path + ".new", serialize_mount_records(records));
    if (!replaced) return fail(os_error_text(replaced.error().errnum));
    return Ok{};
}

Result<std::optional<Record>, std::string> take_record(std::string_view target) {
    auto records = read_mount_records();
    for (auto it = records.begin(); it != records.end(); ++it) {
        // Files written before folders were canonical hold them as typed, such as "/mnt/new/".
        if (it->target != target && canonical_folder(it->target) != target) continue;
        Record taken = std::move(*it);
        records.erase(it);
        if (auto written = write_mount_records(records); !written) return fail(std::move(written).error());
        return std::optional<Record>(std::move(taken));
    }
    return std::optional<Record>();
}

}  // namespace tuvrek
