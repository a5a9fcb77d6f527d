#include "tuvrek/listing.hpp"

#include <array>
#include <charconv>

namespace tuvrek {

OsFamily os_family(const Filesystem& fs) {
    using Kind = Filesystem::Kind;
    switch (fs.kind) {
        case Kind::Apfs:
        case Kind::HfsPlus:
            return OsFamily::MacOS;
        case Kind::Ntfs:
        case Kind::BitLocker:
            return OsFamily::Windows;
        case Kind::Exfat:
        case Kind::Vfat:
            return OsFamily::Shared;
        case Kind::Ext:
        case Kind::Btrfs:
        case Kind::Xfs:
        case Kind::F2fs:
        case Kind::Luks:
        case Kind::Swap:
            return OsFamily::Linux;
        case Kind::Other:
            break;
    }
    return OsFamily::Unknown;
}

std::string_view os_family_label(OsFamily family) {
    switch (family) {
        case OsFamily::MacOS:
            return "macOS";
        case OsFamily::Windows:
            return "Windows";
        case OsFamily::Linux:
            return "Linux";
        case OsFamily::Shared:
            return "Shared";
        case OsFamily::Unknown:
            break;
    }
    return "Unknown";
}

std::string drive_display_name(const Drive& drive) {
    if (drive.model && drive.vendor) {
        // Many models already start with the vendor's name; don't say it twice.
        if (drive.model->find(*drive.vendor) != std::string::npos) return *drive.model;
        return *drive.vendor + " " + *drive.model;
    }
    if (drive.model) return *drive.model;
    if (drive.vendor) return *drive.vendor;
    return drive.name;
}

std::string partition_display_label(const Partition& partition) {
    if (partition.label) return *partition.label;
    if (partition.part_label) return *partition.part_label;
    return partition.name;
}

std::string format_size(std::uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " B";
    static constexpr std::array<const char*, 5> kUnits{"KB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    // The unit is settled before rounding, so 999999999 bytes read 1000.0 MB.
    while (value >= 1000.0 && unit + 1 < kUnits.size()) {
        value /= 1000.0;
        ++unit;
    }
    // to_chars, not printf: the window program runs under the user's locale, which may write "500,1".
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr) + " " + kUnits[unit];
}

}  // namespace tuvrek
