#pragma once
// How drives and partitions are named for a person: the OS family, drive names and sizes.

#include <cstdint>
#include <string>
#include <string_view>

#include "tuvrek/drives.hpp"
#include "tuvrek/filesystem.hpp"

namespace tuvrek {

enum class OsFamily { MacOS, Windows, Linux, Shared, Unknown };

OsFamily os_family(const Filesystem& fs);
// "macOS", "Windows", "Linux", "Shared", "Unknown".
std::string_view os_family_label(OsFamily family);

std::string drive_display_name(const Drive& drive);
// The label, else the partition label, else the kernel name.
std::string partition_display_label(const Partition& partition);
// Powers of 1000 with one decimal: "512 B", "1.0 KB", "500.1 GB".
std::string format_size(std::uint64_t bytes);

}  // namespace tuvrek
