// The real thing, as root: an ext4 image on a loop device, mounted, held busy and unmounted with the
// machine's own mount, umount and lsof, and mounted again at "startup" by automount run.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "texts.hpp"

extern char** environ;

namespace tuvrek::test {
namespace {

using Args = std::vector<std::string>;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

bool on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

// How many times the kernel shows something mounted exactly on this folder.
int mounts_on(const std::string& folder) {
    std::istringstream table(read_file("/proc/self/mountinfo"));
    std::string line;
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, dev, root, point;
        fields >> id >> parent >> dev >> root >> point;
        if (point == folder) ++count;
    }
    return count;
}

// The loop device with a fresh ext4 image; detached (and any mount on our folders dropped) on the way out.
struct LoopDevice {
    std::string path;
    std::string uuid;
    std::vector<std::string> folders_to_release;

    ~LoopDevice() {
        for (const auto& folder : folders_to_release)
            while (mounts_on(folder) > 0 && run({"umount", "-l", folder}).status == 0) {
            }
        if (!path.empty()) run({"losetup", "-d", path});
    }
};

// A process whose working folder is inside the mount, as a terminal left open there would be.
struct Sleeper {
    pid_t pid = -1;

    explicit Sleeper(const std::string& folder) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        char sleep[] = "sleep", sixty[] = "60";
        char* argv[] = {sleep, sixty, nullptr};
        if (posix_spawnp(&pid, "sleep", &actions, nullptr, argv, environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Sleeper() {
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;
};

class RealLoop : public ::testing::Test {
protected:
    // Declared first, removed last: the loop device and its mounts go before the folders do.
    TempDir dir;
    StandIns tools{dir / "tools"};  // systemctl only: there is no systemd here
    LoopDevice loop;

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to attach loop devices and mount";
        if (!fs::exists("/dev/loop-control")) GTEST_SKIP() << "no loop device support (/dev/loop-control missing)";
        for (const char* program : {"losetup", "blkid", "mkfs.ext4", "mount", "umount"})
            if (!on_path(program)) GTEST_SKIP() << program << " is not installed";

        const fs::path image = dir / "disk.img";
        write_file(image, "");
        fs::resize_file(image, 16 << 20);
        test::Run mkfs = run({"mkfs.ext4", "-q", "-F", image.string()});
        ASSERT_EQ(mkfs.status, 0) << mkfs.err;
        test::Run attached = run({"losetup", "--find", "--show", image.string()});
        if (attached.status != 0) GTEST_SKIP() << "no free loop device: " << attached.err;
        loop.path = trimmed(attached.out);
        test::Run uuid = run({"blkid", "-o", "value", "-s", "UUID", loop.path});
        ASSERT_EQ(uuid.status, 0) << uuid.err;
        loop.uuid = trimmed(uuid.out);
        ASSERT_FALSE(loop.uuid.empty());

        // Without udev lsblk knows no FSTYPE or UUID; blkid does, so the document is built from it.
        nlohmann::json device = {{"name", fs::path(loop.path).filename().string()},
                                 {"path", loop.path},
                                 {"type", "loop"},
                                 {"size", 16 << 20},
                                 {"fstype", "ext4"},
                                 {"uuid", loop.uuid},
                                 {"mountpoints", nlohmann::json::array({nullptr})},
                                 {"rm", false},
                                 {"ro", false}};
        write_file(dir / "lsblk.json", nlohmann::json{{"blockdevices", nlohmann::json::array({device})}}.dump());
        tools.add("systemctl");

        // A container may hand out loop devices without letting us mount them.
        const std::string probe = folder("probe");
        fs::create_directories(probe);
        test::Run mounted = run({"mount", "-t", "ext4", "-o", "ro", loop.path, probe});
        if (mounted.status != 0) GTEST_SKIP() << "mounting is not allowed here: " << mounted.err;
        run({"umount", probe});
    }

    std::string folder(const std::string& name) {
        std::string path = (dir / "mnt" / name).string();
        loop.folders_to_release.push_back(path);
        return path;
    }

    test::Run cli(const Args& args) const {
        RunOptions options = hermetic_options(dir.path(), tools.path_env());
        use_real_kernel(options);
        Args argv{"--elevated"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_cli(argv, options);
    }
};

TEST_F(RealLoop, BusyUnmountShowsTheHoldersAndLazyDetachesIt) {
    if (!on_path("lsof")) GTEST_SKIP() << "lsof is not installed";
    const std::string target = folder("busy");
    test::Run mounted = cli({"mount", "-p", loop.path, "-d", target, "--yes"});
    ASSERT_EQ(mounted.status, 0) << mounted.out << mounted.err;
    ASSERT_EQ(mounts_on(target), 1);

    Sleeper sleeper(target);
    ASSERT_GT(sleeper.pid, 0);
    test::Run busy = cli({"--json", "unmount", target});
    EXPECT_EQ(busy.status, 5) << busy.err;
    auto reply = nlohmann::json::parse(busy.out, nullptr, false);
    EXPECT_EQ(reply["error"], "busy") << busy.out;
    const std::string message = reply.value("message", "");
    const std::string head = target + kBusyText + "\n\nUsing it:\n";
    EXPECT_EQ(message.rfind(head, 0), 0u) << message;
    const std::string holders = message.substr(std::min(head.size(), message.size()));
    EXPECT_NE(holders.find("COMMAND"), std::string::npos) << holders;
    EXPECT_NE(holders.find("sleep"), std::string::npos) << holders;
    EXPECT_NE(holders.find(std::to_string(sleeper.pid)), std::string::npos) << holders;
    EXPECT_EQ(mounts_on(target), 1);  // still mounted, and still recorded
    EXPECT_NE(read_file(dir / "run" / "mounts.json").find(target), std::string::npos);

    test::Run lazy = cli({"unmount", "--lazy", target});
    ASSERT_EQ(lazy.status, 0) << lazy.err;
    EXPECT_EQ(lazy.out, "$ umount -l " + target + "\nUnmounted " + target + ".\n");
    EXPECT_EQ(mounts_on(target), 0);
    EXPECT_FALSE(fs::exists(target)) << "the folder tuvrek-disk created is left behind";
    EXPECT_EQ(read_file(dir / "run" / "mounts.json"), "[]\n");
}

TEST_F(RealLoop, AFolderThatExistedBeforeStays) {
    const std::string target = folder("kept");
    fs::create_directories(target);
    test::Run mounted = cli({"mount", "-p", loop.path, "-d", target, "--yes"});
    ASSERT_EQ(mounted.status, 0) << mounted.out << mounted.err;
    ASSERT_EQ(mounts_on(target), 1);

    test::Run unmounted = cli({"unmount", target + "/"});
    ASSERT_EQ(unmounted.status, 0) << unmounted.err;
    EXPECT_EQ(mounts_on(target), 0);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(read_file(dir / "run" / "mounts.json"), "[]\n");
}

TEST_F(RealLoop, AutomountRunMountsByUuidOnceAndSkipsWhatIsNotConnected) {
    const std::string target = folder("startup");
    const std::string absent = folder("absent");
    test::Run added = cli({"automount", "add", "-p", loop.path, "-d", target, "--yes"});
    ASSERT_EQ(added.status, 0) << added.out << added.err;
    EXPECT_EQ(tools.calls("systemctl"), (std::vector<Args>{{"enable", "tuvrek-disk-automount.service"}}));
    EXPECT_EQ(mounts_on(target), 0);  // add only remembers it
    std::string config = read_file(dir / "automount.toml");
    config += "\n[[mount]]\nuuid = \"0000-DEAD\"\ntarget = \"" + absent + "\"\nuid = 0\ngid = 0\n";
    write_file(dir / "automount.toml", config);

    test::Run first = cli({"automount", "run"});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_NE(first.out.find(target + ": mounted " + loop.path + "\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find(absent + ": skipped, UUID 0000-DEAD isn't connected\n"), std::string::npos) << first.out;
    EXPECT_EQ(mounts_on(target), 1);
    EXPECT_FALSE(fs::exists(absent));

    // lsblk's document knows nothing of the mount: the record, checked against the kernel table, tells.
    test::Run second = cli({"automount", "run"});
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_NE(second.out.find(target + ": already mounted\n"), std::string::npos) << second.out;
    EXPECT_EQ(mounts_on(target), 1);

    test::Run unmounted = cli({"unmount", loop.path});
    ASSERT_EQ(unmounted.status, 0) << unmounted.err;
    EXPECT_EQ(mounts_on(target), 0);
    EXPECT_FALSE(fs::exists(target));
}

}  // namespace
}  // namespace tuvrek::test
