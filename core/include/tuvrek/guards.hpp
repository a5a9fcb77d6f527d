#pragma once
// Pure tests on partitions: data or not, part of the running system, lookup, the name a person sees.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tuvrek/drives.hpp"

namespace tuvrek {

bool is_data_partition(const Partition& partition);
bool has_system_mountpoint(std::span<const std::string> mountpoints);
// By path, by kernel name (a leading "/dev/" removed) or by UUID (ASCII case folded); first match wins.
const Partition* find_partition(const std::vector<Drive>& drives, std::string_view text);
std::string partition_display_label(const Partition& partition);

}  // namespace tuvrek
