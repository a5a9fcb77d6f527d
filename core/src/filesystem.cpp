#include "tuvrek/filesystem.hpp"

#include <utility>

#include "tuvrek/text.hpp"

namespace tuvrek {

std::optional<Filesystem> classify_filesystem(std::string_view raw) {
    using Kind = Filesystem::Kind;
    const std::string fstype = trim_white_space(raw);
    if (fstype.empty()) return std::nullopt;
    // Exact, case-sensitive texts as lsblk reports them: "Apfs" is some other filesystem.
    static constexpr std::pair<std::string_view, Kind> kKinds[] = {
        {"apfs", Kind::Apfs},         {"hfs", Kind::HfsPlus},   {"hfsplus", Kind::HfsPlus},
        {"ntfs", Kind::Ntfs},         {"ntfs3", Kind::Ntfs},    {"exfat", Kind::Exfat},
        {"vfat", Kind::Vfat},         {"msdos", Kind::Vfat},    {"ext2", Kind::Ext},
        {"ext3", Kind::Ext},          {"ext4", Kind::Ext},      {"btrfs", Kind::Btrfs},
        {"xfs", Kind::Xfs},           {"f2fs", Kind::F2fs},     {"crypto_LUKS", Kind::Luks},
        {"BitLocker", Kind::BitLocker}, {"swap", Kind::Swap},
    };
    for (const auto& [text, kind] : kKinds) {
        if (fstype == text) {
            Filesystem fs{kind, {}};
            if (kind == Kind::Ext) fs.name = fstype;
            return fs;
        }
    }
    return Filesystem{Kind::Other, fstype};
}

std::string display_name(const Filesystem& fs) {
    using Kind = Filesystem::Kind;
    switch (fs.kind) {
        case Kind::Apfs: return "APFS";
        case Kind::HfsPlus: return "HFS+";
        case Kind::Ntfs: return "NTFS";
        case Kind::Exfat: return "exFAT";
        case Kind::Vfat: return "FAT";
        case Kind::Ext: return fs.name;
        case Kind::Btrfs: return "Btrfs";
        case Kind::Xfs: return "XFS";
        case Kind::F2fs: return "F2FS";
        case Kind::Luks: return "LUKS";
        case Kind::BitLocker: return "BitLocker";
        case Kind::Swap: return "swap";
        case Kind::Other: return fs.name;
    }
    return fs.name;
}

}  // namespace tuvrek
