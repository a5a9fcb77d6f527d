#include "tuvrek/folders.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support.hpp"
#include "tuvrek/folder_path.hpp"
#include "tuvrek/text.hpp"

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

// A folder name holds at most 255 bytes: a long label (NTFS allows 32 UTF-16 units, others more) is cut
// at the last whole character that fits.
TEST(DefaultMountFolder, LongLabelsAreCutToOneFolderNameAtACharacterBoundary) {
    auto repeat = [](std::string_view piece, std::size_t times) {
        std::string out;
        for (std::size_t i = 0; i < times; ++i) out += piece;
        return out;
    };
    const struct {
        const char* what;
        std::string label;
        std::string name;
    } cases[] = {
        {"255 bytes stay", repeat("x", 255), repeat("x", 255)},
        {"256 bytes lose one", repeat("x", 256), repeat("x", 255)},
        {"two-byte letters, the cut on a boundary", "a" + repeat("é", 128), "a" + repeat("é", 127)},
        {"two-byte letters, the cut inside one", "aa" + repeat("é", 127), "aa" + repeat("é", 126)},
        {"three-byte letters", "a" + repeat("写", 85), "a" + repeat("写", 84)},
        {"four-byte letters", repeat("𝐀", 64), repeat("𝐀", 63)},
        {"blanks count once turned into dashes", repeat("a ", 200), repeat("a-", 127) + "a"},
        {"a dot left at the cut goes too", repeat("x", 254) + ".yyy", repeat("x", 254)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = default_mount_folder(labelled(c.label));
        EXPECT_EQ(folder, "/mnt/" + c.name);
        EXPECT_LE(folder.size() - 5, 255u);
        EXPECT_TRUE(is_valid_utf8(folder));
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
    // Below the temporary folder's canonical form, which is what callers pass.
    std::string at(const std::string& name) const { return canonical_folder(tmp_.path().string()) + "/" + name; }

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

TEST_F(CheckMountFolder, DoubleSlashIsTheRoot) {
    expect_refused("//", Err::FolderNotEmpty);
}

// However spelled, and also when a link now leads there: the kernel's own folders, and the running
// system's.
TEST_F(CheckMountFolder, SystemAndKernelFoldersHoweverSpelled) {
    fs::create_directory_symlink("/boot", tmp_ / "to-boot");
    fs::create_directory_symlink("/proc/self", tmp_ / "to-proc");
    for (const std::string& folder : std::vector<std::string>{"/mnt/..", "/.", "//usr", "/usr/.", "/var/..", "///home", "//boot", "/./boot",
                                     "/usr/../boot", "//boot/efi", "/proc", "/sys/", "/dev/shm", "/run",
                                     "/sys/kernel/..", at("to-boot"), at("to-proc")}) {
        expect_refused(folder, Err::FolderNotEmpty);
    }
}

// The caller resolved the folder; a form that no longer resolves to itself has changed under it.
TEST_F(CheckMountFolder, FolderThatIsNoLongerCanonicalIsNotAFolder) {
    fs::create_directory(tmp_ / "empty");
    fs::create_directory_symlink(tmp_ / "empty", tmp_ / "link");
    expect_refused(at("link"), Err::FolderNotAFolder);
    expect_refused(at("empty/"), Err::FolderNotAFolder);
    expect_refused(at("empty/../empty"), Err::FolderNotAFolder);

    // Resolved, then swapped for a link to another empty folder: refused, though both are usable.
    fs::create_directory(tmp_ / "other");
    const std::string resolved = canonical_folder(at("empty"));
    expect_usable(resolved, true);
    fs::remove(tmp_ / "empty");
    fs::create_directory_symlink(tmp_ / "other", tmp_ / "empty");
    expect_refused(resolved, Err::FolderNotAFolder);
}

TEST_F(CheckMountFolder, NothingThereYet) {
    write_file(tmp_ / "file", "x");
    expect_usable(at("new"), false);
    expect_usable(at("new/deeper"), false);
    expect_usable(at("file/below"), false);
    fs::create_symlink(tmp_ / "gone", tmp_ / "broken");
    expect_usable(canonical_folder(at("broken")), false);
    EXPECT_EQ(canonical_folder(at("broken")), at("gone"));
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
    expect_usable(canonical_folder(at("empty/")), true);
    fs::create_directory_symlink(tmp_ / "empty", tmp_ / "link");
    expect_usable(canonical_folder(at("link")), true);
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
    // The table holds the kernel's form: a trailing slash or a link, resolved first, finds it.
    fs::create_directory_symlink(tmp_ / "empty", tmp_ / "link");
    expect_refused(canonical_folder(at("empty//")), Err::FolderInUse);
    expect_refused(canonical_folder(at("link")), Err::FolderInUse);
}

// ---- making the folder ------------------------------------------------------------------------

class CreateMountFolder : public ::testing::Test {
protected:
    std::string at(const std::string& name) const { return canonical_folder(tmp_.path().string()) + "/" + name; }
    TempDir tmp_;
};

TEST_F(CreateMountFolder, MakesTheMissingChainReadableByAllWhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        const TempDir tmp;
        const std::string base = canonical_folder(tmp.path().string());
        const mode_t old = ::umask(mask);
        auto made = create_mount_folder(base + "/a/b/c");
        auto again = create_mount_folder(base + "/a/b/c");
        ::umask(old);
        ASSERT_TRUE(made) << made.error();
        EXPECT_TRUE(*made);
        ASSERT_TRUE(again) << again.error();
        EXPECT_FALSE(*again) << "made by someone else (an earlier call): not ours to remove";
        for (const char* folder : {"/a", "/a/b", "/a/b/c"}) {
            EXPECT_EQ(fs::status(base + folder).permissions(), fs::perms(0755)) << folder;
        }
    }
}

TEST_F(CreateMountFolder, ExistingFolderIsNotMadeHere) {
    fs::create_directories(tmp_ / "there");
    auto made = create_mount_folder(at("there"));
    ASSERT_TRUE(made) << made.error();
    EXPECT_FALSE(*made);
}

// A link anywhere on the way, swapped in after the folder was resolved, is never followed.
TEST_F(CreateMountFolder, LinkOnTheWayFailsAndNothingIsMadeThroughIt) {
    fs::create_directory(tmp_ / "elsewhere");
    fs::create_directory_symlink(tmp_ / "elsewhere", tmp_ / "link");
    fs::create_symlink(tmp_ / "elsewhere" / "target", tmp_ / "dangling");
    for (const std::string& folder :
         std::vector<std::string>{at("link"), at("link/new"), at("link/new/deeper"), at("dangling")}) {
        auto made = create_mount_folder(folder);
        ASSERT_FALSE(made) << folder;
        EXPECT_TRUE(made.error() == ELOOP || made.error() == ENOTDIR) << folder << ": " << made.error();
    }
    EXPECT_TRUE(fs::is_empty(tmp_ / "elsewhere"));
}

TEST_F(CreateMountFolder, FileOnTheWayOrNoAbsolutePathFails) {
    write_file(tmp_ / "file", "x");
    const struct {
        std::string folder;
        int error;
    } cases[] = {
        {at("file"), ENOTDIR},
        {at("file/below"), ENOTDIR},
        {"mnt/relative", EINVAL},
        {"", EINVAL},
        {at("a") + std::string(1, '\0') + "b", EINVAL},
    };
    for (const auto& c : cases) {
        auto made = create_mount_folder(c.folder);
        ASSERT_FALSE(made) << c.folder;
        EXPECT_EQ(made.error(), c.error) << c.folder;
    }
    EXPECT_FALSE(fs::exists(tmp_ / "a"));
}

}  // namespace
}  // namespace tuvrek
