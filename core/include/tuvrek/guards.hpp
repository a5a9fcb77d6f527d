#pragma once
// Pure tests on partitions: data or not, part of the running system.

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "tuvrek/drives.hpp"

namespace tuvrek {

// The mount points that mark a partition of the running system, compared byte for byte with a
// partition's reported mount points here, and with a canonical folder by is_system_folder.
inline constexpr std::array<std::string_view, 8> SYSTEM_FOLDERS = {
    "/", "/usr", "/var", "/efi", "/boot", "/home", "/boot/efi", "[SWAP]"};

bool is_data_partition(const Partition& partition);
bool has_system_mountpoint(std::span<const std::string> mountpoints);

}  // namespace tuvrek
