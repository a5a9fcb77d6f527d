#pragma once
// One node of lsblk's JSON document: its fields as texts, flags and sizes, and the partitions of
// its tree.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tuvrek/drives.hpp"

namespace tuvrek {

// The member of an object node; nothing for a missing key or a node that is no object.
const nlohmann::json* member(const nlohmann::json& node, const char* key);
// A string member trimmed of white space; blank, null, missing and non-strings are absent.
std::optional<std::string> text_field(const nlohmann::json& node, const char* key);
// The same, absent as the empty text.
std::string required_text(const nlohmann::json& node, const char* key);
// true, 1 or "1"; anything else is false.
bool flag_field(const nlohmann::json& node, const char* key);

// A node's "size" as bytes; 0 for anything malformed.
std::uint64_t json_size(const nlohmann::json& node);

// Walks one device node depth-first, appending the partitions it yields.
void parse_partition(const nlohmann::json& node, std::vector<Partition>& out);

}  // namespace tuvrek
