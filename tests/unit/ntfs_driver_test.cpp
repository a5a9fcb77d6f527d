#include "tuvrek/ntfs_driver.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;

// The three ways a kernel can have a driver (registered, loaded, a module of its own), each pointed
// into a fresh folder so that the machine's kernel plays no part.
class NtfsDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_ / "sys-module");
        fs::create_directories(dir_ / "modules");
        env_.set("TUVREK_DISK_FILESYSTEMS", (dir_ / "filesystems").string());
        env_.set("TUVREK_DISK_SYS_MODULE_DIR", (dir_ / "sys-module").string());
        env_.set("TUVREK_MODULES_DIR", (dir_ / "modules").string());
    }
    test::TempDir dir_;
    test::ScopedEnv env_;
};

TEST_F(NtfsDriverTest, TheKernelsOwnDriverIsChosenNtfs3First) {
    const std::string release = test::running_release();
    ASSERT_FALSE(release.empty());
    struct Case {
        const char* what;
        std::map<std::string, std::string> files;  // below the test's folder
        std::vector<std::string> folders;
        std::optional<std::string> expected;
    };
    const std::string mods = "modules/" + release + "/";
    const Case cases[] = {
        {"neither", {}, {}, std::nullopt},
        {"neither, only other types registered", {{"filesystems", "nodev\tsysfs\n\text4\n\tfuseblk\n"}}, {}, std::nullopt},
        {"ntfs3 built in or loaded", {{"filesystems", "nodev\tproc\n\text4\n\tntfs3\n"}}, {}, "ntfs3"},
        {"only the kernel's own ntfs registered", {{"filesystems", "\text4\n\tntfs\n"}}, {}, "ntfs"},
        {"both registered", {{"filesystems", "\tntfs\n\tntfs3\n"}}, {}, "ntfs3"},
        {"ntfs3 loaded", {}, {"sys-module/ntfs3"}, "ntfs3"},
        {"only ntfs loaded", {}, {"sys-module/ntfs"}, "ntfs"},
        {"an ntfs3 module of the running kernel",
         {{mods + "modules.dep", "kernel/fs/ext4/ext4.ko.xz: kernel/fs/jbd2/jbd2.ko.xz\nkernel/fs/ntfs3/ntfs3.ko.xz:\n"}},
         {},
         "ntfs3"},
        {"an out-of-tree ntfs3 that depmod found", {{mods + "modules.dep", "updates/ntfs3.ko:\n"}}, {}, "ntfs3"},
        {"only the kernel's own ntfs module", {{mods + "modules.dep", "kernel/fs/ntfs/ntfs.ko.xz:\n"}}, {}, "ntfs"},
        {"ntfs built in", {{mods + "modules.builtin", "kernel/fs/ntfs/ntfs.ko\n"}}, {}, "ntfs"},
        {"both as modules", {{mods + "modules.dep", "kernel/fs/ntfs/ntfs.ko.zst:\nkernel/fs/ntfs3/ntfs3.ko.zst:\n"}},
         {}, "ntfs3"},
        {"a module file where depmod never ran", {{mods + "kernel/fs/ntfs/ntfs.ko.xz", ""}}, {}, "ntfs"},
        // Names that only begin like the driver's are other modules.
        {"look-alike names", {{mods + "modules.dep", "kernel/fs/ntfs3x/ntfs3x.ko:\nkernel/fs/ntfsplus.ko:\n"},
                              {"filesystems", "\tntfs3x\n"}},
         {"sys-module/ntfs-3g"}, std::nullopt},
        // Another kernel's modules are not the running kernel's.
        {"a module of another kernel", {{"modules/0.0.0-other/modules.dep", "kernel/fs/ntfs3/ntfs3.ko:\n"}}, {},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_ / "filesystems");
        fs::remove_all(dir_ / "sys-module");
        fs::remove_all(dir_ / "modules");
        fs::create_directories(dir_ / "sys-module");
        fs::create_directories(dir_ / "modules");
        for (const auto& [name, content] : c.files) {
            fs::create_directories((dir_ / name).parent_path());
            test::write_file(dir_ / name, content);
        }
        for (const auto& folder : c.folders) fs::create_directories(dir_ / folder);
        EXPECT_EQ(ntfs_driver(), c.expected);
    }
}

}  // namespace
}  // namespace tuvrek
