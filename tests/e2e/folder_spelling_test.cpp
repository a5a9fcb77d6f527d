// A folder typed any way (a trailing slash, "..", a symbolic link, relative to the working folder) is
// the folder the kernel will take: the guards of mount and unmount, the record, the commands and the
// reply all use that one path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "texts.hpp"
#include "tuvrek/records.hpp"

namespace tuvrek::test {
namespace {

using Args = std::vector<std::string>;
using CliRun = Run;

// One hermetic machine with a folder F that this system mounted (and made), and ways to reach it.
struct Machine {
    TempDir dir;
    StandIns tools{dir / "tools"};
    fs::path root = dir.path();
    fs::path folder = root / "mnt" / "F";

    Machine() {
        fs::create_directories(folder);
        fs::create_directories(root / "mnt" / "y");
        fs::create_symlink(folder, root / "link-to-F");
        fs::create_symlink("/boot", root / "link-to-boot");
        fs::create_directories(root / "sys-module");
        fs::create_directories(root / "modules");
        write_file(root / "mountinfo", "90 1 8:1 / " + folder.string() + " rw,relatime - ext4 /dev/sdb1 rw\n");
        write_records({Record{"/dev/sdb1", folder.string(), true}});
        add_mount_table_standins(tools);
        for (const char* name : {"lsof", "modprobe", "systemctl", "pacman"}) tools.add(name);
        tools.add("modinfo", 1);
    }
    void write_records(const std::vector<Record>& records) const {
        ScopedEnv env;
        env.set("TUVREK_DISK_RUN_DIR", (root / "run").string());
        ASSERT_TRUE(write_mount_records(records));
    }
    std::vector<Record> records() const {
        ScopedEnv env;
        env.set("TUVREK_DISK_RUN_DIR", (root / "run").string());
        return read_mount_records();
    }
    CliRun cli(const Args& args, const std::string& lsblk, const std::string& cwd = "") const {
        RunOptions options = hermetic_options(root, tools.bin().string() + ":/usr/bin:/bin");
        options.env["TUVREK_DISK_LSBLK_JSON"] = fixture_path(lsblk);
        options.cwd = cwd;
        Args argv{"--elevated", "--json"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_cli(argv, options);
    }
};

struct Spelling {
    const char* name;
    // The folder as typed, and the working folder it is typed in (empty: the test's own).
    std::function<std::string(const Machine&)> typed;
    std::function<std::string(const Machine&)> cwd = [](const Machine&) { return std::string(); };
};
void PrintTo(const Spelling& c, std::ostream* os) { *os << c.name; }

Spelling fixed(const char* name, const char* text) {
    return Spelling{name, [text](const Machine&) { return std::string(text); }};
}

// The folders of the running system and the kernel's own mounts, however spelled.
const std::vector<Spelling> kSystemSpellings = {
    fixed("mnt_dotdot", "/mnt/.."),
    fixed("root_dot", "/."),
    fixed("double_slash_usr", "//usr"),
    fixed("usr_dot", "/usr/."),
    fixed("var_dotdot", "/var/.."),
    fixed("triple_slash_home", "///home"),
    fixed("proc", "/proc"),
    fixed("below_sys", "/sys/fs"),
    fixed("dev_shm", "/dev/shm"),
    fixed("run", "/run"),
    Spelling{"link_to_boot", [](const Machine& m) { return (m.root / "link-to-boot").string(); }},
    Spelling{"dot_in_root", [](const Machine&) { return std::string("."); }, [](const Machine&) { return std::string("/"); }},
    Spelling{"dotdot_below_root", [](const Machine&) { return std::string(".."); },
             [](const Machine&) { return std::string("/mnt"); }},
};

// F itself, spelled otherwise.
const std::vector<Spelling> kSpellingsOfF = {
    Spelling{"trailing_slash", [](const Machine& m) { return m.folder.string() + "/"; }},
    Spelling{"trailing_slashes", [](const Machine& m) { return m.folder.string() + "//"; }},
    Spelling{"dot_inside", [](const Machine& m) { return (m.root / "mnt" / "." / "F").string(); }},
    Spelling{"dotdot_inside", [](const Machine& m) { return (m.root / "mnt" / "y" / ".." / "F").string(); }},
    Spelling{"link", [](const Machine& m) { return (m.root / "link-to-F").string(); }},
    Spelling{"relative", [](const Machine&) { return std::string("F"); },
             [](const Machine& m) { return (m.root / "mnt").string(); }},
};

nlohmann::json reply_of(const CliRun& run) { return nlohmann::json::parse(run.out, nullptr, false); }

// ---- unmount ----

class UnmountSystemSpelling : public ::testing::TestWithParam<Spelling> {};

TEST_P(UnmountSystemSpelling, IsRefusedAndNothingRuns) {
    Machine m;
    const std::string typed = GetParam().typed(m);
    const CliRun run = m.cli({"unmount", "--lazy", typed}, "lsblk-unmount-drives.json", GetParam().cwd(m));
    // A /dev/ path names a partition, and none has that name.
    const bool device_path = typed.starts_with("/dev/");
    EXPECT_EQ(run.status, device_path ? 1 : 3) << run.out << run.err;
    const nlohmann::json refusal =
        device_path ? nlohmann::json{{"ok", false},
                                     {"error", "no-partition"},
                                     {"message", "No partition " + typed + ". See `tuvrek-disk list`."}}
                    : nlohmann::json{{"ok", false},
                                     {"error", "system-partition"},
                                     {"message", typed + " is part of the running system."}};
    EXPECT_EQ(reply_of(run), refusal);
    EXPECT_TRUE(m.tools.calls("umount").empty());
}

INSTANTIATE_TEST_SUITE_P(Table, UnmountSystemSpelling, ::testing::ValuesIn(kSystemSpellings),
                         [](const auto& info) { return std::string(info.param.name); });

class UnmountSpellingOfF : public ::testing::TestWithParam<Spelling> {};

TEST_P(UnmountSpellingOfF, UnmountsFTakesItsRecordAndRemovesItsFolder) {
    Machine m;
    const CliRun run = m.cli({"unmount", GetParam().typed(m)}, "lsblk-unmount-drives.json", GetParam().cwd(m));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(reply_of(run), (nlohmann::json{{"ok", true},
                                             {"message", "Unmounted " + m.folder.string() + "."},
                                             {"target", m.folder.string()}}));
    EXPECT_EQ(m.tools.calls("umount"), std::vector<Args>{{m.folder.string()}});
    EXPECT_TRUE(m.records().empty());
    EXPECT_FALSE(fs::exists(m.folder));
}

INSTANTIATE_TEST_SUITE_P(Table, UnmountSpellingOfF, ::testing::ValuesIn(kSpellingsOfF),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- mount ----

class MountSystemSpelling : public ::testing::TestWithParam<Spelling> {};

TEST_P(MountSystemSpelling, IsRefusedAndNothingIsMadeOrMounted) {
    Machine m;
    const CliRun run = m.cli({"mount", "-p", "sdb4", "-d", GetParam().typed(m)}, "lsblk-mount-drives.json",
                             GetParam().cwd(m));
    // Relative folders are refused as such: only unmount takes them from the working folder.
    const bool relative = !GetParam().typed(m).starts_with('/');
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_EQ(reply_of(run), (nlohmann::json{{"ok", false},
                                             {"error", relative ? "folder-not-absolute" : "folder-not-empty"},
                                             {"message", relative ? kNotAbsolute : kFolderNotEmpty}}));
    EXPECT_TRUE(m.tools.calls("mount").empty());
}

INSTANTIATE_TEST_SUITE_P(Table, MountSystemSpelling, ::testing::ValuesIn(kSystemSpellings),
                         [](const auto& info) { return std::string(info.param.name); });

class MountOnSpellingOfF : public ::testing::TestWithParam<Spelling> {};

// Two filesystems stacked on F would hide the first one.
TEST_P(MountOnSpellingOfF, IsRefusedAsInUse) {
    Machine m;
    const CliRun run = m.cli({"mount", "-p", "sdb4", "-d", GetParam().typed(m)}, "lsblk-mount-drives.json",
                             GetParam().cwd(m));
    const bool relative = !GetParam().typed(m).starts_with('/');
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_EQ(reply_of(run).value("error", ""), relative ? "folder-not-absolute" : "folder-in-use") << run.out;
    EXPECT_TRUE(m.tools.calls("mount").empty());
}

INSTANTIATE_TEST_SUITE_P(Table, MountOnSpellingOfF, ::testing::ValuesIn(kSpellingsOfF),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- one path from mount to unmount ----

// Tab completion writes the slash: the record, the reply and the folder's removal still meet.
TEST(TrailingSlash, MountThenUnmountTakesTheRecordAndTheFolder) {
    Machine m;
    const fs::path folder = m.root / "mnt" / "new";
    const CliRun mounted = m.cli({"mount", "-p", "sdb4", "-d", folder.string() + "/"}, "lsblk-mount-drives.json");
    ASSERT_EQ(mounted.status, 0) << mounted.err;
    EXPECT_EQ(reply_of(mounted).value("target", ""), folder.string());
    EXPECT_EQ(m.tools.calls("mount"), (std::vector<Args>{{"-t", "ext4", "-o", "ro", "/dev/sdb4", folder.string()}}));
    EXPECT_THAT(m.records(), ::testing::Contains(Record{"/dev/sdb4", folder.string(), true}));

    const CliRun unmounted = m.cli({"unmount", folder.string() + "/"}, "lsblk-mount-drives.json");
    ASSERT_EQ(unmounted.status, 0) << unmounted.err;
    EXPECT_EQ(m.records(), (std::vector<Record>{{"/dev/sdb1", m.folder.string(), true}}));
    EXPECT_FALSE(fs::exists(folder));
}

// The check for a write mount the kernel kept read-only looks the folder up as the kernel wrote it.
TEST(TrailingSlash, AWriteMountKeptReadOnlyIsToldAsReadOnly) {
    Machine m;
    // Writes "ro" superblock options whatever it was asked, as for a journaled HFS+ volume.
    m.tools.add_script("mount", "for a; do target=$a; done\nprintf '91 1 8:1 / %s rw,relatime - hfsplus /dev/sdb3 "
                                "ro\\n' \"$(realpath -m -- \"$target\")\" >> \"$TUVREK_DISK_MOUNTINFO\"");
    const fs::path folder = m.root / "mnt" / "oldmac";
    const CliRun run = m.cli({"mount", "-p", "sdb3", "--rw", "--yes", "-d", folder.string() + "/"},
                             "lsblk-mount-drives.json");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(reply_of(run).value("message", ""), "Mounted /dev/sdb3 at " + folder.string() + " (read-only).");
    EXPECT_EQ(reply_of(run).value("read_write", true), false);
    EXPECT_THAT(run.err, ::testing::HasSubstr(journal_warning("/dev/sdb3")));
}

// ---- the startup mounts ----

TEST(StartupSpelling, RemoveMatchesAnEntryThatResolvesToTheSameFolder) {
    Machine m;
    const std::string kept = "[[mount]]\nuuid = \"1111-2222\"\ntarget = \"/mnt/usb\"\nuid = 0\ngid = 0\n\n";
    write_file(m.root / "automount.toml",
               "[[mount]]\nuuid = \"3C5E-91A4\"\ntarget = \"" + (m.root / "link-to-F").string() + "/\"\nuid = 0\ngid = 0\n\n" +
                   "[[mount]]\nuuid = \"0AB1C2D3E4F5A6B7\"\ntarget = \"" + (m.root / "mnt" / "y" / ".." / "F").string() +
                   "\"\nuid = 0\ngid = 0\n\n" + kept);
    const std::string typed = m.folder.string() + "//";
    const CliRun run = m.cli({"automount", "remove", typed}, "lsblk-unmount-drives.json");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(reply_of(run).value("target", ""), typed);  // the argument as typed
    EXPECT_EQ(read_file(m.root / "automount.toml"),
              kConfigHeader + "[[mount]]\nuuid = \"1111-2222\"\ntarget = \"/mnt/usb\"\nread_write = false\nuid = 0\ngid = 0\n");
    EXPECT_TRUE(m.tools.calls("systemctl").empty());
}

// An entry's folder resolves too: the partition mounted at F is found mounted at "F/".
TEST(StartupSpelling, RunSeesAnEntryMountedAtItsResolvedFolder) {
    Machine m;
    const std::string lsblk =
        R"({"blockdevices":[{"name":"sdc","path":"/dev/sdc","type":"disk","size":1000000,"rm":true,"children":[)"
        R"({"name":"sdc1","path":"/dev/sdc1","type":"part","size":1000000,"fstype":"ext4","uuid":"5555-6666",)"
        R"("mountpoints":[")" + m.folder.string() + R"("]}]}]})";
    write_file(m.root / "drives.json", lsblk);
    write_file(m.root / "automount.toml", "[[mount]]\nuuid = \"5555-6666\"\ntarget = \"" + m.folder.string() +
                                              "/\"\nuid = 0\ngid = 0\n");
    RunOptions options = hermetic_options(m.root, m.tools.bin().string() + ":/usr/bin:/bin");
    options.env["TUVREK_DISK_LSBLK_JSON"] = (m.root / "drives.json").string();
    const CliRun run = run_cli({"--elevated", "automount", "run"}, options);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, m.folder.string() + "/: already mounted\n");
    EXPECT_TRUE(m.tools.calls("mount").empty());
}

// A hand-edited file with one UUID twice: the partition is mounted once, and the second entry is
// refused as already mounted, as for a partition mounted elsewhere.
TEST(StartupSpelling, RunMountsAPartitionAtMostOnce) {
    Machine m;
    const std::string first = (m.root / "mnt" / "one").string();
    const std::string second = (m.root / "mnt" / "two").string();
    write_file(m.root / "automount.toml",
               "[[mount]]\nuuid = \"E0C1F5A2-7B3D-4C8E-9F1A-2D3B4C5D6E7F\"\ntarget = \"" + first + "\"\nuid = 0\ngid = 0\n\n" +
                   "[[mount]]\nuuid = \"e0c1f5a2-7b3d-4c8e-9f1a-2d3b4c5d6e7f\"\ntarget = \"" + second + "\"\nuid = 0\ngid = 0\n\n" +
                   "[[mount]]\nuuid = \"E0C1F5A2-7B3D-4C8E-9F1A-2D3B4C5D6E7F\"\ntarget = \"" + first + "/\"\nuid = 0\ngid = 0\n");
    const CliRun run = m.cli({"automount", "run"}, "lsblk-mount-drives.json");
    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_EQ(reply_of(run).value("message", ""), "1 of 3 startup mounts failed");
    EXPECT_EQ(m.tools.calls("mount").size(), 1u);
    EXPECT_THAT(run.err, ::testing::HasSubstr(first + ": mounted /dev/sdb4\n" + second +
                                              ": not mounted: This partition is already mounted at " + first +
                                              ".\n" + first + "/: already mounted\n"));
    EXPECT_FALSE(fs::exists(second));
}

}  // namespace
}  // namespace tuvrek::test
