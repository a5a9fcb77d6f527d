#include "tuvrek/folder_path.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;
using test::write_file;

// Spellings of folders outside any temporary folder; only what no machine of ours lacks is relied on.
TEST(CanonicalFolder, SpellingsOfTheSameFolder) {
    const struct {
        std::string typed;
        std::string canonical;
    } cases[] = {
        {"", ""},
        {"mnt/mac", "mnt/mac"},
        {"./x/", "./x/"},
        {"/", "/"},
        {"//", "/"},
        {"///", "/"},
        {"/.", "/"},
        {"/..", "/"},
        {"/../..", "/"},
        {"/./.././", "/"},
        {"/mnt/..", "/"},
        {"/var/..", "/"},
        {"//usr", "/usr"},
        {"/usr/", "/usr"},
        {"/usr/.", "/usr"},
        {"///home", "/home"},
        {"/usr/../boot", "/boot"},
        {"/./boot", "/boot"},
        {"//boot//efi/", "/boot/efi"},
        {"/proc/../dev/", "/dev"},
        {"/sys/kernel/..", "/sys"},
    };
    for (const auto& c : cases) EXPECT_EQ(canonical_folder(c.typed), c.canonical) << c.typed;
}

class CanonicalFolderLinks : public testing::Test {
protected:
    void SetUp() override {
        // The temporary folder itself may sit behind a link (TMPDIR): every expected path is below its real form.
        root_ = fs::canonical(tmp_.path()).string();
        fs::create_directories(at("dir/sub"));
        write_file(at("file"), "x");
        fs::create_directory_symlink(at("dir"), at("abs"));
        fs::create_directory_symlink("dir", at("rel"));
        fs::create_directory_symlink("abs", at("chain"));
        fs::create_directory_symlink("dir/sub", at("deep"));
        fs::create_directory_symlink("..", at("dir/up"));
        fs::create_directory_symlink("../../rel", at("dir/sub/back"));
        fs::create_symlink(at("nowhere/deeper"), at("dangling"));
        fs::create_symlink("nowhere2", at("reldangling"));
        fs::create_symlink("loop2", at("loop1"));
        fs::create_symlink("loop1", at("loop2"));
        fs::create_symlink("self", at("self"));
        fs::create_symlink("file", at("to-file"));
        fs::create_directory_symlink("/", at("to-root"));
        fs::create_directory(at("d\xff"));
        fs::create_directory_symlink("d\xff", at("l\xfe"));
    }
    std::string at(const std::string& name) const { return root_ + "/" + name; }

    test::TempDir tmp_;
    std::string root_;
};

TEST_F(CanonicalFolderLinks, ResolvedAsTheKernelWalksThem) {
    const std::string nul("a\0b", 3);
    const struct {
        std::string typed;
        std::string canonical;
    } cases[] = {
        {at("dir/"), at("dir")},
        {at("dir//sub/."), at("dir/sub")},
        {root_ + "//dir///sub//", at("dir/sub")},
        {at("abs"), at("dir")},
        {at("rel/sub"), at("dir/sub")},
        {at("chain/"), at("dir")},
        // Through the link's target first: dir/sub/.. is dir, where the text alone would say the root.
        {at("deep/../x"), at("dir/x")},
        {at("dir/up"), root_},
        {at("dir/up/dir/up/file"), at("file")},
        {at("dir/sub/back/sub"), at("dir/sub")},
        {at("to-file"), at("file")},
        {at("to-root/usr/"), "/usr"},
        {at("to-root/.."), "/"},
        // Past what exists, as mkdir -p would make it; a link found after coming back is resolved.
        {at("new/deeper/"), at("new/deeper")},
        {at("new/../dir"), at("dir")},
        {at("new/../abs/sub"), at("dir/sub")},
        {at("file/below"), at("file/below")},
        {at("file/.."), root_},
        {at("dangling"), at("nowhere/deeper")},
        {at("dangling/../y"), at("nowhere/y")},
        {at("reldangling/"), at("nowhere2")},
        // A loop stops the walk; the rest stays as typed (the kernel then refuses it with ELOOP).
        {at("loop1"), at("loop1")},
        {at("self/"), at("self")},
        {at("dir/../loop1//./x/../y"), at("loop1/x/../y")},
        // Bytes that aren't UTF-8 are names like any other.
        {at("l\xfe/"), at("d\xff")},
        {at("caf\xff/x"), at("caf\xff/x")},
        // A NUL ends what a C call sees: the rest is kept for the caller to refuse.
        {at("abs/" + nul + "/../sub"), at("dir/" + nul + "/../sub")},
    };
    for (const auto& c : cases) EXPECT_EQ(canonical_folder(c.typed), c.canonical) << c.typed;
}

TEST_F(CanonicalFolderLinks, VeryLongPathsStayWholeAndQuick) {
    std::string deep = "/";
    for (int i = 0; i < 5000; ++i) deep += "a//";
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += "/a";
    const std::string long_name(300, 'n');  // past NAME_MAX: looked up, not found, kept

    std::string back_and_forth = root_;
    for (int i = 0; i < 20000; ++i) back_and_forth += "/dir/..";
    back_and_forth += "/abs/";

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(canonical_folder(deep), expected);
    EXPECT_EQ(canonical_folder(at(long_name + "/x/")), at(long_name + "/x"));
    EXPECT_EQ(canonical_folder(back_and_forth), at("dir"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(IsSystemFolder, RunningSystemAndKernelFolders) {
    const struct {
        const char* folder;
        bool system;
    } cases[] = {
        {"/", true},          {"/usr", true},           {"/var", true},
        {"/efi", true},       {"/boot", true},          {"/home", true},
        {"/boot/efi", true},  {"/proc", true},          {"/sys", true},
        {"/dev", true},       {"/run", true},           {"/proc/1/root", true},
        {"/sys/fs/cgroup", true}, {"/dev/shm", true},   {"/dev/pts", true},
        {"/mnt", false},      {"/mnt/mac", false},      {"/usr/local", false},
        {"/home/me", false},  {"/boot/efi/EFI", false}, {"/run/media/me/usb", false},
        {"/procx", false},    {"/devices", false},      {"/sysroot", false},
        {"/runner", false},   {"", false},              {"[SWAP]", false},
        {"usr", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_system_folder(c.folder), c.system) << c.folder;
}

TEST_F(CanonicalFolderLinks, SystemFoldersHoweverSpelled) {
    fs::create_directory_symlink("/boot", at("to-boot"));
    for (const std::string& typed : std::vector<std::string>{"/mnt/..", "/.", "//usr", "/usr/.", "/var/..", "///home", "//boot", "/./boot", "/usr/../boot",
          "//boot/efi", "/dev/../proc/", "/run/", at("to-boot"), at("to-boot/"), at("to-root"),
          at("to-root/sys/..")}) {
        EXPECT_TRUE(is_system_folder(canonical_folder(typed))) << typed;
    }
    EXPECT_FALSE(is_system_folder(canonical_folder(at("dir/"))));
}

}  // namespace
}  // namespace tuvrek
