#include "tuvrek/folders.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support.hpp"

namespace tuvrek {
namespace {

using test::TempDir;
using test::write_file;
namespace fs = std::filesystem;
using Err = PlanError::Kind;

// ---- default folder ---------------------------------------------------------------------------

Partition labelled(std::optional<std::string> label, std::optional<std::string> part_label = std::nullopt) {
    Partition p;
    p.path = "/dev/sdb2";
    p.name = "sdb2";
    p.fs = Filesystem{Filesystem::Kind::Apfs, ""};
    p.label = std::move(label);
    p.part_label = std::move(part_label);
    return p;
}

TEST(DefaultMountFolder, SanitisesTheDisplayLabel) {
    struct Case {
        Partition partition;
        std::string expected;
    };
    const Case cases[] = {
        {labelled("Macintosh HD"), "/mnt/Macintosh-HD"},
        {labelled("Data (2)"), "/mnt/Data-2"},
        {labelled("..."), "/mnt/sdb2"},
        {labelled("()/:'!"), "/mnt/sdb2"},
        {labelled("..backup."), "/mnt/backup"},
        {labelled("a.b..c"), "/mnt/a.b..c"},
        {labelled("   "), "/mnt/---"},
        {labelled("EFI/boot"), "/mnt/EFIboot"},
        {labelled("my_disk-1"), "/mnt/my_disk-1"},
        {labelled("Café Müller"), "/mnt/Café-Müller"},
        {labelled("Фото 写真 ٣"), "/mnt/Фото-写真-٣"},
        {labelled("A\u00A0B\tC\u3000D"), "/mnt/A-B-C-D"},
        {labelled("x\x01y\x7f" "z"), "/mnt/xyz"},
        {labelled("bad\xff" "byte"), "/mnt/badbyte"},
        {labelled("💾 Backup"), "/mnt/-Backup"},
        {labelled(std::nullopt, "Recovery HD"), "/mnt/Recovery-HD"},
        {labelled(std::nullopt), "/mnt/sdb2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(default_mount_folder(c.partition), c.expected);
    }
}

TEST(DefaultMountFolder, FallbackKernelNameIsNotSanitised) {
    Partition p = labelled("..");
    p.name = "dm-0.x";
    EXPECT_EQ(default_mount_folder(p), "/mnt/dm-0.x");
}

// ---- folder checks ----------------------------------------------------------------------------

// Points the mount table at a file of the test's own, and puts the old value back afterwards.
class ScopedMountInfo {
public:
    explicit ScopedMountInfo(const fs::path& file) {
        if (const char* old = std::getenv("TUVREK_DISK_MOUNTINFO")) old_ = old;
        setenv("TUVREK_DISK_MOUNTINFO", file.c_str(), 1);
    }
    ~ScopedMountInfo() {
        if (old_) setenv("TUVREK_DISK_MOUNTINFO", old_->c_str(), 1);
        else unsetenv("TUVREK_DISK_MOUNTINFO");
    }
    ScopedMountInfo(const ScopedMountInfo&) = delete;
    ScopedMountInfo& operator=(const ScopedMountInfo&) = delete;

private:
    std::optional<std::string> old_;
};

class CheckMountFolder : public ::testing::Test {
protected:
    CheckMountFolder() : table_(tmp_ / "mountinfo") { write_file(tmp_ / "mountinfo", ""); }

    void expect_refused(const std::string& folder, Err kind) {
        SCOPED_TRACE(folder);
        auto result = check_mount_folder(folder);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().kind, kind);
    }
    void expect_usable(const std::string& folder, bool exists) {
        SCOPED_TRACE(folder);
        auto result = check_mount_folder(folder);
        ASSERT_TRUE(result.has_value()) << result.error().code();
        EXPECT_EQ(result->exists, exists);
    }
    std::string at(const std::string& name) const { return (tmp_ / name).string(); }

    TempDir tmp_;
    ScopedMountInfo table_;
};

TEST_F(CheckMountFolder, RelativeOrEmptyIsNotAbsolute) {
    expect_refused("mnt/mac", Err::FolderNotAbsolute);
    expect_refused("", Err::FolderNotAbsolute);
    expect_refused("./x", Err::FolderNotAbsolute);
}

TEST_F(CheckMountFolder, SystemFoldersAreRefusedAsNotEmpty) {
    for (const char* folder : {"/", "/usr/", "/home///", "/boot/efi", "/efi", "/var"}) {
        expect_refused(folder, Err::FolderNotEmpty);
    }
}

TEST_F(CheckMountFolder, DoubleSlashReachesTheRootListing) {
    // Not a system folder by text, but the root's listing has entries.
    expect_refused("//", Err::FolderNotEmpty);
}

TEST_F(CheckMountFolder, NothingThereYet) {
    write_file(tmp_ / "file", "x");
    expect_usable(at("new"), false);
    expect_usable(at("new/deeper"), false);
    expect_usable(at("file/below"), false);
    fs::create_symlink(tmp_ / "gone", tmp_ / "broken");
    expect_usable(at("broken"), false);
}

TEST_F(CheckMountFolder, FileIsNotAFolder) {
    write_file(tmp_ / "file", "x");
    expect_refused(at("file"), Err::FolderNotAFolder);
    fs::create_symlink(tmp_ / "file", tmp_ / "link-to-file");
    expect_refused(at("link-to-file"), Err::FolderNotAFolder);
}

TEST_F(CheckMountFolder, HiddenFileMakesItNotEmpty) {
    fs::create_directory(tmp_ / "full");
    write_file(tmp_ / "full" / ".keep", "");
    expect_refused(at("full"), Err::FolderNotEmpty);
}

TEST_F(CheckMountFolder, EmptyFolderExists) {
    fs::create_directory(tmp_ / "empty");
    expect_usable(at("empty"), true);
    expect_usable(at("empty/"), true);
    fs::create_directory_symlink(tmp_ / "empty", tmp_ / "link");
    expect_usable(at("link"), true);
}

TEST_F(CheckMountFolder, NulByteNamesNothingOnDisk) {
    // The part before the NUL is an existing file; it must not be what gets checked.
    write_file(tmp_ / "file", "x");
    expect_usable(at("file") + std::string(1, '\0') + "x", false);
}

TEST_F(CheckMountFolder, MountedFolderIsInUseWhateverItHolds) {
    fs::create_directory(tmp_ / "empty");
    fs::create_directory(tmp_ / "full");
    write_file(tmp_ / "full" / "a", "");
    write_file(tmp_ / "mountinfo",
               "36 35 98:0 / " + at("empty") + " rw,noatime master:1 - ext3 /dev/sdz1 rw\n"
               "37 35 98:0 / " + at("full") + " rw - fuse.apfs-fuse apfs-fuse rw\n");
    expect_refused(at("empty"), Err::FolderInUse);
    expect_refused(at("full"), Err::FolderInUse);
}

}  // namespace
}  // namespace tuvrek
