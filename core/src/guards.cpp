#include "tuvrek/guards.hpp"

#include <algorithm>

#include "tuvrek/text.hpp"

namespace tuvrek {

bool is_data_partition(const Partition& partition) {
    if (!partition.fs) return false;
    if (partition.part_type && ascii_iequal(*partition.part_type, "efi system")) return false;
    if (partition.part_label && *partition.part_label == "EFI System Partition") return false;
    if (partition.fs->kind == Filesystem::Kind::Swap) return false;
    return true;
}

bool has_system_mountpoint(std::span<const std::string> mountpoints) {
    return std::any_of(mountpoints.begin(), mountpoints.end(), [](const std::string& mountpoint) {
        return std::find(SYSTEM_FOLDERS.begin(), SYSTEM_FOLDERS.end(), mountpoint) != SYSTEM_FOLDERS.end();
    });
}

}  // namespace tuvrek
