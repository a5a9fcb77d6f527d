// The real thing, as root: filesystem images on loop devices mounted through the real mount program.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support.hpp"
#include "tuvrek/mountinfo.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

bool program_exists(const std::string& name) {
    const char* env = std::getenv("PATH");
    std::stringstream dirs(std::string(env ? env : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((fs::path(dir) / name).c_str(), X_OK) == 0) return true;
    return false;
}

bool kernel_knows(const std::string& fstype) {
    return test::read_file("/proc/filesystems").find("\t" + fstype + "\n") != std::string::npos;
}

// Detached again however the test ends.
class LoopDevice {
public:
    explicit LoopDevice(const fs::path& image) {
        test::Run run = test::run({"losetup", "--find", "--show", image.string()});
        if (run.status == 0) device_ = trimmed(run.out);
        else error_ = run.err;
    }
    ~LoopDevice() {
        if (!device_.empty()) test::run({"losetup", "-d", device_});
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& device() const { return device_; }
    const std::string& error() const { return error_; }

private:
    std::string device_;
    std::string error_;
};

// Unmounts whatever ended up on the folder and removes it, also when an assertion failed halfway.
class MountCleanup {
public:
    explicit MountCleanup(fs::path folder) : folder_(std::move(folder)) {}
    ~MountCleanup() {
        for (int i = 0; i < 4 && mount_at(folder_.string()); ++i) test::run({"umount", folder_.string()});
        std::error_code ec;
        fs::remove(folder_, ec);
    }
    MountCleanup(const MountCleanup&) = delete;
    MountCleanup& operator=(const MountCleanup&) = delete;

private:
    fs::path folder_;
};

struct RealCase {
    const char* name;
    const char* fstype;
    const char* mkfs;
    std::uintmax_t size;
    bool rw;
};
void PrintTo(const RealCase& c, std::ostream* os) { *os << c.name; }

class RealMount : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealMount, MountsTheImageAsAsked) {
    const RealCase& c = GetParam();
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up loop devices and mount";
    if (!fs::exists("/dev/loop-control")) GTEST_SKIP() << "no loop device support (/dev/loop-control is missing)";
    if (!program_exists(c.mkfs)) GTEST_SKIP() << c.mkfs << " is not installed";
    if (!kernel_knows(c.fstype)) GTEST_SKIP() << "the kernel has no " << c.fstype << " driver loaded";
    // The mount table must be the kernel's own here.
    ::unsetenv("TUVREK_DISK_MOUNTINFO");

    test::TempDir tmp;
    const fs::path image = tmp / "disk.img";
    test::write_file(image, "");
    fs::resize_file(image, c.size);
    test::Run made = test::run({c.mkfs, "-q", c.fstype == std::string("ext4") ? "-F" : "-f", image.string()});
    ASSERT_EQ(made.status, 0) << made.err;

    LoopDevice loop(image);
    if (loop.device().empty()) GTEST_SKIP() << "no free loop device: " << loop.error();
    const std::string device = loop.device();

    // No udev here, so lsblk would not know the filesystem: describe the device from blkid's answer.
    test::Run probe = test::run({"blkid", "-p", "-o", "export", device});
    ASSERT_EQ(probe.status, 0) << probe.err;
    std::string type, uuid;
    std::stringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("TYPE=", 0) == 0) type = line.substr(5);
        if (line.rfind("UUID=", 0) == 0) uuid = line.substr(5);
    }
    ASSERT_EQ(type, c.fstype);
    nlohmann::json node = {{"name", fs::path(device).filename().string()},
                           {"path", device},
                           {"type", "loop"},
                           {"size", c.size},
                           {"fstype", type},
                           {"fsver", nullptr},
                           {"label", nullptr},
                           {"partlabel", nullptr},
                           {"parttypename", nullptr},
                           {"uuid", uuid},
                           {"mountpoints", nlohmann::json::array({nullptr})},
                           {"model", nullptr},
                           {"vendor", nullptr},
                           {"rm", false},
                           {"ro", false}};
    test::write_file(tmp / "lsblk.json", nlohmann::json{{"blockdevices", {node}}}.dump());

    const fs::path folder = tmp / "mnt" / "disk";
    MountCleanup cleanup(folder);
    test::RunOptions options = test::hermetic_options(tmp.path());
    test::use_real_kernel(options);
    std::vector<std::string> args{"--elevated", "mount", "-p", device, "-d", folder.string()};
    if (c.rw) args.push_back("--rw");
    test::Run run = test::run_cli(args, options);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string mode = c.rw ? "rw" : "ro";
    EXPECT_EQ(run.out, "$ mount -t " + std::string(c.fstype) + " -o " + mode + " " + device + " " + folder.string() +
                           "\nMounted " + device + " at " + folder.string() + " (" +
                           (c.rw ? "read/write" : "read-only") + ").\n");
    if (c.rw) {
        EXPECT_THAT(run.err, ::testing::HasSubstr("Files keep the owners they have on this filesystem"));
    }

    auto mounted = mount_at(folder.string());
    ASSERT_TRUE(mounted) << "nothing is mounted on " << folder;
    EXPECT_EQ(mounted->fs_type, c.fstype);
    EXPECT_EQ(mounted->source, device);
    ASSERT_FALSE(mounted->options.empty());
    EXPECT_EQ(mounted->options.front(), mode);

    const fs::path file = folder / "hello.txt";
    if (c.rw) {
        test::write_file(file, "written through the mount\n");
        EXPECT_EQ(test::read_file(file), "written through the mount\n");
    } else {
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0644);
        int error = errno;
        if (fd >= 0) ::close(fd);
        EXPECT_LT(fd, 0);
        EXPECT_EQ(error, EROFS);
    }

    EXPECT_EQ(test::read_file(tmp / "run" / "mounts.json"),
              "[\n  {\n    \"device\": \"" + device + "\",\n    \"target\": \"" + folder.string() +
                  "\",\n    \"created_dir\": true\n  }\n]\n");
    EXPECT_FALSE(fs::exists(tmp / "automount.toml"));
}

