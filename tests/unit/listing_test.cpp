#include "tuvrek/listing.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "support.hpp"

namespace tuvrek {
namespace {

TEST(FormatSize, PowersOfThousandWithOneDecimal) {
    struct Case {
        std::uint64_t bytes;
        const char* expected;
    };
    const Case cases[] = {
        {0, "0 B"},
        {512, "512 B"},
        {999, "999 B"},
        {1000, "1.0 KB"},
        {1024, "1.0 KB"},
        {1960, "2.0 KB"},
        {999949, "999.9 KB"},
        {999999, "1000.0 KB"},  // the unit is settled before rounding
        {1000000, "1.0 MB"},
        {999999999, "1000.0 MB"},
        {500107862016, "500.1 GB"},
        {2000398934016, "2.0 TB"},
        {1000000000000000, "1.0 PB"},
        {1000000000000000000, "1000.0 PB"},  // nothing above PB
        {std::numeric_limits<std::uint64_t>::max(), "18446.7 PB"},
    };
    for (const Case& c : cases) EXPECT_EQ(format_size(c.bytes), c.expected) << c.bytes;
}

// The window program runs under the user's locale; a German one writes decimal commas.
TEST(FormatSize, IgnoresTheProcessLocale) {
    test::TempDir dir;
    const auto built = test::run({"localedef", "-i", "de_DE", "-f", "UTF-8", (dir / "de_DE.UTF-8").string()});
    if (built.status != 0) GTEST_SKIP() << "localedef could not build de_DE.UTF-8: " << built.err;
    test::ScopedEnv env;
    env.set("LOCPATH", dir.path().string());
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "the de_DE.UTF-8 locale does not load";
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.1f", 500.1);
    const std::string german = printed;
    const std::string size = format_size(500107862016);
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(german, "500,1") << "the locale did not take effect";
    EXPECT_EQ(size, "500.1 GB");
}

Drive drive(std::optional<std::string> model, std::optional<std::string> vendor) {
    Drive d;
    d.path = "/dev/nvme0n1";
    d.name = "nvme0n1";
    d.model = std::move(model);
    d.vendor = std::move(vendor);
    return d;
}

TEST(DriveDisplayName, VendorOnlyWhenTheModelLacksIt) {
    struct Case {
        std::optional<std::string> model, vendor;
        const char* expected;
    };
    const Case cases[] = {
        {"Samsung SSD 980", "Samsung", "Samsung SSD 980"},
        {"SSD 980", "Samsung", "Samsung SSD 980"},
        {"Extreme SanDisk", "SanDisk", "Extreme SanDisk"},  // contained anywhere, not just at the start
        {"sandisk Extreme", "SanDisk", "SanDisk sandisk Extreme"},  // case counts
        {"Cruzer", "", "Cruzer"},  // an empty vendor is contained in every model
        {"Cruzer", std::nullopt, "Cruzer"},
        {std::nullopt, "Kingston", "Kingston"},
        {std::nullopt, std::nullopt, "nvme0n1"},
    };
    for (const Case& c : cases) EXPECT_EQ(drive_display_name(drive(c.model, c.vendor)), c.expected) << c.expected;
}

TEST(DisplayLabel, LabelThenPartLabelThenName) {
    Partition p;
    p.name = "sdb2";
    EXPECT_EQ(partition_display_label(p), "sdb2");
    p.part_label = "Basic data partition";
    EXPECT_EQ(partition_display_label(p), "Basic data partition");
    p.label = "Windows";
    EXPECT_EQ(partition_display_label(p), "Windows");
}

TEST(OsFamily, EveryFilesystemKindHasItsFamily) {
    using Kind = Filesystem::Kind;
    struct Case {
        Kind kind;
        const char* label;
    };
    const Case cases[] = {
        {Kind::Apfs, "macOS"},   {Kind::HfsPlus, "macOS"},    {Kind::Ntfs, "Windows"}, {Kind::BitLocker, "Windows"},
        {Kind::Exfat, "Shared"}, {Kind::Vfat, "Shared"},      {Kind::Ext, "Linux"},    {Kind::Btrfs, "Linux"},
        {Kind::Xfs, "Linux"},    {Kind::F2fs, "Linux"},       {Kind::Luks, "Linux"},   {Kind::Swap, "Linux"},
        {Kind::Other, "Unknown"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(os_family_label(os_family(Filesystem{c.kind, ""})), c.label) << static_cast<int>(c.kind);
    }
}

}  // namespace
}  // namespace tuvrek
