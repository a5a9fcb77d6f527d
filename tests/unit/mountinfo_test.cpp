#include "tuvrek/mountinfo.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support.hpp"

namespace tuvrek {
namespace {

struct LineCase {
    const char* what;
    std::string line;
    std::optional<MountInfoEntry> entry;
};

TEST(MountinfoLine, FieldsAroundTheSeparator) {
    const LineCase cases[] = {
        {"optional fields are skipped",
         "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue",
         MountInfoEntry{"/mnt2", "ext3", "/dev/root", {"rw", "noatime"}, {"rw", "errors=continue"}}},
        {"several optional fields",
         "36 35 98:0 / /mnt rw shared:1 master:2 propagate_from:3 - xfs /dev/sda1 rw",
         MountInfoEntry{"/mnt", "xfs", "/dev/sda1", {"rw"}, {"rw"}}},
        {"no optional fields (FUSE)",
         "120 30 0:52 / /mnt/mac ro,nosuid,nodev - fuse.apfs-fuse apfs-fuse ro,user_id=0,group_id=0",
         MountInfoEntry{"/mnt/mac", "fuse.apfs-fuse", "apfs-fuse", {"ro", "nosuid", "nodev"},
                        {"ro", "user_id=0", "group_id=0"}}},
        {"superblock options may be missing", "1 2 3:4 / /x rw - tmpfs tmpfs",
         MountInfoEntry{"/x", "tmpfs", "tmpfs", {"rw"}}},
        {"escapes in mount point and source",
         "40 30 8:17 / /mnt/My\\040Disk rw - ntfs3 /dev/disk\\134x rw",
         MountInfoEntry{"/mnt/My Disk", "ntfs3", "/dev/disk\\x", {"rw"}, {"rw"}}},
        {"double blank makes an empty piece", "1 2 3:4 /  /x rw - ext4 /dev/a rw",
         MountInfoEntry{"", "ext4", "/dev/a", {"/x"}, {"rw"}}},
        {"empty source piece", "1 2 3:4 / /x rw - ext4  rw", MountInfoEntry{"/x", "ext4", "", {"rw"}, {"rw"}}},
        {"five fields before the separator", "1 2 3:4 / /x - ext4 /dev/a rw", std::nullopt},
        {"no separator", "1 2 3:4 / /x rw ext4 /dev/a rw", std::nullopt},
        {"hyphen not between blanks", "1 2 3:4 / /x rw -ext4 /dev/a rw", std::nullopt},
        {"empty line", "", std::nullopt},
        {"only the type after the separator", "1 2 3:4 / /x rw - ext4", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_mountinfo_line(c.line), c.entry) << c.what;
}

// The kernel keeps a journaled HFS+ volume read-only when asked for rw; only the superblock options say so.
TEST(MountinfoLine, ReadOnlyWhenEitherOptionListBeginsWithRo) {
    const struct {
        const char* line;
        bool read_only;
    } cases[] = {
        {"50 30 254:10 / /mnt/machfsj rw,relatime - hfsplus /dev/vda10 ro,umask=22,uid=0,gid=0,nls=utf8", true},
        {"50 30 254:10 / /mnt/x ro,relatime - ext4 /dev/vda1 rw", true},
        {"50 30 254:10 / /mnt/x rw,relatime - ext4 /dev/vda1 rw,errors=remount-ro", false},
        {"50 30 254:10 / /mnt/x rw,relatime - tmpfs tmpfs", false},
        {"50 30 254:10 / /mnt/x rw,relatime - ext4 /dev/vda1 errors=ro,ro", false},
    };
    for (const auto& c : cases) {
        const auto entry = parse_mountinfo_line(c.line);
        ASSERT_TRUE(entry) << c.line;
        EXPECT_EQ(entry->read_only(), c.read_only) << c.line;
    }
}

TEST(MountinfoUnescape, OctalEscapesOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"/mnt/My\\040Disk", "/mnt/My Disk"},
        {"a\\011b\\012c", "a\tb\nc"},
        {"\\134", "\\"},
        {"\\777", "?"},                 // above one byte
        {"\\400", "?"},
        {"\\377", "\xEF\xBF\xBD"},      // a byte that is not UTF-8 on its own
        {"\\303\\251", "\xC3\xA9"},     // é as two escaped bytes
        {"end\\", "end\\"},
        {"\\08x", "\\08x"},
        {"\\04", "\\04"},               // too short
        {"\\0400", " 0"},               // walk goes on after the fourth byte
        {"\\\\040", "\\ "},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(unescape_mount_field(in), out) << in;
}

TEST(MountinfoText, LinesAndCarriageReturns) {
    const std::string text =
        "1 2 3:4 / /a rw - ext4 /dev/a rw\r\n"
        "garbage\n"
        "\n"
        "5 6 7:8 / /b ro - vfat /dev/b\r\n"
        "9 9 9:9 / /c rw - xfs /dev/c";  // no final line feed
    const std::vector<MountInfoEntry> expected = {
        {"/a", "ext4", "/dev/a", {"rw"}, {"rw"}},
        {"/b", "vfat", "/dev/b", {"ro"}},
        {"/c", "xfs", "/dev/c", {"rw"}},
    };
    EXPECT_EQ(parse_mountinfo(text), expected);
}

class MountTableFile : public testing::Test {
protected:
    void use(const std::string& content) {
        test::write_file(dir_ / "mountinfo", content);
        env_.set("TUVREK_DISK_MOUNTINFO", (dir_ / "mountinfo").string());
    }
    test::TempDir dir_;
    test::ScopedEnv env_;
};

TEST_F(MountTableFile, MountAtFindsTheTopmostOfStackedMounts) {
    use("1 2 3:4 / /mnt/mac ro - ext4 /dev/sdb1 ro\n"
        "5 6 7:8 / /mnt/other rw - ext4 /dev/sdc1 rw\n"
        "9 1 0:52 / /mnt/mac rw - fuse.apfs-fuse apfs-fuse rw\n");
    auto entry = mount_at("/mnt/mac");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->source, "apfs-fuse");
    EXPECT_FALSE(mount_at("/mnt/mac/"));
    EXPECT_FALSE(mount_at("/mnt"));
    EXPECT_EQ(read_mountinfo().size(), 3u);
}

TEST_F(MountTableFile, MountAtComparesWithTheDecodedPath) {
    use("1 2 3:4 / /mnt/My\\040Disk rw - ntfs3 /dev/sdb2 rw\n"
        "1 2 3:4 / /mnt/\\377 rw - ntfs3 /dev/sdb3 rw\n");
    ASSERT_TRUE(mount_at("/mnt/My Disk"));
    EXPECT_EQ(mount_at("/mnt/My Disk")->source, "/dev/sdb2");
    auto raw = mount_at("/mnt/\xFF");  // the folder is decoded the same lossy way
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->source, "/dev/sdb3");
}

