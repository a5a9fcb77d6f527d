#include "tuvrek/partition_lookup.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tuvrek {
namespace {

Partition named(std::string path, std::string name, std::optional<std::string> uuid = std::nullopt) {
    Partition p;
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

}  // namespace
}  // namespace tuvrek
