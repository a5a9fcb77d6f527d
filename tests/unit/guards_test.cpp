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

Partition named(std::string path, std::string name, std::optional<std::string> uuid = std::nullopt) {
    Partition p = with_fs(kExt4);
    p.path = std::move(path);
    p.name = std::move(name);
    p.uuid = std::move(uuid);
    return p;
}

TEST(FindPartition, ByPathNameOrUuid) {
    const std::vector<Drive> drives = {
        {"/dev/sda", "sda", {}, {}, 0, false,
         {named("/dev/sda1", "sda1", "67E3-17ED"), named("/dev/sda2", "sda2")}},
        {"/dev/sdb", "sdb", {}, {}, 0, true,
         {named("/dev/sdb2", "sdb2", "3f6c1a2e-8b4d-4e0a-9c7f-5d2b1e6a9f30"),
          named("/dev/mapper/vault", "dm-0"), named("", "")}},
    };
    const struct {
        std::string text;
        const Partition* found;
    } cases[] = {
        {"/dev/sdb2", &drives[1].partitions[0]},
        {"sdb2", &drives[1].partitions[0]},
        {"3f6c1a2e-8b4d-4e0a-9c7f-5d2b1e6a9f30", &drives[1].partitions[0]},
        {"3F6C1A2E-8B4D-4E0A-9C7F-5D2B1E6A9F30", &drives[1].partitions[0]},
        {"67e3-17ed", &drives[0].partitions[0]},
        {"/dev/SDB2", nullptr},
        {"SDB2", nullptr},
        {"/dev/dm-0", &drives[1].partitions[1]},          // name after the /dev/ prefix
        {"/dev/mapper/vault", &drives[1].partitions[1]},  // path
        {"mapper/vault", nullptr},
        {"dev/sda1", nullptr},                            // nothing stripped without the slash
        {"/dev/", &drives[1].partitions[2]},              // empty short form meets the empty name
        {"3f6c1a2e-8b4d-4e0a-9c7f-5d2b1e6a9f3", nullptr},  // uuid must have the same length
        {"/dev/67E3-17ED", nullptr},                      // uuid compared with the whole text
    };
    for (const auto& c : cases) EXPECT_EQ(find_partition(drives, c.text), c.found) << c.text;
}

TEST(FindPartition, FirstInDriveAndPartitionOrderWins) {
    // The first partition matches by name, a later one (on a later drive) by path.
    const std::vector<Drive> drives = {
        {"/dev/sda", "sda", {}, {}, 0, false, {named("/dev/other", "sdc1")}},
        {"/dev/sdc", "sdc", {}, {}, 0, false, {named("/dev/sdc1", "x")}},
    };
    EXPECT_EQ(find_partition(drives, "/dev/sdc1"), &drives[0].partitions[0]);
    EXPECT_EQ(find_partition({}, "sda1"), nullptr);
}

TEST(DisplayLabel, LabelThenPartLabelThenName) {
    Partition p = with_fs(kExt4);
    p.name = "sdb2";
    EXPECT_EQ(partition_display_label(p), "sdb2");
    p.part_label = "Basic data partition";
    EXPECT_EQ(partition_display_label(p), "Basic data partition");
    p.label = "Windows";
    EXPECT_EQ(partition_display_label(p), "Windows");
}

}  // namespace
}  // namespace tuvrek
