// INT, TERM and HUP sent to tuvrek-disk alone while its child runs: the child gets the signal, the run
// waits for it, finishes its bookkeeping, and ends with 128+N and the "interrupted" reply. No child
// outlives it.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "texts.hpp"
#include "tuvrek/config.hpp"
#include "tuvrek/records.hpp"

namespace tuvrek::test {
namespace {

using Args = std::vector<std::string>;
using CliRun = Run;

struct Machine {
    TempDir dir;
    StandIns tools{dir / "tools"};
    fs::path root = dir.path();
    fs::path folder = root / "mnt" / "data";

    Machine() {
        write_file(root / "mountinfo", "");
        fs::create_directories(root / "sys-module");
        fs::create_directories(root / "modules");
        // Every program that would touch the machine has its stand-in; a test replaces the one it puts to sleep.
        for (const char* name : {"mount", "umount", "modprobe", "systemctl", "lsof"}) tools.add(name);
        tools.add("modinfo", 1);
        tools.add("pacman");  // pacman -Q: nothing installed
    }

    // A stand-in that tells it started, then sleeps until a signal; on one it runs `on_signal` and
    // ends with `status`. Its own sleep goes with it.
    void add_sleeper(const std::string& name, const std::string& on_signal, int status,
                     const std::string& before = "") {
        const std::string mark = (root / name).string();
        // Its output goes elsewhere: the run's streams close when the run ends, whatever the stand-in does.
        tools.add_script(name, before + "exec > /dev/null 2>&1\necho $$ > '" + mark + ".pid'\n"
                               "on_signal() {\n" + on_signal + "\n}\n"
                               "trap 'kill $sleeping 2>/dev/null; on_signal \"$@\"; exit " + std::to_string(status) +
                               "' INT TERM HUP\n"
                               "sleep 30 > /dev/null 2>&1 &\n"
                               "sleeping=$!\n"
                               ": > '" + mark + ".started'\n"
                               "wait $sleeping\n"
                               "exit 0");
    }
    // The mount table line the kernel would have for the last two arguments of mount.
    static std::string table_line() {
        return "for a; do device=$target; target=$a; done; "
               "printf '77 1 8:1 / %s ro,relatime - ext4 %s ro\\n' \"$target\" \"$device\" >> \"$TUVREK_DISK_MOUNTINFO\"";
    }

    RunOptions options() const {
        RunOptions options = hermetic_options(root, tools.bin().string() + ":/usr/bin:/bin");
        options.env["TUVREK_DISK_LSBLK_JSON"] = fixture_path("lsblk-mount-drives.json");
        return options;
    }
    // Starts the run, waits for the stand-in to sleep, and sends the signal to tuvrek-disk alone.
    CliRun interrupt(const Args& args, const std::string& sleeper, int signal) const {
        Args argv{"--elevated", "--json"};
        argv.insert(argv.end(), args.begin(), args.end());
        Started run = start_cli(argv, options());
        const fs::path started = root / (sleeper + ".started");
        run.wait_for([&](const CliRun&) { return fs::exists(started); });
        EXPECT_TRUE(fs::exists(started)) << sleeper << " never started";
        ::kill(run.pid(), signal);
        CliRun done = run.finish();
        // Waited for, so gone: not a zombie, not an orphan sleeping on.
        const pid_t child = std::stoi(read_file(root / (sleeper + ".pid")));
        EXPECT_FALSE(process_alive(child)) << sleeper << " outlived the run";
        return done;
    }

