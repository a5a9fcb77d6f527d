#include "tuvrek/guards.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tuvrek {
namespace {

Partition with_fs(std::optional<Filesystem> fs) {
    Partition partition;
    partition.path = "/dev/sdb1";
    partition.name = "sdb1";
    partition.kind = "part";
    partition.fs = std::move(fs);
    return partition;
}

const Filesystem kExt4{Filesystem::Kind::Ext, "ext4"};
const Filesystem kVfat{Filesystem::Kind::Vfat, ""};

TEST(DataPartition, ExcludesEmptyEfiAndSwap) {
    struct Case {
        const char* what;
        Partition partition;
        bool data;
    };
    auto typed = [](Filesystem fs, std::optional<std::string> part_type, std::optional<std::string> part_label,
                    std::optional<std::string> label = std::nullopt) {
        Partition p = with_fs(fs);
        p.part_type = std::move(part_type);
        p.part_label = std::move(part_label);
        p.label = std::move(label);
        return p;
    };
    Partition no_fs = typed(kExt4, "Linux filesystem", "data", "Data");
    no_fs.fs.reset();
    const Case cases[] = {
        {"plain ext4", with_fs(kExt4), true},
        {"no filesystem, whatever its labels", no_fs, false},
        {"GPT type EFI System", typed(kVfat, "EFI System", std::nullopt), false},
        {"EFI type in other letter case", typed(kVfat, "efi SYSTEM", std::nullopt), false},
        {"a longer type text", typed(kVfat, "EFI System Partition", std::nullopt), true},
        {"EFI partition label", typed(kVfat, "Microsoft basic data", "EFI System Partition"), false},
        {"EFI label in lower case", typed(kVfat, std::nullopt, "efi system partition"), true},
        {"filesystem label is not looked at", typed(kVfat, std::nullopt, std::nullopt, "EFI System Partition"), true},
        {"swap", with_fs(Filesystem{Filesystem::Kind::Swap, ""}), false},
        {"other filesystem", with_fs(Filesystem{Filesystem::Kind::Other, "squashfs"}), true},
    };
    for (const auto& c : cases) EXPECT_EQ(is_data_partition(c.partition), c.data) << c.what;
}

TEST(SystemMountpoint, ExactTextsOnly) {
    const struct {
        std::vector<std::string> mountpoints;
        bool system;
    } cases[] = {
        {{}, false},
        {{"/"}, true},
        {{"/boot"}, true},
        {{"/boot/efi"}, true},
        {{"/efi"}, true},
        {{"/home"}, true},
        {{"/var"}, true},
        {{"/usr"}, true},
        {{"/mnt/data", "[SWAP]"}, true},
        {{"/mnt/boot"}, false},
        {{"/home/"}, false},
        {{"/usr/local"}, false},
        {{"[swap]"}, false},
        {{""}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(has_system_mountpoint(c.mountpoints), c.system) << testing::PrintToString(c.mountpoints);
    }
}

TEST(SystemMountpoint, DataPartitionOnSystemFolderIsBoth) {
    Partition p = with_fs(kExt4);
    p.mountpoints = {"/boot/efi"};
    EXPECT_TRUE(is_data_partition(p));
    EXPECT_TRUE(has_system_mountpoint(p.mountpoints));
}

}  // namespace
}  // namespace tuvrek
