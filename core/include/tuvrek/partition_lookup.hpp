#pragma once
// Finding a partition from what a person typed: its path, its kernel name or its UUID.

#include <string_view>
#include <vector>

#include "tuvrek/drives.hpp"

namespace tuvrek {

// By path, by kernel name (a leading "/dev/" removed) or by UUID (ASCII case folded); first match wins.
const Partition* find_partition(const std::vector<Drive>& drives, std::string_view text);

}  // namespace tuvrek