    std::vector<Record> records() const {
        ScopedEnv env;
        env.set("TUVREK_DISK_RUN_DIR", (root / "run").string());
        return read_mount_records();
    }
};

nlohmann::json interrupted(const std::string& message) {
    return {{"ok", false}, {"error", "interrupted"}, {"message", message}};
}

struct SignalCase {
    const char* name;
    int signal;
    std::string called;  // as the reply names it
};
void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

const auto kSignals = ::testing::Values(SignalCase{"term", SIGTERM, "SIGTERM"}, SignalCase{"int", SIGINT, "SIGINT"},
                                        SignalCase{"hup", SIGHUP, "SIGHUP"});
const auto kSignalName = [](const auto& info) { return std::string(info.param.name); };

class Interrupted : public ::testing::TestWithParam<SignalCase> {};

// The mount had landed when the signal came: it is recorded, and the reply says so.
TEST_P(Interrupted, AMountThatLandedIsRecorded) {
    const SignalCase& c = GetParam();
    Machine m;
    m.add_sleeper("mount", Machine::table_line(), 0);
    const CliRun run = m.interrupt({"mount", "-p", "sdb4", "-d", m.folder.string()}, "mount", c.signal);
    EXPECT_EQ(run.status, 128 + c.signal) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out),
              interrupted("Interrupted by " + c.called + ". Mounted /dev/sdb4 at " + m.folder.string() + " (read-only)."));
    EXPECT_EQ(m.records(), (std::vector<Record>{{"/dev/sdb4", m.folder.string(), true}}));
    EXPECT_TRUE(fs::is_directory(m.folder));
}

// Ended by the signal before the kernel took it: nothing is recorded, and the folder made for it goes.
TEST_P(Interrupted, AMountThatDidNotLandLeavesNothing) {
    const SignalCase& c = GetParam();
    Machine m;
    m.add_sleeper("mount", "true", 1);
    const CliRun run = m.interrupt({"mount", "-p", "sdb4", "-d", m.folder.string()}, "mount", c.signal);
    EXPECT_EQ(run.status, 128 + c.signal) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out), interrupted("Interrupted by " + c.called + ". Nothing was mounted."));
    EXPECT_TRUE(m.records().empty());
    EXPECT_FALSE(fs::exists(m.folder));
}

TEST_P(Interrupted, AnInstallationStopsBeforeTheMount) {
    const SignalCase& c = GetParam();
    Machine m;
    // pacman -Q answers at once; pacman -S sleeps.
    m.add_sleeper("pacman", "true", 1, "[ \"$1\" = -Q ] && exit 0\n");
    const CliRun run = m.interrupt({"mount", "--yes", "-p", "sdb2", "-d", m.folder.string()}, "pacman", c.signal);
    EXPECT_EQ(run.status, 128 + c.signal) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out), interrupted("Interrupted by " + c.called + ". Nothing was mounted."));
    EXPECT_EQ(m.tools.calls("pacman").back(), (Args{"-S", "--needed", "--noconfirm", "apfs-fuse-git"}));
    EXPECT_TRUE(m.tools.calls("mount").empty());
    EXPECT_FALSE(fs::exists(m.folder));
    EXPECT_TRUE(m.records().empty());
}

// The kernel let go before umount ended: the record goes, and so does the folder this system made.
TEST_P(Interrupted, AnUnmountThatLandedTakesItsRecordAndFolder) {
    const SignalCase& c = GetParam();
    Machine m;
    fs::create_directories(m.folder);
    write_file(m.root / "mountinfo", "77 1 8:1 / " + m.folder.string() + " ro,relatime - ext4 /dev/sdb4 ro\n");
    write_file(m.root / "run" / "mounts.json", serialize_mount_records({{"/dev/sdb4", m.folder.string(), true}}));
    m.add_sleeper("umount", ": > \"$TUVREK_DISK_MOUNTINFO\"", 0);
    const CliRun run = m.interrupt({"unmount", m.folder.string()}, "umount", c.signal);
    EXPECT_EQ(run.status, 128 + c.signal) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out),
              interrupted("Interrupted by " + c.called + ". Unmounted " + m.folder.string() + "."));
    EXPECT_TRUE(m.records().empty());
    EXPECT_FALSE(fs::exists(m.folder));
}

TEST_P(Interrupted, AnUnmountThatDidNotLandKeepsTheRecordAndFolder) {
    const SignalCase& c = GetParam();
    Machine m;
    fs::create_directories(m.folder);
    write_file(m.root / "mountinfo", "77 1 8:1 / " + m.folder.string() + " ro,relatime - ext4 /dev/sdb4 ro\n");
    const std::vector<Record> before{{"/dev/sdb4", m.folder.string(), true}};
    write_file(m.root / "run" / "mounts.json", serialize_mount_records(before));
    m.add_sleeper("umount", "true", 1);
    const CliRun run = m.interrupt({"unmount", m.folder.string()}, "umount", c.signal);
    EXPECT_EQ(run.status, 128 + c.signal) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out),
              interrupted("Interrupted by " + c.called + ". " + m.folder.string() + " is still mounted."));
    EXPECT_EQ(m.records(), before);
    EXPECT_TRUE(fs::is_directory(m.folder));
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted, kSignals, kSignalName);