// An ext4 image on a loop device, and its node as lsblk would list it (there is no udev here to ask).
struct LoopImage {
    std::unique_ptr<LoopDevice> loop;
    nlohmann::json node;
};

std::optional<LoopImage> ext4_on_loop(const fs::path& image, std::string& why) {
    test::write_file(image, "");
    fs::resize_file(image, 64u << 20);
    test::Run made = test::run({"mkfs.ext4", "-q", "-F", image.string()});
    if (made.status != 0) {
        why = made.err;
        return std::nullopt;
    }
    auto loop = std::make_unique<LoopDevice>(image);
    if (loop->device().empty()) {
        why = "no free loop device: " + loop->error();
        return std::nullopt;
    }
    test::Run probe = test::run({"blkid", "-p", "-o", "value", "-s", "UUID", loop->device()});
    const std::string device = loop->device();
    nlohmann::json node = {{"name", fs::path(device).filename().string()}, {"path", device}, {"type", "loop"},
                           {"size", 64u << 20}, {"fstype", "ext4"}, {"uuid", trimmed(probe.out)},
                           {"mountpoints", nlohmann::json::array({nullptr})}, {"rm", false}, {"ro", false}};
    return LoopImage{std::move(loop), std::move(node)};
}

// With one filesystem on F, another mounted at F spelled otherwise would be stacked on it by the
// kernel: every spelling is refused as in use, and unmounting "F/" undoes the first one whole.
TEST(RealStackedMount, IsRefusedHoweverTheFolderIsSpelled) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up loop devices and mount";
    if (!fs::exists("/dev/loop-control")) GTEST_SKIP() << "no loop device support (/dev/loop-control is missing)";
    if (!program_exists("mkfs.ext4")) GTEST_SKIP() << "mkfs.ext4 is not installed";
    if (!kernel_knows("ext4")) GTEST_SKIP() << "the kernel has no ext4 driver loaded";
    ::unsetenv("TUVREK_DISK_MOUNTINFO");

    test::TempDir tmp;
    std::string why;
    auto first = ext4_on_loop(tmp / "first.img", why);
    if (!first) GTEST_SKIP() << why;
    auto second = ext4_on_loop(tmp / "second.img", why);
    if (!second) GTEST_SKIP() << why;
    test::write_file(tmp / "lsblk.json", nlohmann::json{{"blockdevices", {first->node, second->node}}}.dump());

    const fs::path folder = tmp / "mnt" / "F";
    MountCleanup cleanup(folder);
    fs::create_directories(tmp / "mnt" / "y");
    fs::create_symlink(folder, tmp / "link-to-F");
    test::RunOptions options = test::hermetic_options(tmp.path());
    test::use_real_kernel(options);
    const std::string first_device = first->loop->device();
    test::Run mounted = test::run_cli({"--elevated", "mount", "-p", first_device, "-d", folder.string()}, options);
    ASSERT_EQ(mounted.status, 0) << mounted.out << mounted.err;

    for (const std::string& spelled : {folder.string() + "/", folder.string() + "//", (tmp / "mnt" / "." / "F").string(),
                                       (tmp / "mnt" / "y" / ".." / "F").string(), (tmp / "link-to-F").string()}) {
        test::Run stacked = test::run_cli(
            {"--elevated", "--json", "mount", "-p", second->loop->device(), "-d", spelled}, options);
        EXPECT_EQ(stacked.status, 3) << spelled << ": " << stacked.out << stacked.err;
        EXPECT_EQ(nlohmann::json::parse(stacked.out, nullptr, false).value("error", ""), "folder-in-use") << spelled;
    }
    int on_folder = 0;
    for (const auto& entry : read_mountinfo()) on_folder += entry.mount_point == folder.string();
    EXPECT_EQ(on_folder, 1);
    EXPECT_EQ(mount_at(folder.string())->source, first_device);

    test::Run unmounted = test::run_cli({"--elevated", "unmount", folder.string() + "/"}, options);
    EXPECT_EQ(unmounted.status, 0) << unmounted.out << unmounted.err;
    EXPECT_FALSE(mount_at(folder.string()));
    EXPECT_FALSE(fs::exists(folder));  // made for the mount, so gone with it
    EXPECT_EQ(test::read_file(tmp / "run" / "mounts.json"), "[]\n");
}

INSTANTIATE_TEST_SUITE_P(Filesystems, RealMount,
                         ::testing::Values(RealCase{"Ext4ReadWrite", "ext4", "mkfs.ext4", 64u << 20, true},
                                           RealCase{"Ext4ReadOnly", "ext4", "mkfs.ext4", 64u << 20, false},
                                           RealCase{"BtrfsReadWrite", "btrfs", "mkfs.btrfs", 128u << 20, true},
                                           RealCase{"BtrfsReadOnly", "btrfs", "mkfs.btrfs", 128u << 20, false},
                                           RealCase{"XfsReadWrite", "xfs", "mkfs.xfs", 320u << 20, true},
                                           RealCase{"XfsReadOnly", "xfs", "mkfs.xfs", 320u << 20, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tuvrek
