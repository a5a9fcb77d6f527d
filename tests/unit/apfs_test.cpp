#include "tuvrek/apfs.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using test::write_file;

// Every probe points into a fresh folder; stand-ins answer for modinfo and pacman, and the search
// path holds nothing else, so the machine's own tools never run.
class ApfsSupportTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(modules());
        fs::create_directories(sys_modules());
        env_.set("TUVREK_MODULES_DIR", modules().string());
        env_.set("TUVREK_DISK_SYS_MODULE_DIR", sys_modules().string());
        env_.set("PATH", stand_.bin().string());
        stand_.add("modinfo", 1);
        stand_.add("pacman", 1);
    }
    fs::path modules() const { return dir_ / "modules"; }
    fs::path sys_modules() const { return dir_ / "sys-module"; }

    test::TempDir dir_;
    test::StandIns stand_{dir_ / "stand-ins"};
    test::ScopedEnv env_;
};

TEST_F(ApfsSupportTest, HeadersPackageFromTheKernelsPackageBase) {
    const std::string release = test::running_release();
    ASSERT_FALSE(release.empty());
    struct Case {
        const char* what;
        std::map<std::string, std::string> files;  // below the modules folder
        std::vector<std::string> folders;
        const char* expected;
    };
    const Case cases[] = {
        {"the running kernel's pkgbase", {{release + "/pkgbase", "linux\n"}}, {}, "linux-headers"},
        {"another kernel flavour", {{release + "/pkgbase", "linux-zen\n"}}, {}, "linux-zen-headers"},
        {"the running kernel wins over the greatest",
         {{release + "/pkgbase", "linux\n"}, {"zz/pkgbase", "linux-zen"}}, {}, "linux-headers"},
        {"no folder for the running kernel: the greatest content",
         {{"a/pkgbase", "linux-lts"}, {"b/pkgbase", "linux"}}, {}, "linux-lts-headers"},
        {"only white space", {{release + "/pkgbase", " \t\n"}}, {}, "linux-headers"},
        {"nothing to read", {}, {"6.0.0-old"}, "linux-headers"},
        {"a pkgbase that is a folder is skipped",
         {{"other/pkgbase", "linux-rt\n"}}, {release + "/pkgbase"}, "linux-rt-headers"},
        {"a pkgbase that is not UTF-8 is skipped",
         {{release + "/pkgbase", "linux-\xff"}, {"b/pkgbase", "linux-hardened"}}, {}, "linux-hardened-headers"},
    };
    for (const Case& c : cases) {
        fs::remove_all(modules());
        fs::create_directories(modules());
        for (const auto& [name, content] : c.files) write_file(modules() / name, content);
        for (const auto& name : c.folders) fs::create_directories(modules() / name);
        EXPECT_EQ(check_apfs_support().headers_package, c.expected) << c.what;
    }

    env_.set("TUVREK_MODULES_DIR", (dir_ / "absent").string());
    EXPECT_EQ(check_apfs_support().headers_package, "linux-headers") << "no modules folder";
}

TEST_F(ApfsSupportTest, LoadedModuleNeedsNoModinfo) {
    fs::create_directory(sys_modules() / "apfs");
    EXPECT_TRUE(check_apfs_support().module_available);
    EXPECT_THAT(stand_.calls("modinfo"), IsEmpty());
}

TEST_F(ApfsSupportTest, ModinfoDecidesWhenTheModuleIsNotLoaded) {
    stand_.add("modinfo", 0, "noise on stderr", "filename: /lib/modules/apfs.ko");
    EXPECT_TRUE(check_apfs_support().module_available);
    EXPECT_THAT(stand_.calls("modinfo"), ElementsAre(ElementsAre("apfs")));

    stand_.add("modinfo", 1, "modinfo: ERROR: Module apfs not found.");
    EXPECT_FALSE(check_apfs_support().module_available);

    fs::remove(stand_.bin() / "modinfo");
    EXPECT_FALSE(check_apfs_support().module_available) << "modinfo that can't start";
}

TEST_F(ApfsSupportTest, FuseIsARegularFileOnTheSearchPath) {
    const fs::path opt = dir_ / "opt-bin";
    const fs::path folder_named = dir_ / "folder-named";
    write_file(opt / "apfs-fuse", "");  // the execute bit is not looked at
    fs::create_directories(folder_named / "apfs-fuse");
    const std::string bin = stand_.bin().string();

    env_.set("PATH", bin + ":/nonexistent:" + opt.string());
    EXPECT_TRUE(check_apfs_support().fuse_available);

    env_.set("PATH", bin + ":" + folder_named.string());
    EXPECT_FALSE(check_apfs_support().fuse_available) << "a folder named apfs-fuse";

    env_.unset("PATH");
    EXPECT_FALSE(check_apfs_support().fuse_available) << "no search path at all";
}

TEST_F(ApfsSupportTest, EmptySearchPathPieceIsTheCurrentFolder) {
    const fs::path here = dir_ / "here";
    write_file(here / "apfs-fuse", "");
    const fs::path old = fs::current_path();
    fs::current_path(here);
    env_.set("PATH", stand_.bin().string() + ":");
    const bool found = check_apfs_support().fuse_available;
    fs::current_path(old);
    EXPECT_TRUE(found);
}

TEST_F(ApfsSupportTest, InstalledPackagesAreTheFirstWordsOfPacmansStandardOutput) {
    write_file(modules() / test::running_release() / "pkgbase", "linux-zen\n");
    stand_.add_script("pacman",
                      "printf 'dkms 3.0.11-1\\r\\n\\n   \\napfs-fuse-git 0.r100-1\\n'\n"
                      "printf 'error: package \"linux-zen-headers\" was not found\\n' >&2\n"
                      "exit 1");
    const ApfsSupport support = check_apfs_support();
    EXPECT_EQ(support.installed, (std::set<std::string>{"apfs-fuse-git", "dkms"}));
    EXPECT_THAT(stand_.calls("pacman"),
                ElementsAre(ElementsAre("-Q", "apfs-fuse-git", "linux-apfs-rw-dkms-git", "dkms", "linux-zen-headers")));
}

TEST_F(ApfsSupportTest, PacmanThatCannotStartMeansNothingInstalled) {
    fs::remove(stand_.bin() / "pacman");
    const ApfsSupport support = check_apfs_support();
    EXPECT_THAT(support.installed, IsEmpty());
    EXPECT_FALSE(support.module_available);
    EXPECT_FALSE(support.fuse_available);
}

}  // namespace
}  // namespace tuvrek
