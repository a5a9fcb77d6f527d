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
    static constexpr std::string_view kSystemMountpoints[] = {
        "/", "/boot", "/boot/efi", "/efi", "/home", "/var", "/usr", "[SWAP]",
    };
    return std::any_of(mountpoints.begin(), mountpoints.end(), [](const std::string& mountpoint) {
        return std::find(std::begin(kSystemMountpoints), std::end(kSystemMountpoints), mountpoint) !=
               std::end(kSystemMountpoints);
    });
}

const Partition* find_partition(const std::vector<Drive>& drives, std::string_view text) {
    const std::string_view short_form =
        (text.size() > 4 && text.starts_with("/dev/")) ? text.substr(5) : text;
    for (const auto& drive : drives) {
        for (const auto& partition : drive.partitions) {
            if (partition.path == text || partition.name == short_form ||
                (partition.uuid && ascii_iequal(*partition.uuid, text))) {
                return &partition;
            }
        }
    }
    return nullptr;
}

std::string partition_display_label(const Partition& partition) {
    if (partition.label) return *partition.label;
    if (partition.part_label) return *partition.part_label;
    return partition.name;
}

}  // namespace tuvrek
