// Runs at once, as a desktop makes them: the window leaves its other rows clickable while an action
// runs, and the startup service runs while the user works. Every entry and record is kept, and every
// reply tells the truth.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "tuvrek/config.hpp"
#include "tuvrek/mountinfo.hpp"
#include "tuvrek/records.hpp"

namespace tuvrek::test {
namespace {

using Args = std::vector<std::string>;
// Not Run: inside a test body that names the test's own method.
using CliRun = Run;
constexpr int kRuns = 20;
const std::string kWaiting = "Waiting for another tuvrek-disk to finish…\n";

std::string device(int i) { return "/dev/sdx" + std::to_string(i); }
std::string uuid(int i) { return "AAAA-" + std::to_string(1000 + i); }

// A removable drive of `count` ext4 partitions sdx1..sdxN, none mounted as lsblk sees it.
std::string drive_json(int count) {
    nlohmann::json children = nlohmann::json::array();
    for (int i = 1; i <= count; ++i) {
        children.push_back({{"name", "sdx" + std::to_string(i)}, {"path", device(i)}, {"type", "part"},
                            {"size", 1000000}, {"fstype", "ext4"}, {"label", "p" + std::to_string(i)},
                            {"uuid", uuid(i)}, {"mountpoints", {nullptr}}});
    }
    return nlohmann::json{{"blockdevices",
                           {{{"name", "sdx"}, {"path", "/dev/sdx"}, {"type", "disk"}, {"size", 100000000},
                             {"rm", true}, {"children", children}}}}}
        .dump();
}

// Holds the state lock as another run would.
class HeldLock {
public:
    explicit HeldLock(const fs::path& run_dir) {
        fs::create_directories(run_dir);
        fd_ = ::open((run_dir / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0) ADD_FAILURE() << "can't hold " << run_dir / "lock";
    }
    ~HeldLock() { release(); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    void release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Machine {
    TempDir dir;
    StandIns tools{dir / "tools"};
    fs::path root = dir.path();

    explicit Machine(int partitions = kRuns) {
        write_file(dir / "lsblk.json", drive_json(partitions));
        write_file(dir / "mountinfo", "");
        fs::create_directories(dir / "sys-module");
        fs::create_directories(dir / "modules");
        add_mount_table_standins(tools);
        tools.add("systemctl");
        tools.add("modprobe");
        tools.add("modinfo", 1);
        tools.add("pacman");
    }
    fs::path run_dir() const { return root / "run"; }
    std::string folder(int i) const { return (root / "mnt" / ("p" + std::to_string(i))).string(); }
    RunOptions options() const { return hermetic_options(root, tools.path_env()); }

    // Every run started before the first is waited for.
    std::vector<CliRun> all_at_once(const std::vector<Args>& runs) const {
        std::vector<Started> started;
        for (const Args& args : runs) {
            Args argv{"--elevated", "--json"};
            argv.insert(argv.end(), args.begin(), args.end());
            started.push_back(start_cli(argv, options()));
        }
        std::vector<CliRun> done;
        for (Started& run : started) done.push_back(run.finish());
        return done;
    }

    std::vector<Record> records() const {
        ScopedEnv env;
        env.set("TUVREK_DISK_RUN_DIR", run_dir().string());
        return read_mount_records();
    }
    std::vector<Entry> entries() const {
        auto parsed = parse_automount_config(read_file(root / "automount.toml"), "automount.toml");
        EXPECT_TRUE(parsed.has_value()) << read_file(root / "automount.toml");
        return parsed ? *parsed : std::vector<Entry>{};
    }
    // What the table stand-ins left: the mounts, folder to device.
    std::map<std::string, std::string> table() const {
        std::map<std::string, std::string> mounted;
        for (const auto& entry : parse_mountinfo(read_file(root / "mountinfo"))) {
            EXPECT_FALSE(mounted.count(entry.mount_point)) << "mounted twice: " << entry.mount_point;
            mounted[entry.mount_point] = entry.source;
        }
        return mounted;
    }
    // Partitions given to mount, in the order of the calls.
    std::vector<std::string> mounted_devices() const {
        std::vector<std::string> devices;
        for (const auto& call : tools.calls("mount")) devices.push_back(call.at(call.size() - 2));
        return devices;
    }
};

nlohmann::json reply_of(const CliRun& run) { return nlohmann::json::parse(run.out, nullptr, false); }

// How many replies say ok, for the counts in the messages.
int ok_replies(const std::vector<CliRun>& runs) {
    return static_cast<int>(std::count_if(runs.begin(), runs.end(), [](const CliRun& r) {
        const auto reply = reply_of(r);
        return r.status == 0 && reply.is_object() && reply.value("ok", false);
    }));
}

// The counts of a run of runs, kept in the test's report (--gtest_output) to compare one build with another.
void record_counts(const std::vector<CliRun>& runs, std::size_t records, std::size_t entries) {
    ::testing::Test::RecordProperty("ok_replies", ok_replies(runs));
    ::testing::Test::RecordProperty("records", static_cast<int>(records));
    ::testing::Test::RecordProperty("entries", static_cast<int>(entries));
}

std::string outputs(const std::vector<CliRun>& runs) {
    std::string text;
    for (const CliRun& run : runs) text += "status " + std::to_string(run.status) + ": " + run.out + run.err + "\n";
    return text;
}

TEST(AtOnce, AutomountAddKeepsEveryEntry) {
    Machine m;
    std::vector<Args> runs;
    for (int i = 1; i <= kRuns; ++i) runs.push_back({"automount", "add", "-p", device(i), "-d", m.folder(i), "--yes"});
    const std::vector<CliRun> done = m.all_at_once(runs);

    const std::vector<Entry> entries = m.entries();
    record_counts(done, m.records().size(), entries.size());
    EXPECT_EQ(ok_replies(done), kRuns) << outputs(done);
    EXPECT_EQ(entries.size(), static_cast<std::size_t>(kRuns)) << "entries kept: " << entries.size();
    for (int i = 1; i <= kRuns; ++i) {
        // An ok reply is an entry in the file.
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                                [&](const Entry& e) { return e.uuid == uuid(i) && e.target == m.folder(i); }))
            << uuid(i);
    }
    EXPECT_EQ(m.tools.calls("systemctl").size(), static_cast<std::size_t>(kRuns));
}

TEST(AtOnce, MountKeepsEveryRecord) {
    Machine m;
    std::vector<Args> runs;
    for (int i = 1; i <= kRuns; ++i) runs.push_back({"mount", "-p", device(i), "-d", m.folder(i)});
    const std::vector<CliRun> done = m.all_at_once(runs);

    const std::vector<Record> records = m.records();
    record_counts(done, records.size(), 0);
    EXPECT_EQ(ok_replies(done), kRuns) << outputs(done);
    EXPECT_EQ(records.size(), static_cast<std::size_t>(kRuns)) << "records kept: " << records.size();
    const auto table = m.table();
    EXPECT_EQ(table.size(), static_cast<std::size_t>(kRuns));
    for (int i = 1; i <= kRuns; ++i) {
        EXPECT_THAT(records, ::testing::Contains(Record{device(i), m.folder(i), true}));
        EXPECT_EQ(table.count(m.folder(i)) ? table.at(m.folder(i)) : "", device(i));
    }
}

TEST(AtOnce, MountAtStartupKeepsEveryEntryAndRecordAndSaysSo) {
    Machine m;
    std::vector<Args> runs;
    for (int i = 1; i <= kRuns; ++i) runs.push_back({"mount", "--startup", "-p", device(i), "-d", m.folder(i)});
    const std::vector<CliRun> done = m.all_at_once(runs);

    const std::vector<Record> records = m.records();
    const std::vector<Entry> entries = m.entries();
    record_counts(done, records.size(), entries.size());
    EXPECT_EQ(ok_replies(done), kRuns) << outputs(done);
    EXPECT_EQ(records.size(), static_cast<std::size_t>(kRuns)) << "records kept: " << records.size();
    EXPECT_EQ(entries.size(), static_cast<std::size_t>(kRuns)) << "entries kept: " << entries.size();
    for (int i = 0; i < kRuns; ++i) {
        const auto reply = reply_of(done[i]);
        EXPECT_EQ(reply.value("message", ""), "Mounted " + device(i + 1) + " at " + m.folder(i + 1) +
                                                  " (read-only). It will be mounted at startup too.")
            << done[i].out << done[i].err;
    }
    EXPECT_EQ(m.table().size(), static_cast<std::size_t>(kRuns));
}

// Half the partitions are unmounted while the other half are mounted.
TEST(AtOnce, MountsAndUnmountsMixedKeepWhatEachLeft) {
    Machine m;
    const int half = kRuns / 2;
    std::vector<Record> before;
    std::string table;
    for (int i = 1; i <= half; ++i) {
        fs::create_directories(m.folder(i));
        before.push_back(Record{device(i), m.folder(i), true});
        table += std::to_string(100 + i) + " 1 8:1 / " + m.folder(i) + " ro,relatime - ext4 " + device(i) + " ro\n";
    }
    write_file(m.root / "mountinfo", table);
    {
        ScopedEnv env;
        env.set("TUVREK_DISK_RUN_DIR", m.run_dir().string());
        ASSERT_TRUE(write_mount_records(before));
    }
    std::vector<Args> runs;
    for (int i = 1; i <= half; ++i) {
        runs.push_back({"unmount", m.folder(i)});
        runs.push_back({"mount", "-p", device(half + i), "-d", m.folder(half + i)});
    }
    const std::vector<CliRun> done = m.all_at_once(runs);

    EXPECT_EQ(ok_replies(done), kRuns) << outputs(done);
    std::vector<Record> expected;
    for (int i = half + 1; i <= kRuns; ++i) expected.push_back(Record{device(i), m.folder(i), true});
    std::vector<Record> records = m.records();
    record_counts(done, records.size(), 0);
    auto by_target = [](const Record& a, const Record& b) { return a.target < b.target; };
    std::sort(records.begin(), records.end(), by_target);
    std::sort(expected.begin(), expected.end(), by_target);
    EXPECT_EQ(records, expected) << "records kept: " << records.size();
    const auto mounted = m.table();
    for (int i = 1; i <= kRuns; ++i) {
        const bool stays = i > half;
        EXPECT_EQ(mounted.count(m.folder(i)), stays ? 1u : 0u) << m.folder(i);
        EXPECT_EQ(fs::exists(m.folder(i)), stays) << m.folder(i);  // each folder made here goes with its unmount
    }
}

// The startup service and the window at once, on the same partitions: each is mounted once, and the
// run that comes second says why it didn't mount it.
TEST(AtOnce, StartupRunAndMountsMountEachPartitionOnce) {
    Machine m(5);
    std::string config;
    for (int i = 1; i <= 5; ++i)
        config += "[[mount]]\nuuid = \"" + uuid(i) + "\"\ntarget = \"" + m.folder(i) + "\"\nuid = 0\ngid = 0\n\n";
    write_file(m.root / "automount.toml", config);
    std::vector<Args> runs{{"automount", "run"}};
    for (int i = 1; i <= 5; ++i) runs.push_back({"mount", "-p", device(i), "-d", m.folder(i)});
    const std::vector<CliRun> done = m.all_at_once(runs);

    std::vector<std::string> devices = m.mounted_devices();
    std::sort(devices.begin(), devices.end());
    EXPECT_EQ(devices, (std::vector<std::string>{device(1), device(2), device(3), device(4), device(5)}));
    EXPECT_EQ(m.records().size(), 5u);
    for (int i = 1; i <= 5; ++i) {
        const CliRun& run = done[i];
        const bool mounted_by_it = reply_of(run).value("ok", false);
        // The startup run said which it mounted and which it found mounted already.
        const std::string line = m.folder(i) + (mounted_by_it ? ": already mounted\n" : ": mounted " + device(i) + "\n");
        EXPECT_THAT(done[0].err, ::testing::HasSubstr(line)) << run.out;
        if (!mounted_by_it) {
            EXPECT_EQ(reply_of(run).value("error", ""), "already-mounted") << run.out << run.err;
        }
    }
}

// ---- the lock itself ----

TEST(OneChangeAtATime, ARunThatMustWaitSaysSoAndGoesOn) {
    Machine m;
    HeldLock other(m.run_dir());
    Started run = start_cli({"--elevated", "--json", "mount", "-p", device(1), "-d", m.folder(1)}, m.options());
    ASSERT_TRUE(run.wait_for([](const CliRun& r) { return r.err.find(kWaiting) != std::string::npos; })) << "no wait told";
    EXPECT_TRUE(m.tools.calls("mount").empty());  // nothing read or done before the lock
    other.release();
    const CliRun done = run.finish();
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.err, kWaiting + "$ mount -t ext4 -o ro " + device(1) + " " + m.folder(1) + "\n");
    EXPECT_EQ(reply_of(done).value("ok", false), true) << done.out;
}

TEST(OneChangeAtATime, ReadersAndDryRunsTakeNoLock) {
    Machine m;
    HeldLock other(m.run_dir());
    const std::vector<Args> readers{{"list"},
                                    {"plan", "-p", device(1)},
                                    {"automount", "list"},
                                    {"mount", "--dry-run", "-p", device(1)},
                                    {"automount", "add", "--dry-run", "-p", device(1)}};
    for (const Args& args : readers) {
        RunOptions options = m.options();
        options.timeout_seconds = 10;
        Args argv{"--elevated"};
        argv.insert(argv.end(), args.begin(), args.end());
        const CliRun run = run_cli(argv, options);
        EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
        EXPECT_EQ(run.err.find("Waiting"), std::string::npos) << args[0];
    }
}

// Where the run folder can't be made (as for --elevated run by a plain user), the run goes on as it
// did before there was a lock, and says what it couldn't do.
TEST(OneChangeAtATime, WithoutALockTheRunWarnsAndGoesOn) {
    Machine m;
    write_file(m.root / "not-a-folder", "");
    RunOptions options = m.options();
    const fs::path run_dir = m.root / "not-a-folder" / "run";
    options.env["TUVREK_DISK_RUN_DIR"] = run_dir.string();
    const CliRun run = run_cli({"--elevated", "--json", "mount", "-p", device(1), "-d", m.folder(1)}, options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(reply_of(run).value("ok", false), true) << run.out;
    EXPECT_THAT(run.err, ::testing::HasSubstr("\x1b[33mWarning:\x1b[0m Going on without the lock " +
                                              (run_dir / "lock").string() + " (Not a directory (os error 20))"));
    EXPECT_THAT(run.err, ::testing::HasSubstr("but the mount couldn't be recorded in " +
                                              (run_dir / "mounts.json").string()));
    EXPECT_EQ(m.tools.calls("mount").size(), 1u);
}

}  // namespace
}  // namespace tuvrek::test
