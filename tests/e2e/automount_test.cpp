// automount add|remove|list|run against stand-in mount, systemctl, pacman and modinfo: replies,
// what reaches the programs, and what happens to automount.toml, mounts.json and the folders.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "texts.hpp"
#include "tuvrek/config.hpp"

namespace tuvrek::test {
namespace {

using Args = std::vector<std::string>;

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// One hermetic machine. Stand-ins are the only programs on PATH (so no real apfs-fuse, lsblk or
// systemctl can be found), and "@ROOT@" in the drive fixture becomes the temporary folder.
struct Machine {
    TempDir dir;
    StandIns tools{dir / "tools"};
    fs::path root = dir.path();

    Machine() {
        write_file(dir / "lsblk.json",
                   replace_all(read_file(fixture_path("lsblk-automount-drives.json")), "@ROOT@", root.string()));
        write_file(dir / "mountinfo", "");
        fs::create_directories(dir / "sys-module");
        fs::create_directories(dir / "modules");
        tools.add("systemctl");
        tools.add("mount");
        tools.add("modprobe");
        tools.add("modinfo", 1, "modinfo: ERROR: Module apfs not found.");
        tools.add("pacman", 1, "error: package 'dkms' was not found");
    }
    fs::path config() const { return root / "automount.toml"; }
    fs::path records() const { return root / "run" / "mounts.json"; }
    std::string at(const std::string& relative) const { return (root / relative).string(); }

