#include "tuvrek/planner.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "texts.hpp"
#include "tuvrek/cli_error.hpp"

namespace tuvrek {
namespace {

using FsKind = Filesystem::Kind;
using Err = PlanError::Kind;

using test::kApfsWrite;
using test::kFileVault;
using test::kFolderNotEmpty;
using test::kHfs;
using test::kNotAbsolute;
using test::kOwners;
const std::string kFuseMac = test::fuse_root("/mnt/mac");

Partition part(std::optional<Filesystem> fs, std::vector<std::string> mountpoints = {}) {
    Partition p;
    p.path = "/dev/sdb2";
    p.name = "sdb2";
    p.kind = "part";
    p.fs = std::move(fs);
    p.mountpoints = std::move(mountpoints);
    return p;
}

Filesystem fs(FsKind kind, std::string name = {}) { return Filesystem{kind, std::move(name)}; }

MountRequest req(bool read_write = false, std::optional<std::uint32_t> volume = std::nullopt,
                 std::string folder = "/mnt/mac") {
    return MountRequest{std::move(folder), read_write, volume, 1000, 1000};
}

ApfsSupport apfs(bool module, bool fuse, std::set<std::string> installed = {},
                 std::string headers = "linux-headers") {
    return ApfsSupport{std::move(headers), std::move(installed), module, fuse};
}

std::vector<std::string> mount_cmd(std::string fstype, std::string options, std::string target = "/mnt/mac") {
    return {"mount", "-t", std::move(fstype), "-o", std::move(options), "/dev/sdb2", std::move(target)};
}

// ---- refusals ---------------------------------------------------------------------------------

struct RefusalCase {
    const char* name;
    Partition partition;
    MountRequest request;
    Err kind;
    std::string message;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class PlanRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PlanRefusal, FirstApplicableRefusalWins) {
    const RefusalCase& c = GetParam();
    auto result = plan_mount(c.partition, c.request, apfs(true, true));
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind, c.kind);
    const CliError error = plan_error_message(result.error());
    EXPECT_EQ(error.message, c.message);
    EXPECT_EQ(error.code, result.error().code());
    EXPECT_EQ(error.exit, 3);
    EXPECT_TRUE(error.details.is_null());
}

INSTANTIATE_TEST_SUITE_P(
    Planner, PlanRefusal,
    ::testing::Values(
        RefusalCase{"NoFilesystemBeforeMountPoints", part(std::nullopt, {"/boot"}), req(), Err::NoFilesystem,
                    "This partition has no filesystem to mount."},
        RefusalCase{"SwapInUse", part(fs(FsKind::Swap), {"[SWAP]"}), req(), Err::SystemPartition,
                    "This partition is part of the running system (mounted at [SWAP])."},
        RefusalCase{"SystemNamesAllMountPoints", part(fs(FsKind::Ext, "ext4"), {"/boot", "/mnt/x"}), req(),
                    Err::SystemPartition, "This partition is part of the running system (mounted at /boot, /mnt/x)."},
        RefusalCase{"SystemFolderLaterInList", part(fs(FsKind::Vfat), {"/mnt/x", "/boot/efi"}), req(),
                    Err::SystemPartition,
                    "This partition is part of the running system (mounted at /mnt/x, /boot/efi)."},
        RefusalCase{"SystemBeforeVolumeAndFolder", part(fs(FsKind::Ext, "ext4"), {"/"}), req(false, 1, "rel"),
                    Err::SystemPartition, "This partition is part of the running system (mounted at /)."},
        RefusalCase{"AlreadyMountedTwice", part(fs(FsKind::Ntfs), {"/mnt/x", "/media/y"}), req(),
                    Err::AlreadyMounted, "This partition is already mounted at /mnt/x, /media/y."},
        RefusalCase{"TrailingSlashIsNotSystem", part(fs(FsKind::Ext, "ext4"), {"/boot/"}), req(),
                    Err::AlreadyMounted, "This partition is already mounted at /boot/."},
        RefusalCase{"SystemComparisonIsCaseSensitive", part(fs(FsKind::Ext, "ext4"), {"/Home"}), req(),
                    Err::AlreadyMounted, "This partition is already mounted at /Home."},
        RefusalCase{"VolumeBeforeEncrypted", part(fs(FsKind::BitLocker)), req(false, 2), Err::VolumeNotApfs,
                    "A volume number only applies to APFS partitions."},
        RefusalCase{"VolumeZeroCountsAsGiven", part(fs(FsKind::Ext, "ext4")), req(false, 0), Err::VolumeNotApfs,
                    "A volume number only applies to APFS partitions."},
        RefusalCase{"VolumeBeforeFolder", part(fs(FsKind::Ntfs)), req(false, 1, "mnt/mac"), Err::VolumeNotApfs,
                    "A volume number only applies to APFS partitions."},
        RefusalCase{"RelativeFolderBeforeEncrypted", part(fs(FsKind::BitLocker)), req(false, std::nullopt, "mnt/mac"),
                    Err::FolderNotAbsolute, kNotAbsolute},
        RefusalCase{"EmptyFolder", part(fs(FsKind::Apfs)), req(false, 1, ""), Err::FolderNotAbsolute, kNotAbsolute},
        RefusalCase{"BitLocker", part(fs(FsKind::BitLocker)), req(), Err::Encrypted,
                    "This partition is encrypted with BitLocker. Unlock it first; unlocking isn't supported here "
                    "yet."},
        RefusalCase{"Luks", part(fs(FsKind::Luks)), req(true), Err::Encrypted,
                    "This partition is encrypted with LUKS. Unlock it first; unlocking isn't supported here yet."},
        RefusalCase{"SwapNotInUse", part(fs(FsKind::Swap)), req(), Err::Unsupported,
                    "Mounting swap partitions isn't supported."},
        RefusalCase{"OtherNamesItsType", part(fs(FsKind::Other, "zfs_member")), req(true), Err::Unsupported,
                    "Mounting zfs_member partitions isn't supported."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlanErrorMessage, EveryCodeAndFolderMessage) {
    struct Case {
        PlanError error;
        std::string code;
        std::string message;
    };
    const Case cases[] = {
        {{Err::NoFilesystem, {}, {}}, "no-filesystem", "This partition has no filesystem to mount."},
        {{Err::SystemPartition, "/, /home", {}}, "system-partition",
         "This partition is part of the running system (mounted at /, /home)."},
        {{Err::AlreadyMounted, {}, {"/mnt/a"}}, "already-mounted", "This partition is already mounted at /mnt/a."},
        {{Err::Encrypted, "LUKS", {}}, "encrypted",
         "This partition is encrypted with LUKS. Unlock it first; unlocking isn't supported here yet."},
        {{Err::Unsupported, "swap", {}}, "unsupported", "Mounting swap partitions isn't supported."},
        {{Err::VolumeNotApfs, {}, {}}, "volume-not-apfs", "A volume number only applies to APFS partitions."},
        {{Err::FolderNotAbsolute, {}, {}}, "folder-not-absolute", kNotAbsolute},
        {{Err::FolderNotAFolder, {}, {}}, "folder-not-a-folder", "The mount folder exists and isn't a folder."},
        {{Err::FolderNotEmpty, {}, {}}, "folder-not-empty", kFolderNotEmpty},
        {{Err::FolderInUse, {}, {}}, "folder-in-use", "Something is already mounted on that folder."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.error.code(), c.code);
        const CliError error = plan_error_message(c.error);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(error.exit, 3);
        EXPECT_TRUE(error.details.is_null());
    }
}

// ---- plans ------------------------------------------------------------------------------------

struct PlanCase {
    const char* name;
    Partition partition;
    MountRequest request;
    ApfsSupport support;
    MountPlan expected;
};

MountPlan expect(std::string filesystem, bool read_write, std::vector<std::string> command,
                 std::vector<std::string> warnings = {}, std::vector<std::string> missing = {},
                 std::optional<std::string> module = std::nullopt, bool experimental = false,
                 bool fallback = false, std::string target = "/mnt/mac") {
    return MountPlan{"/dev/sdb2", std::move(target), std::move(filesystem), read_write, std::move(missing),
                     std::move(module), std::move(command), experimental, fallback, std::move(warnings)};
}

void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

class PlanMount : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanMount, BuildsThePlan) {
    const PlanCase& c = GetParam();
    auto result = plan_mount(c.partition, c.request, c.support);
    ASSERT_TRUE(result.has_value()) << plan_error_message(result.error()).message;
    const MountPlan& plan = *result;
    EXPECT_EQ(plan.device, c.expected.device);
    EXPECT_EQ(plan.target, c.expected.target);
    EXPECT_EQ(plan.filesystem, c.expected.filesystem);
    EXPECT_EQ(plan.read_write, c.expected.read_write);
    EXPECT_EQ(plan.missing_packages, c.expected.missing_packages);
    EXPECT_EQ(plan.load_module, c.expected.load_module);
    EXPECT_EQ(plan.command, c.expected.command);
    EXPECT_EQ(plan.experimental, c.expected.experimental);
    EXPECT_EQ(plan.may_fall_back_to_read_only, c.expected.may_fall_back_to_read_only);
    EXPECT_EQ(plan.warnings, c.expected.warnings);
}

const ApfsSupport kNothing = apfs(false, false);
const ApfsSupport kBoth = apfs(true, true);
ApfsSupport with_ntfs(std::string driver) {
    ApfsSupport support = kNothing;
    support.ntfs_driver = std::move(driver);
    return support;
}

INSTANTIATE_TEST_SUITE_P(
    Filesystems, PlanMount,
    ::testing::Values(
        PlanCase{"HfsPlusReadOnly", part(fs(FsKind::HfsPlus)), req(), kNothing,
                 expect("HFS+", false, mount_cmd("hfsplus", "ro,uid=1000,gid=1000"))},
        PlanCase{"HfsPlusReadWriteMayFallBack", part(fs(FsKind::HfsPlus)), req(true), kNothing,
                 expect("HFS+", true, mount_cmd("hfsplus", "rw,uid=1000,gid=1000"), {kHfs}, {}, std::nullopt, false,
                        true)},
        PlanCase{"NtfsReadOnly", part(fs(FsKind::Ntfs)), req(), kNothing,
                 expect("NTFS", false, mount_cmd("ntfs3", "ro,uid=1000,gid=1000"))},
        PlanCase{"NtfsReadWriteHasNoWarning", part(fs(FsKind::Ntfs)), req(true), kNothing,
                 expect("NTFS", true, mount_cmd("ntfs3", "rw,uid=1000,gid=1000"))},
        // The kernel's driver: ntfs3 where it has that, its own read/write ntfs otherwise, and ntfs3 again
        // where it has neither (the failed mount then says why).
        PlanCase{"NtfsOnNtfs3", part(fs(FsKind::Ntfs)), req(true), with_ntfs("ntfs3"),
                 expect("NTFS", true, mount_cmd("ntfs3", "rw,uid=1000,gid=1000"))},
        PlanCase{"NtfsOnTheKernelsOwnDriver", part(fs(FsKind::Ntfs)), req(true), with_ntfs("ntfs"),
                 expect("NTFS", true, mount_cmd("ntfs", "rw,uid=1000,gid=1000"))},
        PlanCase{"NtfsReadOnlyOnTheKernelsOwnDriver", part(fs(FsKind::Ntfs)), req(), with_ntfs("ntfs"),
                 expect("NTFS", false, mount_cmd("ntfs", "ro,uid=1000,gid=1000"))},
        PlanCase{"Exfat", part(fs(FsKind::Exfat)), req(true), kNothing,
                 expect("exFAT", true, mount_cmd("exfat", "rw,uid=1000,gid=1000"))},
        PlanCase{"VfatOwnerFromRequest", part(fs(FsKind::Vfat)), MountRequest{"/mnt/mac", false, {}, 0, 4294967295u},
                 kNothing, expect("FAT", false, mount_cmd("vfat", "ro,uid=0,gid=4294967295"))},
        PlanCase{"Ext4ReadWrite", part(fs(FsKind::Ext, "ext4")), req(true), kNothing,
                 expect("ext4", true, mount_cmd("ext4", "rw"), {kOwners})},
        PlanCase{"Ext2PassesItsOwnType", part(fs(FsKind::Ext, "ext2")), req(), kNothing,
                 expect("ext2", false, mount_cmd("ext2", "ro"))},
        PlanCase{"BtrfsReadWrite", part(fs(FsKind::Btrfs)), req(true), kNothing,
                 expect("Btrfs", true, mount_cmd("btrfs", "rw"), {kOwners})},
        PlanCase{"XfsReadOnly", part(fs(FsKind::Xfs)), req(), kNothing,
                 expect("XFS", false, mount_cmd("xfs", "ro"))},
        PlanCase{"F2fsReadWrite", part(fs(FsKind::F2fs)), req(true), kNothing,
                 expect("F2FS", true, mount_cmd("f2fs", "rw"), {kOwners})},
        PlanCase{"RootFolderPassesThePlanner", part(fs(FsKind::Ntfs)), req(false, std::nullopt, "/"), kNothing,
                 expect("NTFS", false, mount_cmd("ntfs3", "ro,uid=1000,gid=1000", "/"), {}, {}, std::nullopt, false,
                        false, "/")},
        PlanCase{"InvalidUtf8FolderIsReplaced", part(fs(FsKind::Ext, "ext4")),
                 req(false, std::nullopt, "/mnt/a\xff" "b"), kNothing,
                 expect("ext4", false, mount_cmd("ext4", "ro", "/mnt/a\xEF\xBF\xBD" "b"), {}, {}, std::nullopt, false,
                        false, "/mnt/a\xEF\xBF\xBD" "b")}),
    [](const auto& info) { return std::string(info.param.name); });

const std::vector<std::string> kFuseCmd = {"apfs-fuse", "-o", "allow_other,uid=1000,gid=1000", "/dev/sdb2",
                                           "/mnt/mac"};

INSTANTIATE_TEST_SUITE_P(
    Apfs, PlanMount,
    ::testing::Values(
        PlanCase{"ReadOnlyFuseOnPath", part(fs(FsKind::Apfs)), req(), apfs(false, true),
                 expect("APFS", false, kFuseCmd, {kFuseMac})},
        PlanCase{"ReadOnlyBothAvailableUsesFuse", part(fs(FsKind::Apfs)), req(), kBoth,
                 expect("APFS", false, kFuseCmd, {kFuseMac})},
        PlanCase{"ReadOnlyModuleOnly", part(fs(FsKind::Apfs)), req(), apfs(true, false),
                 expect("APFS", false, mount_cmd("apfs", "ro,uid=1000,gid=1000"), {}, {}, "apfs")},
        PlanCase{"ReadOnlyModuleVolumeZero", part(fs(FsKind::Apfs)), req(false, 0), apfs(true, false),
                 expect("APFS", false, mount_cmd("apfs", "ro,uid=1000,gid=1000,vol=0"), {}, {}, "apfs")},
        PlanCase{"ReadOnlyFuseVolumeZero", part(fs(FsKind::Apfs)), req(false, 0), apfs(false, true),
                 expect("APFS", false,
                        {"apfs-fuse", "-o", "allow_other,uid=1000,gid=1000", "-v", "0", "/dev/sdb2", "/mnt/mac"},
                        {kFuseMac})},
        PlanCase{"ReadOnlyNothingNeedsFusePackage", part(fs(FsKind::Apfs)), req(), kNothing,
                 expect("APFS", false, kFuseCmd, {kFuseMac}, {"apfs-fuse-git"})},
        PlanCase{"ReadOnlyFusePackageInstalledButNotOnPath", part(fs(FsKind::Apfs)), req(),
                 apfs(false, false, {"apfs-fuse-git"}), expect("APFS", false, kFuseCmd, {kFuseMac})},
        PlanCase{"ReadOnlyTrailingSlashesStayInTarget", part(fs(FsKind::Apfs)), req(false, std::nullopt, "/mnt/mac///"),
                 apfs(false, true),
                 expect("APFS", false, {"apfs-fuse", "-o", "allow_other,uid=1000,gid=1000", "/dev/sdb2", "/mnt/mac///"},
                        {kFuseMac}, {}, std::nullopt, false, false, "/mnt/mac///")},
        PlanCase{"ReadWriteVolumeOneOnlyDkms", part(fs(FsKind::Apfs)), req(true, 1), apfs(false, false, {"dkms"}),
                 expect("APFS", true, mount_cmd("apfs", "readwrite,uid=1000,gid=1000,vol=1"), {kApfsWrite, kFileVault},
                        {"linux-apfs-rw-dkms-git", "linux-headers"}, "apfs", true)},
        PlanCase{"ReadWriteNothingInstalledRunningKernelHeaders", part(fs(FsKind::Apfs)), req(true),
                 apfs(false, true, {"apfs-fuse-git"}, "linux-lts-headers"),
                 expect("APFS", true, mount_cmd("apfs", "readwrite,uid=1000,gid=1000"), {kApfsWrite, kFileVault},
                        {"linux-apfs-rw-dkms-git", "dkms", "linux-lts-headers"}, "apfs", true)},
        PlanCase{"ReadWriteModuleAvailableNeedsNoPackages", part(fs(FsKind::Apfs)), req(true, 0), apfs(true, false),
                 expect("APFS", true, mount_cmd("apfs", "readwrite,uid=1000,gid=1000,vol=0"), {kApfsWrite, kFileVault},
                        {}, "apfs", true)},
        PlanCase{"ReadWriteAllInstalled", part(fs(FsKind::Apfs)), req(true),
                 apfs(false, false, {"linux-apfs-rw-dkms-git", "dkms", "linux-headers"}),
                 expect("APFS", true, mount_cmd("apfs", "readwrite,uid=1000,gid=1000"), {kApfsWrite, kFileVault}, {},
                        "apfs", true)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MountCommand, SevenItemsInOrder) {
    EXPECT_EQ(mount_command("/dev/sdc1", "/mnt/x y", "ntfs3", "ro,uid=1,gid=2"),
              (std::vector<std::string>{"mount", "-t", "ntfs3", "-o", "ro,uid=1,gid=2", "/dev/sdc1", "/mnt/x y"}));
}

TEST(PlanMount, FuseWarningAtRootFolder) {
    auto result = plan_mount(part(fs(FsKind::Apfs)), req(false, std::nullopt, "/"), apfs(false, true));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->warnings,
              std::vector<std::string>{"With apfs-fuse your files are under /root (for example /root/Users)."});
}

// The experimental warning is asked about before the mount (or accepted with --yes); the others are
// shown after it.
TEST(PlanMount, ExperimentalWarningAndTheRest) {
    auto write = plan_mount(part(fs(FsKind::Apfs)), req(true), kBoth);
    ASSERT_TRUE(write.has_value());
    ASSERT_NE(experimental_warning(*write), nullptr);
    EXPECT_EQ(*experimental_warning(*write), kApfsWrite);
    EXPECT_EQ(warnings_after_mount(*write), std::vector<std::string>{kFileVault});

    auto hfs = plan_mount(part(fs(FsKind::HfsPlus)), req(true), kNothing);
    ASSERT_TRUE(hfs.has_value());
    EXPECT_EQ(experimental_warning(*hfs), nullptr);
    EXPECT_EQ(warnings_after_mount(*hfs), std::vector<std::string>{kHfs});
}

// ---- JSON -------------------------------------------------------------------------------------

TEST(PlanToJson, KeysSortedAndNullModule) {
    auto result = plan_mount(part(fs(FsKind::Ext, "ext4")), req(true), kNothing);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(plan_to_json(*result).dump(),
              "{\"command\":[\"mount\",\"-t\",\"ext4\",\"-o\",\"rw\",\"/dev/sdb2\",\"/mnt/mac\"],"
              "\"device\":\"/dev/sdb2\",\"experimental\":false,\"filesystem\":\"ext4\",\"load_module\":null,"
              "\"may_fall_back_to_read_only\":false,\"missing_packages\":[],\"read_write\":true,"
              "\"target\":\"/mnt/mac\",\"warnings\":[\"" +
                  kOwners + "\"]}");
}

TEST(PlanToJson, ApfsWritePlan) {
    auto result = plan_mount(part(fs(FsKind::Apfs)), req(true, 1), apfs(false, false, {"dkms"}));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(plan_to_json(*result).dump(),
              "{\"command\":[\"mount\",\"-t\",\"apfs\",\"-o\",\"readwrite,uid=1000,gid=1000,vol=1\",\"/dev/sdb2\","
              "\"/mnt/mac\"],\"device\":\"/dev/sdb2\",\"experimental\":true,\"filesystem\":\"APFS\","
              "\"load_module\":\"apfs\",\"may_fall_back_to_read_only\":false,"
              "\"missing_packages\":[\"linux-apfs-rw-dkms-git\",\"linux-headers\"],\"read_write\":true,"
              "\"target\":\"/mnt/mac\",\"warnings\":[\"" +
                  kApfsWrite + "\",\"" + kFileVault + "\"]}");
}

TEST(PlanToJson, InvalidUtf8FolderDumpsWithoutThrowing) {
    auto result = plan_mount(part(fs(FsKind::Apfs)), req(false, std::nullopt, "/mnt/\xc3"), apfs(false, true));
    ASSERT_TRUE(result.has_value());
    std::string dumped;
    ASSERT_NO_THROW(dumped = plan_to_json(*result).dump());
    EXPECT_NE(dumped.find("\"target\":\"/mnt/\xEF\xBF\xBD\""), std::string::npos);
}

}  // namespace
}  // namespace tuvrek
