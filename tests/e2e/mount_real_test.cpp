// The real thing, as root: filesystem images on loop devices mounted through the real mount program.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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