// With --startup the entry of a mount that landed is written and the service enabled, as the user asked.
TEST(InterruptedAtStartup, TheEntryOfAMountThatLandedIsWritten) {
    Machine m;
    m.add_sleeper("mount", Machine::table_line(), 0);
    const CliRun run = m.interrupt({"mount", "--startup", "-p", "sdb4", "-d", m.folder.string()}, "mount", SIGTERM);
    EXPECT_EQ(run.status, 143) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out),
              interrupted("Interrupted by SIGTERM. Mounted /dev/sdb4 at " + m.folder.string() +
                          " (read-only). It will be mounted at startup too."));
    EXPECT_EQ(m.records().size(), 1u);
    auto entries = parse_automount_config(read_file(m.root / "automount.toml"), "automount.toml");
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].target, m.folder.string());
    EXPECT_EQ(m.tools.calls("systemctl"), (std::vector<Args>{{"enable", kStartupUnit}}));
}

// The startup run stops after the entry it was mounting: that one is recorded, the rest not tried.
TEST(InterruptedAtStartup, TheRunStopsAfterTheEntryItWasMounting) {
    Machine m;
    m.add_sleeper("mount", Machine::table_line(), 0);
    const std::string other = (m.root / "mnt" / "win").string();
    write_file(m.root / "automount.toml",
               "[[mount]]\nuuid = \"e0c1f5a2-7b3d-4c8e-9f1a-2d3b4c5d6e7f\"\ntarget = \"" + m.folder.string() +
                   "\"\nuid = 0\ngid = 0\n\n[[mount]]\nuuid = \"0A1B2C3D4E5F6071\"\ntarget = \"" + other +
                   "\"\nuid = 0\ngid = 0\n");
    const CliRun run = m.interrupt({"automount", "run"}, "mount", SIGTERM);
    EXPECT_EQ(run.status, 143) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out),
              interrupted("Interrupted by SIGTERM. 1 of 2 startup mounts were not tried."));
    EXPECT_THAT(run.err, ::testing::HasSubstr(m.folder.string() + ": mounted /dev/sdb4\n"));
    EXPECT_EQ(m.tools.calls("mount").size(), 1u);
    EXPECT_EQ(m.records(), (std::vector<Record>{{"/dev/sdb4", m.folder.string(), true}}));
    EXPECT_FALSE(fs::exists(other));
}

// Stopped while waiting for another run's lock: nothing was read or done, in text as in JSON.
TEST(InterruptedWaiting, ForTheLockNothingIsDone) {
    Machine m;
    m.tools.add("mount");
    fs::create_directories(m.root / "run");
    const int lock = ::open((m.root / "run" / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    for (const bool json : {true, false}) {
        Args argv{"--elevated", "mount", "-p", "sdb4", "-d", m.folder.string()};
        if (json) argv.insert(argv.begin(), "--json");
        Started run = start_cli(argv, m.options());
        EXPECT_TRUE(run.wait_for([](const CliRun& r) { return r.err.find("Waiting for another") != std::string::npos; }));
        ::kill(run.pid(), SIGTERM);
        const CliRun done = run.finish();
        EXPECT_EQ(done.status, 143) << done.err;
        const std::string message = "Interrupted by SIGTERM. Nothing was changed.";
        if (json) {
            EXPECT_EQ(nlohmann::json::parse(done.out), interrupted(message));
        } else {
            EXPECT_EQ(done.out, "");
            EXPECT_THAT(done.err, ::testing::EndsWith("\x1b[31mError:\x1b[0m " + message + "\n"));
        }
    }
    ::close(lock);
    EXPECT_TRUE(m.tools.calls("mount").empty());
    EXPECT_FALSE(fs::exists(m.folder));
}

}  // namespace
}  // namespace tuvrek::test