TEST_F(MountTableFile, UnreadableOrNonUtf8TableIsEmpty) {
    env_.set("TUVREK_DISK_MOUNTINFO", (dir_ / "missing").string());
    EXPECT_TRUE(read_mountinfo().empty());
    EXPECT_FALSE(mount_at("/"));

    env_.set("TUVREK_DISK_MOUNTINFO", dir_.path().string());  // a folder
    EXPECT_TRUE(read_mountinfo().empty());

    env_.set("TUVREK_DISK_MOUNTINFO", "");  // set but empty still overrides
    EXPECT_TRUE(read_mountinfo().empty());

    use("1 2 3:4 / /a rw - ext4 /dev/a rw\n1 2 3:4 / /\xFF rw - ext4 /dev/b rw\n");
    EXPECT_TRUE(read_mountinfo().empty());
}

TEST(MountTableReal, ThisProcessSeesItsRoot) {
    test::ScopedEnv env;
    env.unset("TUVREK_DISK_MOUNTINFO");
    auto root = mount_at("/");
    ASSERT_TRUE(root) << "/proc/self/mountinfo has no / entry";
    EXPECT_FALSE(root->fs_type.empty());
    ASSERT_FALSE(root->options.empty());
    EXPECT_TRUE(root->options[0] == "rw" || root->options[0] == "ro");
}

}  // namespace
}  // namespace tuvrek