    test::Run cli(const Args& args, const std::string& lsblk = "") const {
        RunOptions options = hermetic_options(root, tools.bin().string());
        if (!lsblk.empty()) options.env["TUVREK_DISK_LSBLK_JSON"] = lsblk;
        Args argv{"--elevated"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_cli(argv, options);
    }
};

std::string entry_toml(const std::string& uuid, const std::string& target, const std::string& more = "") {
    return "[[mount]]\nuuid = \"" + uuid + "\"\ntarget = \"" + target + "\"\nuid = 1000\ngid = 1000\n" + more + "\n";
}

std::vector<Entry> saved_entries(const Machine& m) {
    auto parsed = parse_automount_config(read_file(m.config()), m.config().string());
    EXPECT_TRUE(parsed.has_value()) << read_file(m.config());
    return parsed ? *parsed : std::vector<Entry>{};
}

std::vector<std::string> targets_of(const std::vector<Entry>& entries) {
    std::vector<std::string> targets;
    for (const Entry& e : entries) targets.push_back(e.target);
    return targets;
}

nlohmann::json reply_of(const test::Run& run) {
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "not one reply line: " << run.out;
    return nlohmann::json::parse(run.out, nullptr, false);
}

bool has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// ---- remove ----

const std::string kThreeEntries =
    "# kept by hand\n" + entry_toml("6F1D2C3B-8A47-4E55-9B20-D41C7E9A0B13", "/mnt/mac") +
    entry_toml("3C5E-91A4", "/mnt/mac/") + entry_toml("1111-2222", "/mnt/usb");

struct RemoveCase {
    const char* name;
    std::string argument;
    std::vector<std::string> remaining;
};
void PrintTo(const RemoveCase& c, std::ostream* os) { *os << c.name; }

class AutomountRemove : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(AutomountRemove, DropsMatchingEntriesAndKeepsTheService) {
    const RemoveCase& c = GetParam();
    Machine m;
    write_file(m.config(), kThreeEntries);
    test::Run run = m.cli({"--json", "automount", "remove", c.argument});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(reply_of(run),
              (nlohmann::json{{"ok", true},
                              {"message", c.argument +
                                              " won't be mounted at startup any more. It stays mounted until you "
                                              "unmount it or restart."},
                              {"target", c.argument}}));
    EXPECT_EQ(targets_of(saved_entries(m)), c.remaining);
    EXPECT_TRUE(m.tools.calls("systemctl").empty());  // entries are left: the service stays on
    EXPECT_TRUE(m.tools.calls("umount").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutomountRemove,
    ::testing::Values(RemoveCase{"folder_with_trailing_slash", "/mnt/mac/", {"/mnt/usb"}},
                      RemoveCase{"folder_without_trailing_slash", "/mnt/mac", {"/mnt/usb"}},
                      RemoveCase{"uuid_in_other_letter_case", "6f1d2c3b-8a47-4e55-9b20-d41c7e9a0b13",
                                 {"/mnt/mac/", "/mnt/usb"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AutomountRemove, NotFoundLeavesTheFileAsItWas) {
    Machine m;
    write_file(m.config(), kThreeEntries);
    test::Run run = m.cli({"automount", "remove", "/mnt/none"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "\x1b[31mError:\x1b[0m /mnt/none isn't mounted at startup.\n");
    EXPECT_EQ(read_file(m.config()), kThreeEntries);
    EXPECT_FALSE(fs::exists(m.root / "automount.toml.new"));
    EXPECT_TRUE(m.tools.calls("systemctl").empty());
}

struct LastEntryCase {
    const char* name;
    int systemctl_exit;
    std::string systemctl_err;
    std::string warning;
};
void PrintTo(const LastEntryCase& c, std::ostream* os) { *os << c.name; }

class AutomountRemoveLast : public ::testing::TestWithParam<LastEntryCase> {};

TEST_P(AutomountRemoveLast, DisablesTheServiceAndAFailureOnlyWarns) {
    const LastEntryCase& c = GetParam();
    Machine m;
    m.tools.add("systemctl", c.systemctl_exit, c.systemctl_err);
    write_file(m.config(), entry_toml("3C5E-91A4", "/mnt/usb"));
    test::Run run = m.cli({"automount", "remove", "3c5e-91a4"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(m.tools.calls("systemctl"), (std::vector<Args>{{"disable", kStartupUnit}}));
    EXPECT_TRUE(saved_entries(m).empty());
    EXPECT_TRUE(has_line(run.out, "$ systemctl disable tuvrek-disk-automount.service")) << run.out;
    EXPECT_TRUE(has_line(run.out,
                         "3c5e-91a4 won't be mounted at startup any more. It stays mounted until you unmount it or "
                         "restart."));
    if (c.warning.empty()) {
        EXPECT_EQ(run.err.find("Warning:"), std::string::npos) << run.err;
    } else {
        EXPECT_TRUE(has_line(run.err, "\x1b[33mWarning:\x1b[0m " + c.warning)) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutomountRemoveLast,
    ::testing::Values(LastEntryCase{"disabled", 0, "", ""},
                      LastEntryCase{"disable_fails", 1, "Failed to disable unit: Access denied",
                                    "Disabling tuvrek-disk-automount.service failed: Failed to disable unit: Access "
                                    "denied"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- a configuration that can't be read ----

class BrokenConfig : public ::testing::TestWithParam<Args> {};

TEST_P(BrokenConfig, ReportsConfigAndLeavesTheFile) {
    Machine m;
    const std::string broken = read_file(fixture_path("automount-missing-uid.toml"));
    write_file(m.config(), broken);
    Args args{"--json"};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    test::Run run = m.cli(args);
    EXPECT_EQ(run.status, 1) << run.err;
    auto reply = reply_of(run);
    EXPECT_EQ(reply["error"], "config");
    EXPECT_EQ(reply["ok"], false);
    const std::string message = reply.value("message", "");
    EXPECT_EQ(message.rfind(m.config().string() + ": ", 0), 0u) << message;
    EXPECT_NE(message.find("missing field `uid`"), std::string::npos) << message;
    EXPECT_EQ(read_file(m.config()), broken);
    EXPECT_TRUE(m.tools.calls("systemctl").empty());
    EXPECT_TRUE(m.tools.calls("mount").empty());
}

INSTANTIATE_TEST_SUITE_P(Subcommands, BrokenConfig,
                         ::testing::Values(Args{"automount", "remove", "/mnt/usb"}, Args{"automount", "list"},
                                           Args{"automount", "run"},
                                           Args{"automount", "add", "-p", "sdb1", "-d", "/mnt/new", "--yes"}),
                         [](const auto& info) { return info.param[1]; });

// ---- list ----

TEST(AutomountList, WithoutEntries) {
    Machine m;
    test::Run text = m.cli({"automount", "list"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, "No partitions are mounted at startup.\n");
    test::Run json = m.cli({"--json", "automount", "list"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out, "{\"entries\":[],\"message\":\"\",\"ok\":true}\n");
}

TEST(AutomountList, OneLinePerEntryInFileOrder) {
    Machine m;
    write_file(m.config(), entry_toml("6F1D2C3B-8A47-4E55-9B20-D41C7E9A0B13", "/mnt/mac",
                                      "volume = 2\nfilesystem = \"APFS\"\n") +
                               entry_toml("3C5E-91A4", "/mnt/usb", "read_write = true\n"));
    test::Run run = m.cli({"automount", "list"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "/mnt/mac  UUID=6F1D2C3B-8A47-4E55-9B20-D41C7E9A0B13  read-only  APFS  volume 2\n"
              "/mnt/usb  UUID=3C5E-91A4  read/write\n");
}

TEST(AutomountList, ControlCharactersAreShownEscapedInTextOnly) {
    Machine m;
    // A file anyone with an editor can write: an escape sequence that would clear the screen.
    write_file(m.config(), entry_toml("AB\\u0007CD", "/mnt/evil\\u001b[2J", "filesystem = \"ex\\u009bfat\"\n"));
    test::Run text = m.cli({"automount", "list"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "/mnt/evil\\x1b[2J  UUID=AB\\x07CD  read-only  ex\\u009bfat\n");

    test::Run json = m.cli({"--json", "automount", "list"});
    EXPECT_EQ(json.status, 0) << json.err;
    auto entries = reply_of(json)["entries"];
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["target"], "/mnt/evil\x1b[2J");
    EXPECT_EQ(entries[0]["uuid"], "AB\aCD");
    EXPECT_EQ(entries[0]["filesystem"], "ex\xc2\x9b" "fat");
}

// ---- add ----

TEST(AutomountAdd, DryRunChangesNothing) {
    Machine m;
    const std::string folder = m.at("mnt/usb");
    for (bool json : {false, true}) {
        Args args{"automount", "add", "-p", "sdb1", "-d", folder, "--dry-run"};
        if (json) args.insert(args.begin(), "--json");
        test::Run run = m.cli(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string message = "Would mount /dev/sdb1 at " + folder + " at startup.";
        EXPECT_EQ(run.out, json ? R"({"message":")" + message + R"(","ok":true})" + "\n" : message + "\n");
    }
    EXPECT_FALSE(fs::exists(m.config()));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(m.tools.calls("systemctl").empty());
    EXPECT_TRUE(m.tools.calls("mount").empty());
}

TEST(AutomountAdd, StoresTheEntryAndEnablesTheServiceWithoutMounting) {
    Machine m;
    const std::string folder = m.at("mnt/usb");
    test::Run run = m.cli({"--json", "automount", "add", "-p", "3c5e-91a4", "-d", folder, "--rw", "--uid", "1000", "--gid",
                     "100", "--yes"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(reply_of(run), (nlohmann::json{{"ok", true},
                                             {"message", "/dev/sdb1 will be mounted at " + folder +
                                                             " at startup, read/write."},
                                             {"target", folder}}));
    auto entries = saved_entries(m);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].uuid, "3C5E-91A4");
    EXPECT_EQ(entries[0].target, folder);
    EXPECT_TRUE(entries[0].read_write);
    EXPECT_EQ(entries[0].uid, 1000u);
    EXPECT_EQ(entries[0].gid, 100u);
    EXPECT_EQ(m.tools.calls("systemctl"), (std::vector<Args>{{"enable", kStartupUnit}}));
    EXPECT_TRUE(m.tools.calls("mount").empty());
    EXPECT_FALSE(fs::exists(folder));
}

struct AddRefusedCase {
    const char* name;
    Args args;
    int status;
    std::string code;
    std::string message;
};
void PrintTo(const AddRefusedCase& c, std::ostream* os) { *os << c.name; }

class AutomountAddRefused : public ::testing::TestWithParam<AddRefusedCase> {};

TEST_P(AutomountAddRefused, WritesNothing) {
    const AddRefusedCase& c = GetParam();
    Machine m;
    Args args{"--json", "automount", "add"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    test::Run run = m.cli(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(reply_of(run), (nlohmann::json{{"ok", false}, {"error", c.code}, {"message", c.message}}));
    EXPECT_FALSE(fs::exists(m.config()));
    EXPECT_TRUE(m.tools.calls("systemctl").empty());
    EXPECT_TRUE(m.tools.calls("pacman").size() <= 1u);  // the package query, never an installation
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutomountAddRefused,
    ::testing::Values(
        AddRefusedCase{"partition_of_the_running_system", {"-p", "sda1", "-d", "/mnt/x", "--yes"}, 3,
                       "system-partition", "This partition is part of the running system (mounted at /boot)."},
        AddRefusedCase{"no_such_partition", {"-p", "sdz9", "--yes"}, 1, "no-partition",
                       "No partition sdz9. See `tuvrek-disk list`."},
        AddRefusedCase{"relative_folder", {"-p", "sdb1", "-d", "mnt/usb", "--yes"}, 3, "folder-not-absolute",
                       kNotAbsolute},
        // Standard input is not a terminal: the question answers no.
        AddRefusedCase{"experimental_write_not_confirmed", {"-p", "sdb4", "-d", "/mnt/mac", "--rw"}, 3,
                       "not-confirmed",
                       "Not mounted. Mount it read-only (without --rw), or add --yes to accept writing."}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- run ----

// Every kind of entry at once: one mounts, two are fine without mounting, three fail.
struct RunAll : ::testing::Test {
    Machine m;
    void SetUp() override {
        // Only sdb5's mount fails, as a mount of a damaged filesystem would.
        m.tools.add_script("mount",
                           "for a in \"$@\"; do [ \"$a\" = /dev/sdb5 ] && { echo 'mount: wrong fs type, bad superblock' >&2; "
                           "exit 32; }; done; exit 0");
        write_file(m.config(), entry_toml("3c5e-91a4", m.at("mnt/usb")) +
                                   entry_toml("DEAD-BEEF", m.at("mnt/gone")) +
                                   entry_toml("0AB1C2D3E4F5A6B7", m.at("mnt/already"), "read_write = true\n") +
                                   entry_toml("7A1B-2C3D", m.at("mnt/vfat")) +
                                   entry_toml("6F1D2C3B-8A47-4E55-9B20-D41C7E9A0B13", m.at("mnt/mac")) +
                                   entry_toml("5555-AAAA", m.at("mnt/broken")));
        before_ = read_file(m.config());
    }
    std::vector<std::string> expected_lines() const {
        return {m.at("mnt/usb") + ": mounted /dev/sdb1",
                m.at("mnt/gone") + ": skipped, UUID DEAD-BEEF isn't connected",
                m.at("mnt/already") + ": already mounted",
                m.at("mnt/vfat") + ": not mounted: This partition is already mounted at /media/elsewhere.",
                m.at("mnt/mac") + ": not mounted: needs apfs-fuse-git; add it again in Brevane to install them",
                m.at("mnt/broken") + ": not mounted: Mounting /dev/sdb5 failed: mount: wrong fs type, bad superblock"};
    }
    void expect_machine_state() const {
        // The good mount stands: mounted once, recorded, its folder made; nothing is undone.
        EXPECT_EQ(m.tools.calls("mount"),
                  (std::vector<Args>{{"-t", "exfat", "-o", "ro,uid=1000,gid=1000", "/dev/sdb1", m.at("mnt/usb")},
                                     {"-t", "exfat", "-o", "ro,uid=1000,gid=1000", "/dev/sdb5", m.at("mnt/broken")}}));
        EXPECT_TRUE(m.tools.calls("umount").empty());
        EXPECT_TRUE(fs::is_directory(m.at("mnt/usb")));
        EXPECT_FALSE(fs::exists(m.at("mnt/broken")));
        EXPECT_FALSE(fs::exists(m.at("mnt/vfat")));
        auto records = nlohmann::json::parse(read_file(m.records()));
        EXPECT_EQ(records, (nlohmann::json::array(
                               {{{"device", "/dev/sdb1"}, {"target", m.at("mnt/usb")}, {"created_dir", true}}})));
        EXPECT_EQ(read_file(m.config()), before_);
        EXPECT_TRUE(m.tools.calls("pacman").size() <= 1u);  // queried, never asked to install
    }
    std::string before_;
};

TEST_F(RunAll, CountsEveryFailureAndKeepsTheMountsThatWorked) {
    test::Run run = m.cli({"automount", "run"});
    EXPECT_EQ(run.status, 5);
    EXPECT_TRUE(has_line(run.err, "\x1b[31mError:\x1b[0m 3 of 6 startup mounts failed")) << run.err;
    // The lines come in file order on standard output, between the echoes of the mount commands.
    size_t from = 0;
    for (const std::string& line : expected_lines()) {
        size_t at = ("\n" + run.out).find("\n" + line + "\n", from);
        ASSERT_NE(at, std::string::npos) << line << "\n--- in ---\n" << run.out;
        from = at + line.size();
    }
    expect_machine_state();
}

TEST_F(RunAll, JsonKeepsTheLinesOffStandardOutput) {
    test::Run run = m.cli({"--json", "automount", "run"});
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(run.out, R"({"error":"some-failed","message":"3 of 6 startup mounts failed","ok":false})" "\n");
    for (const std::string& line : expected_lines()) EXPECT_TRUE(has_line(run.err, line)) << line << "\n" << run.err;
    expect_machine_state();
}

TEST(AutomountRun, SkippedAndAlreadyMountedAreNoFailures) {
    Machine m;
    write_file(m.config(), entry_toml("DEAD-BEEF", m.at("mnt/gone")) + entry_toml("0AB1C2D3E4F5A6B7", m.at("mnt/already")));
    test::Run run = m.cli({"--json", "automount", "run"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "{\"message\":\"\",\"ok\":true}\n");
    EXPECT_TRUE(m.tools.calls("mount").empty());
}

TEST(AutomountRun, ControlCharactersAreShownEscapedInTextOnly) {
    Machine m;
    write_file(m.config(), entry_toml("DEAD\\u0007BEEF", "/mnt/gone\\u001b[2J"));
    test::Run text = m.cli({"automount", "run"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "/mnt/gone\\x1b[2J: skipped, UUID DEAD\\x07BEEF isn't connected\n");

    test::Run json = m.cli({"--json", "automount", "run"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "{\"message\":\"\",\"ok\":true}\n");
    EXPECT_TRUE(has_line(json.err, "/mnt/gone\x1b[2J: skipped, UUID DEAD\aBEEF isn't connected")) << json.err;
}

// A journaled HFS+ volume asked for read/write: the kernel mounts it read-only and says so only in
// the superblock options. The startup run warns about it as mount does.
TEST(AutomountRun, AWriteMountTheKernelKeptReadOnlyIsWarnedAbout) {
    Machine m;
    write_file(m.at("hfs-lsblk.json"),
               R"({"blockdevices":[{"name":"sdh","path":"/dev/sdh","type":"disk","size":64000000000,"rm":true,)"
               R"("children":[{"name":"sdh1","path":"/dev/sdh1","type":"part","size":64000000000,)"
               R"("fstype":"hfsplus","uuid":"4a1b2c3d-0000-3000-8000-0000000000f1","mountpoints":[null]}]}]})");
    m.tools.add_script("mount", "for a; do last=$a; done\n"
                                "printf '40 30 8:113 / %s rw,relatime shared:1 - hfsplus /dev/sdh1 "
                                "ro,umask=22,uid=1000,gid=1000\\n' \"$last\" >> \"$TUVREK_DISK_MOUNTINFO\"");
    const std::string target = m.at("mnt/oldmac");
    write_file(m.config(), entry_toml("4A1B2C3D-0000-3000-8000-0000000000F1", target, "read_write = true\n"));
    for (const bool json : {false, true}) {
        write_file(m.at("mountinfo"), "");
        Args args{"automount", "run"};
        if (json) args.insert(args.begin(), "--json");
        test::Run run = m.cli(args, m.at("hfs-lsblk.json"));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(has_line(json ? run.err : run.out, target + ": mounted /dev/sdh1")) << run.out << run.err;
        EXPECT_TRUE(has_line(run.err, "\x1b[33mWarning:\x1b[0m " + journal_warning("/dev/sdh1"))) << run.err;
    }
}

TEST(AutomountRun, WithoutEntriesStillReadsTheDrives) {
    Machine m;
    test::Run fine = m.cli({"automount", "run"});
    EXPECT_EQ(fine.status, 0) << fine.err;
    EXPECT_EQ(fine.out, "");
    test::Run unreadable = m.cli({"--json", "automount", "run"}, m.at("no-such-lsblk.json"));
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(reply_of(unreadable)["error"], "lsblk");
}

}  // namespace
}  // namespace tuvrek::test
