#pragma once
// automount.toml: the partitions mounted at startup.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "tuvrek/result.hpp"

namespace tuvrek {

struct Entry {
    std::string uuid;
    std::string target;
    bool read_write = false;
    std::optional<std::uint32_t> volume;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::optional<std::string> filesystem;

    bool operator==(const Entry&) const = default;
};

// TUVREK_DISK_AUTOMOUNT_CONF (or /etc/tuvrek-disk/automount.toml), looked up on every call.
std::string automount_config_path();

// A missing file is an empty list; the error is the message shown to the user.
Result<std::vector<Entry>, std::string> load_automount_config();
// The mapping step alone; path only names the file in messages.
Result<std::vector<Entry>, std::string> parse_automount_config(std::string_view text, std::string_view path);
// The exact file content: header, then the tables in field order.
std::string render_automount_config(const std::vector<Entry>& entries);
Result<void, std::string> save_automount_config(const std::vector<Entry>& entries);

void add_or_replace_entry(std::vector<Entry>& entries, Entry entry);
std::size_t remove_matching_entries(std::vector<Entry>& entries, std::string_view text);
const Entry* startup_entry_for_uuid(const std::vector<Entry>& entries, std::string_view uuid);
nlohmann::json entry_to_json(const std::vector<Entry>& entries);

}  // namespace tuvrek
