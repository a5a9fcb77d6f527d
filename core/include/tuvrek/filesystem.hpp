#pragma once
// The kind of filesystem on a partition, classified from lsblk's FSTYPE text.

#include <optional>
#include <string>
#include <string_view>

namespace tuvrek {

struct Filesystem {
    enum class Kind { Apfs, HfsPlus, Ntfs, Exfat, Vfat, Ext, Btrfs, Xfs, F2fs, Luks, BitLocker, Swap, Other };
    Kind kind = Kind::Other;
    std::string name;  // the FSTYPE text, kept for Ext and Other only

    bool operator==(const Filesystem&) const = default;
};

// From an FSTYPE text (trimmed of white space first); blank gives nothing.
std::optional<Filesystem> classify_filesystem(std::string_view fstype);

// "APFS", "HFS+", "NTFS", ..., or the held name for Ext and Other.
std::string display_name(const Filesystem& fs);

}  // namespace tuvrek
