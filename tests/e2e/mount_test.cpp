// plan and mount end to end, with stand-ins for every program that would touch the machine.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support.hpp"
#include "texts.hpp"

extern char** environ;

namespace tuvrek {
namespace {

namespace fs = std::filesystem;
using CliRun = test::Run;
using test::RunOptions;
using Calls = std::vector<std::vector<std::string>>;

using test::fuse_root;
using test::journal_warning;
using test::kApfsWrite;
using test::kConfigHeader;
using test::kFileVault;
using test::kFolderNotEmpty;
using test::kHfs;
using test::kNotAbsolute;
using test::kOwners;
using test::kStartupUnit;
const std::string kNoNtfsDriver =
    "\nThis kernel has no NTFS driver (ntfs3 or ntfs), so Windows partitions can't be mounted until you start a "
    "kernel that has one.";
const std::string kFileVaultHint =
    "\nIf the volume is FileVault-encrypted, mount it read-only from a terminal (apfs-fuse asks for the password). "
    "If macOS is asleep or hibernated, shut it down fully first.";

std::string warning(const std::string& text) { return "\x1b[33mWarning:\x1b[0m " + text + "\n"; }
std::string error_line(const std::string& text) { return "\x1b[31mError:\x1b[0m " + text + "\n"; }

std::string record_file(const std::vector<std::tuple<std::string, std::string, bool>>& records) {
    if (records.empty()) return "[]\n";
    std::string out = "[\n";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& [device, target, created] = records[i];
        out += "  {\n    \"device\": \"" + device + "\",\n    \"target\": \"" + target +
               "\",\n    \"created_dir\": " + (created ? "true" : "false") + "\n  }" +
               (i + 1 < records.size() ? ",\n" : "\n");
    }
    return out + "]\n";
}

// Every path below root, so a test can show that a refused request left the folders alone.
std::set<std::string> tree(const fs::path& root) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root)) paths.insert(entry.path().string());
    return paths;
}

class MountCommand : public ::testing::Test {
protected:
    void SetUp() override {
        test::write_file(mountinfo_, "");
        fs::create_directories(tmp_ / "modules");
        fs::create_directories(sys_module_);
        fs::create_directories(mnt_);
        stand_.add("mount");
        stand_.add("modprobe");
        stand_.add("systemctl");
        stand_.add("modinfo", 1);  // no apfs module to be found
        stand_.add("pacman");      // pacman -Q: nothing installed
    }

    RunOptions options() const {
        RunOptions o = test::hermetic_options(tmp_.path(), stand_.path_env());
        o.env["TUVREK_DISK_LSBLK_JSON"] = test::fixture_path("lsblk-mount-drives.json");
        o.env["TUVREK_DISK_AUTOMOUNT_CONF"] = conf_.string();
        o.env["SUDO_UID"] = "1000";
        o.env["SUDO_GID"] = "100";
        return o;
    }
    CliRun cli(const std::vector<std::string>& args) const { return test::run_cli(args, options()); }
    CliRun cli(const std::vector<std::string>& args, RunOptions o) const { return test::run_cli(args, std::move(o)); }

    std::string dir(const std::string& name) const { return (mnt_ / name).string(); }
    fs::path records() const { return run_dir_ / "mounts.json"; }
    void make_module_available() const { fs::create_directories(sys_module_ / "apfs"); }

    // apfs-fuse appears on PATH only once pacman -S has "installed" it.
    void apfs_fuse_comes_with_pacman() {
        stand_.add("apfs-fuse");
        fs::rename(stand_.bin() / "apfs-fuse", tmp_ / "pending-apfs-fuse");
        stand_.add_script("pacman", "if [ \"$1\" = -S ]; then mv '" + (tmp_ / "pending-apfs-fuse").string() + "' '" +
                                        (stand_.bin() / "apfs-fuse").string() + "'; fi\nexit 0");
    }

    Calls installs() const {
        Calls found;
        for (const auto& call : stand_.calls("pacman"))
            if (!call.empty() && call[0] == "-S") found.push_back(call);
        return found;
    }
    // Nothing was installed, loaded, mounted, recorded or configured.
    void expect_nothing_done() const {
        EXPECT_THAT(installs(), ::testing::IsEmpty());
        EXPECT_THAT(stand_.calls("modprobe"), ::testing::IsEmpty());
        EXPECT_THAT(stand_.calls("mount"), ::testing::IsEmpty());
        EXPECT_THAT(stand_.calls("apfs-fuse"), ::testing::IsEmpty());
        EXPECT_THAT(stand_.calls("systemctl"), ::testing::IsEmpty());
        EXPECT_FALSE(fs::exists(records()));
        EXPECT_FALSE(fs::exists(conf_));
    }

    test::TempDir tmp_;
    test::StandIns stand_{tmp_ / "stand"};
    fs::path mountinfo_ = tmp_ / "mountinfo";
    fs::path run_dir_ = tmp_ / "run";
    fs::path conf_ = tmp_ / "etc" / "automount.toml";
    fs::path sys_module_ = tmp_ / "sys-module";
    fs::path mnt_ = tmp_ / "mnt";
};

// ---- plan ----

struct PlanCase {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    std::map<std::string, std::string> env = {};
    std::vector<std::string> unset = {};
};
void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

class PlanText : public MountCommand, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(PlanText, PrintsTheCommandsAndWarningsOnly) {
    const PlanCase& c = GetParam();
    RunOptions o = options();
    for (const auto& [k, v] : c.env) o.env[k] = v;
    for (const auto& name : c.unset) {
        o.env.erase(name);
        o.unset.push_back(name);
    }
    std::vector<std::string> args{"plan"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CliRun run = cli(args, o);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    expect_nothing_done();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanText,
    ::testing::Values(
        PlanCase{"NtfsDefaultFolder",
                 {"-p", "sdb1"},
                 "sudo mkdir -p /mnt/Windows\nsudo mount -t ntfs3 -o ro,uid=1000,gid=100 /dev/sdb1 /mnt/Windows\n",
                 ""},
        PlanCase{"Ext4ReadWriteQuotedFolder",
                 {"-p", "/dev/sdb4", "-d", "/mnt/My Data", "-rw"},
                 "sudo mkdir -p '/mnt/My Data'\nsudo mount -t ext4 -o rw /dev/sdb4 '/mnt/My Data'\n",
                 warning(kOwners)},
        PlanCase{"ApfsWriteNeedsPackagesAndModule",
                 {"-p", "sdb2", "--rw", "--volume", "1"},
                 "sudo pacman -S --needed linux-apfs-rw-dkms-git dkms linux-headers\nsudo modprobe apfs\n"
                 "sudo mkdir -p /mnt/Macintosh-HD\n"
                 "sudo mount -t apfs -o readwrite,uid=1000,gid=100,vol=1 /dev/sdb2 /mnt/Macintosh-HD\n",
                 warning(kApfsWrite) + warning(kFileVault)},
        PlanCase{"UidReplacesOnlyTheUid",
                 {"-p", "sdb1", "--uid", "1234"},
                 "sudo mkdir -p /mnt/Windows\nsudo mount -t ntfs3 -o ro,uid=1234,gid=100 /dev/sdb1 /mnt/Windows\n",
                 ""},
        PlanCase{"GidReplacesOnlyTheGid",
                 {"-p", "sdb1", "--gid", "7"},
                 "sudo mkdir -p /mnt/Windows\nsudo mount -t ntfs3 -o ro,uid=1000,gid=7 /dev/sdb1 /mnt/Windows\n",
                 ""},
        PlanCase{"OwnerFromPkexec",
                 {"-p", "sdb7"},
                 "sudo mkdir -p /mnt/STICK\nsudo mount -t vfat -o ro,uid=54321,gid=54321 /dev/sdb7 /mnt/STICK\n",
                 "",
                 {{"PKEXEC_UID", "54321"}},
                 {"SUDO_UID", "SUDO_GID"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MountCommand, PlanDoesNotCheckTheFolder) {
    test::write_file(mnt_ / "full" / "keep", "x");
    CliRun run = cli({"plan", "-p", "sdb1", "-d", dir("full")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "sudo mkdir -p " + dir("full") + "\nsudo mount -t ntfs3 -o ro,uid=1000,gid=100 /dev/sdb1 " +
                           dir("full") + "\n");
}

TEST_F(MountCommand, PlanJsonIsOneObjectWithTheTenPlanKeys) {
    CliRun run = cli({"--json", "plan", "-p", "sdb1"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line: " << run.out;
    EXPECT_EQ(run.out.rfind(R"({"message":"","ok":true,"plan":{"command":[)", 0), 0u) << run.out;
    auto reply = nlohmann::json::parse(run.out);
    EXPECT_EQ(reply.size(), 3u);
    const auto& plan = reply["plan"];
    std::vector<std::string> keys;
    for (const auto& [key, value] : plan.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"command", "device", "experimental", "filesystem", "load_module",
                                              "may_fall_back_to_read_only", "missing_packages", "read_write",
                                              "target", "warnings"}));
    EXPECT_EQ(plan["command"], nlohmann::json::parse(
                                   R"(["mount","-t","ntfs3","-o","ro,uid=1000,gid=100","/dev/sdb1","/mnt/Windows"])"));
    EXPECT_EQ(plan["device"], "/dev/sdb1");
    EXPECT_EQ(plan["filesystem"], "NTFS");
    EXPECT_TRUE(plan["load_module"].is_null());
    EXPECT_EQ(plan["target"], "/mnt/Windows");
    EXPECT_EQ(plan["warnings"], nlohmann::json::array());
}

TEST_F(MountCommand, PartitionIsFoundByPathNameOrUuidInEitherCase) {
    for (const std::string text : {"/dev/sdb2", "sdb2", "6F1D2C3B-8A47-4E55-9B20-D41C7E9A0B13",
                                   "6f1d2c3b-8a47-4e55-9b20-d41c7e9a0b13"}) {
        CliRun run = cli({"--json", "plan", "-p", text});
        ASSERT_EQ(run.status, 0) << text << ": " << run.out << run.err;
        EXPECT_EQ(nlohmann::json::parse(run.out)["plan"]["device"], "/dev/sdb2") << text;
    }
}

// ---- mount --dry-run ----

TEST_F(MountCommand, DryRunPrintsTheLinesEvenUnderJsonAndDoesNothing) {
    const std::string folder = dir("Win Dows");
    const std::string expected = "sudo mkdir -p '" + folder + "'\nsudo mount -t ntfs3 -o ro,uid=1000,gid=100 /dev/sdb1 '" +
                                 folder + "'\n";
    for (bool json : {false, true}) {
        std::vector<std::string> args{"mount", "--dry-run", "--startup", "-p", "sdb1", "-d", folder};
        if (json) args.insert(args.begin(), "--json");
        CliRun run = cli(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, expected) << "json " << json;
        EXPECT_EQ(run.err, "");
    }
    EXPECT_FALSE(fs::exists(folder));
    expect_nothing_done();
}

TEST_F(MountCommand, DryRunShowsWarningsAndAsksNothing) {
    CliRun run = cli({"mount", "--dry-run", "-p", "sdb2", "--rw", "-d", dir("mac")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "sudo pacman -S --needed linux-apfs-rw-dkms-git dkms linux-headers\nsudo modprobe apfs\n"
                       "sudo mkdir -p " + dir("mac") + "\nsudo mount -t apfs -o readwrite,uid=1000,gid=100 /dev/sdb2 " +
                           dir("mac") + "\n");
    EXPECT_EQ(run.err, warning(kApfsWrite) + warning(kFileVault));
    expect_nothing_done();
}

// ---- mount ----

TEST_F(MountCommand, MountsCreatesTheFolderAndRecordsIt) {
    const std::string folder = dir("win");
    CliRun run = cli({"--elevated", "mount", "-p", "sdb1", "-d", folder});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(stand_.calls("mount"), (Calls{{"-t", "ntfs3", "-o", "ro,uid=1000,gid=100", "/dev/sdb1", folder}}));
    EXPECT_EQ(run.out, "$ mount -t ntfs3 -o ro,uid=1000,gid=100 /dev/sdb1 " + folder + "\nMounted /dev/sdb1 at " +
                           folder + " (read-only).\n");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(test::read_file(records()), record_file({{"/dev/sdb1", folder, true}}));
    EXPECT_THAT(stand_.calls("modprobe"), ::testing::IsEmpty());
}

TEST_F(MountCommand, AnExistingFolderIsRecordedAsNotCreated) {
    fs::create_directories(dir("win"));
    CliRun run = cli({"--elevated", "mount", "-p", "sdb1", "-d", dir("win"), "--uid", "5", "--gid", "6"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(stand_.calls("mount"), (Calls{{"-t", "ntfs3", "-o", "ro,uid=5,gid=6", "/dev/sdb1", dir("win")}}));
    EXPECT_EQ(test::read_file(records()), record_file({{"/dev/sdb1", dir("win"), false}}));
}

TEST_F(MountCommand, ANewMountReplacesTheRecordForTheSameTarget) {
    fs::create_directories(dir("data"));
    test::write_file(records(), record_file({{"/dev/sdz9", dir("data"), true}, {"/dev/sdy1", "/mnt/other", true},
                                             {"/dev/sdz8", dir("data"), false}}));
    CliRun run = cli({"--elevated", "mount", "-p", "sdb4", "-d", dir("data")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::read_file(records()),
              record_file({{"/dev/sdy1", "/mnt/other", true}, {"/dev/sdb4", dir("data"), false}}));
}

TEST_F(MountCommand, JsonKeepsStandardOutputToTheOneReply) {
    stand_.add("mount", 0, "mount-err", "mount-out");
    stand_.add("systemctl", 0, "sys-err", "sys-out");
    const std::string folder = dir("data");
    CliRun run = cli({"--json", "--elevated", "mount", "--rw", "-p", "sdb4", "-d", folder, "--startup"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, R"({"message":"Mounted /dev/sdb4 at )" + folder +
                           R"( (read/write). It will be mounted at startup too.","ok":true,"read_write":true,"target":")" +
                           folder + "\"}\n");
    EXPECT_EQ(run.err, "$ mount -t ext4 -o rw /dev/sdb4 " + folder + "\nmount-out\nmount-err\n" + warning(kOwners) +
                           "$ systemctl enable " + kStartupUnit + "\nsys-out\nsys-err\n");
}

TEST_F(MountCommand, ExperimentalWriteIsRefusedWithoutATerminal) {
    test::write_file(tmp_ / "answers", "y\ny\n");
    RunOptions o = options();
    o.stdin_file = (tmp_ / "answers").string();
    CliRun run = cli({"--elevated", "mount", "-p", "sdb2", "--rw", "-d", dir("mac")}, o);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, warning(kApfsWrite) +
                           error_line("Not mounted. Mount it read-only (without --rw), or add --yes to accept writing."));
    expect_nothing_done();
    EXPECT_FALSE(fs::exists(dir("mac")));
}

TEST_F(MountCommand, ExperimentalWriteWithYesShowsOnlyTheOtherWarningsAfterTheMount) {
    make_module_available();
    const std::string folder = dir("mac");
    CliRun run = cli({"--elevated", "mount", "-p", "sdb2", "--rw", "--yes", "-d", folder});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(stand_.calls("modprobe"), (Calls{{"apfs"}}));
    EXPECT_EQ(stand_.calls("mount"),
              (Calls{{"-t", "apfs", "-o", "readwrite,uid=1000,gid=100", "/dev/sdb2", folder}}));
    EXPECT_EQ(run.out, "$ modprobe apfs\n$ mount -t apfs -o readwrite,uid=1000,gid=100 /dev/sdb2 " + folder +
                           "\nMounted /dev/sdb2 at " + folder + " (read/write).\n");
    EXPECT_EQ(run.err, warning(kFileVault));
    EXPECT_THAT(installs(), ::testing::IsEmpty());
}

// ---- packages ----

TEST_F(MountCommand, NeedsPackagesWithoutATerminalInstallsNothing) {
    test::write_file(tmp_ / "answers", "y\n");
    RunOptions o = options();
    o.stdin_file = (tmp_ / "answers").string();
    const std::string announcement = "Mounting this needs packages that aren't installed: apfs-fuse-git\n";
    const std::string message =
        "Not mounted: it needs apfs-fuse-git. Install them with `sudo pacman -S apfs-fuse-git`, or run again and "
        "answer yes.";

    CliRun text = cli({"--elevated", "mount", "-p", "sdb2", "-d", dir("mac")}, o);
    EXPECT_EQ(text.status, 4);
    EXPECT_EQ(text.out, announcement);
    EXPECT_EQ(text.err, error_line(message));

    CliRun json = cli({"--json", "--elevated", "mount", "-p", "sdb2", "-d", dir("mac")}, o);
    EXPECT_EQ(json.status, 4);
    EXPECT_EQ(json.out, R"({"error":"needs-packages","message":")" + message +
                            R"(","missing_packages":["apfs-fuse-git"],"ok":false})" + "\n");
    EXPECT_EQ(json.err, announcement);

    expect_nothing_done();
    EXPECT_FALSE(fs::exists(dir("mac")));
}

TEST_F(MountCommand, YesInstallsAtOnceAndPlansAgain) {
    apfs_fuse_comes_with_pacman();
    const std::string folder = dir("mac");
    CliRun run = cli({"--elevated", "mount", "-p", "sdb2", "-d", folder, "--yes"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    Calls pacman = stand_.calls("pacman");
    ASSERT_EQ(pacman.size(), 3u);
    EXPECT_EQ(pacman[0].at(0), "-Q");
    EXPECT_EQ(pacman[1], (std::vector<std::string>{"-S", "--needed", "--noconfirm", "apfs-fuse-git"}));
    EXPECT_EQ(pacman[2].at(0), "-Q");  // the plan is made again once the packages are in
    EXPECT_EQ(stand_.calls("apfs-fuse"), (Calls{{"-o", "allow_other,uid=1000,gid=100", "/dev/sdb2", folder}}));
    EXPECT_EQ(run.out, "$ pacman -S --needed --noconfirm apfs-fuse-git\n$ apfs-fuse -o allow_other,uid=1000,gid=100 "
                       "/dev/sdb2 " + folder + "\nMounted /dev/sdb2 at " + folder + " (read-only).\n");
    EXPECT_EQ(run.err, warning(fuse_root(folder)));
}

// The installation takes minutes; the folder is checked again right before the mount, so what
// changed meanwhile is refused and nothing is mounted over it or through it.
struct ChangedMeanwhile {
    const char* name;
    bool folder_exists;          // before the run
    std::string during_install;  // shell, with $F the folder and $E an empty folder elsewhere
    std::string code;
    std::string message;
};
void PrintTo(const ChangedMeanwhile& c, std::ostream* os) { *os << c.name; }

class FolderChangedDuringInstall : public MountCommand, public ::testing::WithParamInterface<ChangedMeanwhile> {};

TEST_P(FolderChangedDuringInstall, IsRefusedAndNothingIsMounted) {
    const ChangedMeanwhile& c = GetParam();
    const std::string folder = dir("mac");
    const fs::path elsewhere = tmp_ / "elsewhere";
    fs::create_directories(elsewhere);
    if (c.folder_exists) fs::create_directories(folder);
    stand_.add("apfs-fuse");
    fs::rename(stand_.bin() / "apfs-fuse", tmp_ / "pending-apfs-fuse");
    stand_.add_script("pacman", "if [ \"$1\" = -S ]; then F='" + folder + "'; E='" + elsewhere.string() + "'; " +
                                    c.during_install + "; mv '" + (tmp_ / "pending-apfs-fuse").string() + "' '" +
                                    (stand_.bin() / "apfs-fuse").string() + "'; fi\nexit 0");
    CliRun run = cli({"--json", "--elevated", "mount", "-p", "sdb2", "-d", folder, "--yes"});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out), (nlohmann::json{{"ok", false}, {"error", c.code}, {"message", c.message}}));
    EXPECT_EQ(installs().size(), 1u);
    EXPECT_THAT(stand_.calls("apfs-fuse"), ::testing::IsEmpty());
    EXPECT_FALSE(fs::exists(records()));
    EXPECT_TRUE(fs::is_empty(elsewhere));  // nothing made through a link
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderChangedDuringInstall,
    ::testing::Values(
        ChangedMeanwhile{"FileWrittenIntoIt", true, "echo draft > \"$F/notes.txt\"", "folder-not-empty", kFolderNotEmpty},
        ChangedMeanwhile{"SwappedForALink", true, "rmdir \"$F\" && ln -s \"$E\" \"$F\"", "folder-not-a-folder",
                         "The mount folder exists and isn't a folder."},
        ChangedMeanwhile{"LinkPlantedWhereItWasToBeMade", false, "ln -s \"$E\" \"$F\"", "folder-not-a-folder",
                         "The mount folder exists and isn't a folder."},
        ChangedMeanwhile{"ParentSwappedForALink", false, "mv \"$(dirname \"$F\")\" \"$E.old\" && ln -s \"$E\" \"$(dirname \"$F\")\"",
                         "folder-not-a-folder", "The mount folder exists and isn't a folder."},
        ChangedMeanwhile{"MountedOnMeanwhile", true,
                         "echo \"50 1 8:9 / $F rw,relatime - tmpfs tmpfs rw\" >> \"$TUVREK_DISK_MOUNTINFO\"",
                         "folder-in-use", "Something is already mounted on that folder."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MountCommand, FailingInstallationListsThePackages) {
    stand_.add_script("pacman", "if [ \"$1\" = -S ]; then echo 'error: target not found' >&2; exit 1; fi\nexit 0");
    CliRun run = cli({"--json", "--elevated", "mount", "-p", "sdb2", "--rw", "--yes", "-d", dir("mac")});
    EXPECT_EQ(run.status, 4);
    auto reply = nlohmann::json::parse(run.out);
    EXPECT_EQ(reply["error"], "needs-packages");
    EXPECT_EQ(reply["message"],
              "Installing linux-apfs-rw-dkms-git dkms linux-headers failed: pacman failed (exit status: 1)");
    EXPECT_EQ(reply["missing_packages"], nlohmann::json::parse(R"(["linux-apfs-rw-dkms-git","dkms","linux-headers"])"));
    // pacman's own words went to the terminal directly, not into the reply.
    EXPECT_EQ(run.err, "$ pacman -S --needed --noconfirm linux-apfs-rw-dkms-git dkms linux-headers\n"
                       "error: target not found\n");
    EXPECT_THAT(stand_.calls("modprobe"), ::testing::IsEmpty());
    EXPECT_THAT(stand_.calls("mount"), ::testing::IsEmpty());
    EXPECT_FALSE(fs::exists(dir("mac")));
}

// ---- module, folder and mount failures ----

TEST_F(MountCommand, FailingModprobeStopsBeforeTheFolderIsMade) {
    make_module_available();
    stand_.add("modprobe", 1, "modprobe: FATAL: Module apfs not found in directory /lib/modules/6.1.0");
    CliRun run = cli({"--json", "--elevated", "mount", "-p", "sdb2", "--rw", "--yes", "-d", dir("mac")});
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(run.out, R"({"error":"module","message":"The apfs driver didn't load (modprobe: FATAL: Module apfs not )"
                       R"(found in directory /lib/modules/6.1.0). If it was just installed, restart once and try )"
                       R"(again.","ok":false})" "\n");
    EXPECT_EQ(run.err, "$ modprobe apfs\nmodprobe: FATAL: Module apfs not found in directory /lib/modules/6.1.0\n");
    EXPECT_FALSE(fs::exists(dir("mac")));
    EXPECT_THAT(stand_.calls("mount"), ::testing::IsEmpty());
    EXPECT_FALSE(fs::exists(records()));
}

TEST_F(MountCommand, FolderThatCannotBeMadeIsAMkdirError) {
    test::write_file(mnt_ / "plain-file", "x");
    // Below a regular file the folder check sees nothing, but mkdir -p cannot get through.
    const std::string folder = (mnt_ / "plain-file" / "below").string();
    CliRun run = cli({"--json", "--elevated", "mount", "-p", "sdb1", "-d", folder});
    EXPECT_EQ(run.status, 5);
    auto reply = nlohmann::json::parse(run.out);
    EXPECT_EQ(reply["error"], "mkdir");
    EXPECT_EQ(reply["message"], folder + ": Not a directory (os error 20)");
    EXPECT_THAT(stand_.calls("mount"), ::testing::IsEmpty());
}

struct MountFailure {
    const char* name;
    std::vector<std::string> args;
    const char* program;  // the stand-in that fails
    std::string said;     // what it prints on standard error
    std::string message;  // after "Mounting <device> failed: "
    const char* device;
    bool module = false;
};
void PrintTo(const MountFailure& c, std::ostream* os) { *os << c.name; }

class FailingMount : public MountCommand, public ::testing::WithParamInterface<MountFailure> {};

TEST_P(FailingMount, RemovesTheNewFolderAndRecordsNothing) {
    const MountFailure& c = GetParam();
    if (c.module) make_module_available();
    stand_.add(c.program, 32, c.said);
    const std::string folder = (mnt_ / "deep" / "new").string();
    std::vector<std::string> args{"--json", "--elevated", "mount", "-d", folder};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CliRun run = cli(args);
    EXPECT_EQ(run.status, 5);
    nlohmann::json expected = {{"ok", false}, {"error", "mount-failed"},
                               {"message", std::string("Mounting ") + c.device + " failed: " + c.message}};
    EXPECT_EQ(run.out, expected.dump() + "\n");
    EXPECT_EQ(stand_.calls(c.program).size(), 1u);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::is_directory(mnt_ / "deep"));  // only the last component goes
    EXPECT_FALSE(fs::exists(records()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingMount,
    ::testing::Values(
        MountFailure{"Ext4HasNoHint", {"-p", "sdb4"}, "mount", "mount: wrong fs type, bad option, bad superblock.",
                     "mount: wrong fs type, bad option, bad superblock.", "/dev/sdb4"},
        MountFailure{"ApfsKernelDriverGetsTheFileVaultHint", {"-p", "sdb2", "--rw", "--yes"}, "mount",
                     "mount: /x: can't read superblock", "mount: /x: can't read superblock" + kFileVaultHint,
                     "/dev/sdb2", true},
        MountFailure{"ApfsFuseGetsTheFileVaultHint", {"-p", "sdb2"}, "apfs-fuse", "",
                     "apfs-fuse failed (exit status: 32)" + kFileVaultHint, "/dev/sdb2"},
        // The test's kernel has neither NTFS driver: ntfs3 is asked for, and the message says why it failed.
        MountFailure{"NtfsWithoutADriverSaysSo", {"-p", "sdb1"}, "mount",
                     "mount: /x: unknown filesystem type 'ntfs3'.",
                     "mount: /x: unknown filesystem type 'ntfs3'." + kNoNtfsDriver, "/dev/sdb1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MountCommand, NtfsOnAKernelWithADriverGetsNoHint) {
    test::write_file(tmp_ / "filesystems", "nodev\tproc\n\tntfs\n");
    stand_.add("mount", 32, "mount: /x: wrong fs type, bad option, bad superblock on /dev/sdb1.");
    CliRun run = cli({"--json", "--elevated", "mount", "-p", "sdb1", "-d", dir("win")});
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(stand_.calls("mount"), (Calls{{"-t", "ntfs", "-o", "ro,uid=1000,gid=100", "/dev/sdb1", dir("win")}}));
    EXPECT_EQ(nlohmann::json::parse(run.out)["message"],
              "Mounting /dev/sdb1 failed: mount: /x: wrong fs type, bad option, bad superblock on /dev/sdb1.");
}

// The type the plan names is the running kernel's driver, in every form the plan is shown.
TEST_F(MountCommand, PlanShowsTheKernelsNtfsDriver) {
    for (const char* driver : {"ntfs", "ntfs3"}) {
        SCOPED_TRACE(driver);
        test::write_file(tmp_ / "filesystems", std::string("\text4\n\t") + driver + "\n");
        const std::string command = std::string("mount -t ") + driver + " -o ro,uid=1000,gid=100 /dev/sdb1 /mnt/Windows";
        CliRun text = cli({"plan", "-p", "sdb1"});
        EXPECT_EQ(text.out, "sudo mkdir -p /mnt/Windows\nsudo " + command + "\n");
        CliRun dry = cli({"--json", "mount", "--dry-run", "-p", "sdb1"});
        EXPECT_EQ(dry.out, "sudo mkdir -p /mnt/Windows\nsudo " + command + "\n");
        CliRun json = cli({"--json", "plan", "-p", "sdb1"});
        EXPECT_EQ(nlohmann::json::parse(json.out)["plan"]["command"][2], driver);
    }
}

TEST_F(MountCommand, FailingMountKeepsAFolderThatWasThere) {
    fs::create_directories(dir("kept"));
    stand_.add("mount", 1, "mount: nope");
    CliRun run = cli({"--elevated", "mount", "-p", "sdb1", "-d", dir("kept")});
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(run.err, "mount: nope\n" + error_line("Mounting /dev/sdb1 failed: mount: nope" + kNoNtfsDriver));
    EXPECT_TRUE(fs::is_directory(dir("kept")));
}

// ---- HFS+ read-only fallback ----

struct Fallback {
    const char* name;
    bool rw;
    // The options the kernel gives the new mount: per mount, then the superblock's.
    const char* mount_options;
    const char* super_options;
    std::string err;
    bool read_write;  // what the reply must say the mount is
};
void PrintTo(const Fallback& c, std::ostream* os) { *os << c.name; }

class HfsFallback : public MountCommand, public ::testing::WithParamInterface<Fallback> {};

TEST_P(HfsFallback, WarnsOnlyWhenAWriteMountCameUpReadOnly) {
    const Fallback& c = GetParam();
    // The stand-in mount puts its mount into the kernel table the way the kernel would.
    stand_.add_script("mount", std::string("for a; do last=$a; done\n") + "printf '40 30 8:19 / %s " +
                                   c.mount_options + " shared:1 - hfsplus /dev/sdb3 " + c.super_options +
                                   "\\n' \"$last\" >> \"$TUVREK_DISK_MOUNTINFO\"\nexit 0");
    const std::string echo = std::string("$ mount -t hfsplus -o ") + (c.rw ? "rw" : "ro") +
                             ",uid=1000,gid=100 /dev/sdb3 " + dir("oldmac") + "\n";
    const std::string message =
        "Mounted /dev/sdb3 at " + dir("oldmac") + (c.read_write ? " (read/write)." : " (read-only).");
    for (const bool json : {true, false}) {
        test::write_file(mountinfo_, "");
        std::vector<std::string> args{"--elevated", "mount", "-p", "sdb3", "-d", dir("oldmac")};
        if (json) args.insert(args.begin(), "--json");
        if (c.rw) args.push_back("--rw");
        CliRun run = cli(args);
        ASSERT_EQ(run.status, 0) << run.err;
        if (json) {
            EXPECT_EQ(run.err, echo + c.err);
            const auto reply = nlohmann::json::parse(run.out);
            EXPECT_EQ(reply["ok"], true);
            EXPECT_EQ(reply["message"], message);
            EXPECT_EQ(reply["read_write"], c.read_write);
        } else {
            EXPECT_EQ(run.err, c.err);
            EXPECT_EQ(run.out, echo + message + "\n");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HfsFallback,
    ::testing::Values(
        Fallback{"WriteCameUpReadOnly", true, "ro,relatime", "ro", warning(journal_warning("/dev/sdb3")) + warning(kHfs),
                 false},
        // The kernel's own answer for a journaled volume: only the superblock options say ro.
        Fallback{"WriteKeptReadOnlyBySuperblock", true, "rw,relatime", "ro,umask=22,uid=1000,gid=100",
                 warning(journal_warning("/dev/sdb3")) + warning(kHfs), false},
        Fallback{"WriteCameUpReadWrite", true, "rw,relatime", "rw,umask=22,uid=1000,gid=100", warning(kHfs), true},
        Fallback{"ReadOnlyAsAsked", false, "ro,relatime", "ro", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- any write mount the kernel kept read-only ----

struct KeptReadOnly {
    const char* name;
    const char* partition;
    const char* device;
    const char* fstype;
    std::string options;  // the mount command's -o
    const char* mount_options;
    const char* super_options;
    bool warned;  // the kernel kept it read-only, and the reply says so
};
void PrintTo(const KeptReadOnly& c, std::ostream* os) { *os << c.name; }

class KernelKeptReadOnly : public MountCommand, public ::testing::WithParamInterface<KeptReadOnly> {};

TEST_P(KernelKeptReadOnly, TheReplyAndAWarningSaySo) {
    const KeptReadOnly& c = GetParam();
    stand_.add_script("mount", std::string("for a; do last=$a; done\n") + "printf '40 30 8:17 / %s " +
                                   c.mount_options + " shared:1 - " + c.fstype + " " + c.device + " " +
                                   c.super_options + "\\n' \"$last\" >> \"$TUVREK_DISK_MOUNTINFO\"\nexit 0");
    const std::string folder = dir("drive");
    const std::string echo =
        std::string("$ mount -t ") + c.fstype + " -o " + c.options + " " + c.device + " " + folder + "\n";
    const std::string told = c.warned ? warning(std::string(c.device) +
                                                " was mounted read-only: the kernel kept it from writing, and "
                                                "`dmesg` says why (a Windows volume left hibernated or with Fast "
                                                "Startup on is the usual case).")
                                      : "";
    const std::string after = c.fstype == std::string("ext4") ? warning(kOwners) : "";
    const std::string message =
        "Mounted " + std::string(c.device) + " at " + folder + (c.warned ? " (read-only)." : " (read/write).");
    for (const bool json : {true, false}) {
        SCOPED_TRACE(json ? "json" : "text");
        test::write_file(mountinfo_, "");
        fs::remove_all(folder);
        std::vector<std::string> args{"--elevated", "mount", "-p", c.partition, "-d", folder, "--rw"};
        if (json) args.insert(args.begin(), "--json");
        CliRun run = cli(args);
        ASSERT_EQ(run.status, 0) << run.err;
        if (json) {
            EXPECT_EQ(run.err, echo + told + after);
            const auto reply = nlohmann::json::parse(run.out);
            EXPECT_EQ(reply["message"], message);
            EXPECT_EQ(reply["read_write"], !c.warned);
        } else {
            EXPECT_EQ(run.err, told + after);
            EXPECT_EQ(run.out, echo + message + "\n");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KernelKeptReadOnly,
    ::testing::Values(
        KeptReadOnly{"HibernatedWindows", "sdb1", "/dev/sdb1", "ntfs3", "rw,uid=1000,gid=100", "ro,relatime",
                     "ro,uid=1000,gid=100", true},
        KeptReadOnly{"NtfsSuperblockOnly", "sdb1", "/dev/sdb1", "ntfs3", "rw,uid=1000,gid=100", "rw,relatime",
                     "ro,uid=1000,gid=100", true},
        KeptReadOnly{"Ext4WithErrors", "sdb4", "/dev/sdb4", "ext4", "rw", "ro,relatime", "ro,errors=remount-ro",
                     true},
        KeptReadOnly{"NtfsWritable", "sdb1", "/dev/sdb1", "ntfs3", "rw,uid=1000,gid=100", "rw,relatime",
                     "rw,uid=1000,gid=100", false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- --startup ----

std::string ntfs_entry(const std::string& uuid, const std::string& target) {
    return "[[mount]]\nuuid = \"" + uuid + "\"\ntarget = \"" + target +
           "\"\nread_write = false\nuid = 1000\ngid = 100\nfilesystem = \"NTFS\"\n";
}

TEST_F(MountCommand, StartupWritesTheEntryAndEnablesTheService) {
    const std::string folder = dir("win");
    CliRun run = cli({"--elevated", "mount", "-p", "sdb1", "-d", folder, "--startup"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "$ mount -t ntfs3 -o ro,uid=1000,gid=100 /dev/sdb1 " + folder + "\n$ systemctl enable " +
                           kStartupUnit + "\nMounted /dev/sdb1 at " + folder +
                           " (read-only). It will be mounted at startup too.\n");
    EXPECT_EQ(test::read_file(conf_), kConfigHeader + ntfs_entry("0A1B2C3D4E5F6071", folder));
    EXPECT_EQ(stand_.calls("systemctl"), (Calls{{"enable", kStartupUnit}}));
}

TEST_F(MountCommand, StartupReplacesEntriesOfTheSameUuidOrFolderAtTheEnd) {
    const std::string folder = dir("win");
    test::write_file(conf_, "[[mount]]\nuuid = \"0a1b2c3d4e5f6071\"\ntarget = \"/mnt/old\"\nuid = 1\ngid = 1\n\n"
                            "[[mount]]\nuuid = \"AAAA-BBBB\"\ntarget = \"/mnt/usb\"\nuid = 1000\ngid = 1000\n\n"
                            "[[mount]]\nuuid = \"CCCC-DDDD\"\ntarget = \"" + folder + "\"\nuid = 2\ngid = 2\n");
    CliRun run = cli({"--elevated", "mount", "-p", "sdb1", "-d", folder, "--startup"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(test::read_file(conf_),
              kConfigHeader +
                  "[[mount]]\nuuid = \"AAAA-BBBB\"\ntarget = \"/mnt/usb\"\nread_write = false\nuid = 1000\ngid = 1000\n\n" +
                  ntfs_entry("0A1B2C3D4E5F6071", folder));
}

TEST_F(MountCommand, FailingEnableIsOnlyAWarning) {
    stand_.add("systemctl", 1, "Failed to enable unit: Unit file tuvrek-disk-automount.service does not exist.");
    const std::string folder = dir("win");
    CliRun run = cli({"--json", "--elevated", "mount", "-p", "sdb1", "-d", folder, "--startup"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["message"],
              "Mounted /dev/sdb1 at " + folder + " (read-only). It will be mounted at startup too.");
    const std::string said = "Failed to enable unit: Unit file tuvrek-disk-automount.service does not exist.";
    EXPECT_THAT(run.err, ::testing::EndsWith("$ systemctl enable " + kStartupUnit + "\n" + said + "\n" +
                                             warning("Enabling " + kStartupUnit + " failed: " + said)));
    EXPECT_EQ(test::read_file(conf_), kConfigHeader + ntfs_entry("0A1B2C3D4E5F6071", folder));
}

TEST_F(MountCommand, StartupWithoutUuidFailsButTheMountStays) {
    const std::string folder = dir("stick");
    CliRun run = cli({"--json", "--elevated", "mount", "-p", "sdb7", "-d", folder, "--startup"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, R"({"error":"no-uuid","message":"/dev/sdb7 has no UUID to find it by at startup.","ok":false})"
                       "\n");
    EXPECT_EQ(stand_.calls("mount").size(), 1u);
    EXPECT_EQ(test::read_file(records()), record_file({{"/dev/sdb7", folder, true}}));
    EXPECT_FALSE(fs::exists(conf_));
    EXPECT_THAT(stand_.calls("systemctl"), ::testing::IsEmpty());
}

TEST_F(MountCommand, StartupWithABrokenConfigurationFailsAndLeavesIt) {
    test::write_file(conf_, "mount = 5\n");
    CliRun run = cli({"--json", "--elevated", "mount", "-p", "sdb1", "-d", dir("win"), "--startup"});
    EXPECT_EQ(run.status, 1);
    auto reply = nlohmann::json::parse(run.out);
    EXPECT_EQ(reply["error"], "config");
    EXPECT_THAT(reply["message"].get<std::string>(), ::testing::StartsWith(conf_.string() + ": "));
    EXPECT_EQ(test::read_file(conf_), "mount = 5\n");
    EXPECT_EQ(stand_.calls("mount").size(), 1u);
    EXPECT_THAT(stand_.calls("systemctl"), ::testing::IsEmpty());
}

// ---- refused requests ----

struct BadInput {
    const char* name;
    std::function<std::vector<std::string>(const fs::path& mnt, const fs::path& mountinfo)> prepare;
    std::string code;
    std::string message;
    int status;
};
void PrintTo(const BadInput& c, std::ostream* os) { *os << c.name; }

class RefusedMount : public MountCommand, public ::testing::WithParamInterface<BadInput> {};

TEST_P(RefusedMount, GivesItsCodeAndChangesNothing) {
    const BadInput& c = GetParam();
    std::vector<std::string> args = c.prepare(mnt_, mountinfo_);
    args.insert(args.begin(), {"--elevated", "mount", "--yes", "--startup"});
    const auto before = tree(tmp_.path());

    CliRun text = cli(args);
    EXPECT_EQ(text.status, c.status);
    EXPECT_EQ(text.out, "");
    EXPECT_EQ(text.err, error_line(c.message));

    args.insert(args.begin(), "--json");
    CliRun json = cli(args);
    EXPECT_EQ(json.status, c.status);
    EXPECT_EQ(json.out, nlohmann::json({{"ok", false}, {"error", c.code}, {"message", c.message}}).dump() + "\n");
    EXPECT_EQ(json.err, "");

    expect_nothing_done();
    // Neither the stand-ins' own records nor the lock the runs held are the machine's state.
    const std::set<std::string> lock{run_dir_.string(), (run_dir_ / "lock").string()};
    auto not_state = [&](const std::string& p) { return p.find("/stand/calls/") != std::string::npos || lock.count(p); };
    auto after = tree(tmp_.path());
    std::erase_if(after, not_state);
    std::set<std::string> expected = before;
    std::erase_if(expected, not_state);
    EXPECT_EQ(after, expected);
}

std::vector<std::string> with_dir(std::vector<std::string> args, const fs::path& folder) {
    args.push_back("-d");
    args.push_back(folder.string());
    return args;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedMount,
    ::testing::Values(
        BadInput{"NoSuchPartition", [](auto& mnt, auto&) { return with_dir({"-p", "sdq9"}, mnt / "new"); },
                 "no-partition", "No partition sdq9. See `tuvrek-disk list`.", 1},
        BadInput{"UpperCaseKernelName", [](auto& mnt, auto&) { return with_dir({"-p", "/dev/SDB1"}, mnt / "new"); },
                 "no-partition", "No partition /dev/SDB1. See `tuvrek-disk list`.", 1},
        BadInput{"RelativeFolder", [](auto&, auto&) { return std::vector<std::string>{"-p", "sdb1", "-d", "mnt/x"}; },
                 "folder-not-absolute", kNotAbsolute, 3},
        BadInput{"SystemFolder", [](auto&, auto&) { return std::vector<std::string>{"-p", "sdb1", "-d", "/usr/"}; },
                 "folder-not-empty", kFolderNotEmpty, 3},
        BadInput{"FolderIsAFile",
                 [](auto& mnt, auto&) {
                     test::write_file(mnt / "file", "x");
                     return with_dir({"-p", "sdb1"}, mnt / "file");
                 },
                 "folder-not-a-folder", "The mount folder exists and isn't a folder.", 3},
        BadInput{"FolderNotEmpty",
                 [](auto& mnt, auto&) {
                     test::write_file(mnt / "full" / ".keep", "");
                     return with_dir({"-p", "sdb1"}, mnt / "full");
                 },
                 "folder-not-empty", kFolderNotEmpty, 3},
        BadInput{"FolderInUse",
                 [](auto& mnt, auto& mountinfo) {
                     fs::create_directories(mnt / "busy");
                     test::write_file(mountinfo, "36 35 98:0 / " + (mnt / "busy").string() +
                                                     " rw,relatime - tmpfs tmpfs rw\n");
                     return with_dir({"-p", "sdb1"}, mnt / "busy");
                 },
                 "folder-in-use", "Something is already mounted on that folder.", 3},
        BadInput{"VolumeOnNtfs", [](auto& mnt, auto&) { return with_dir({"-p", "sdb1", "--volume", "0"}, mnt / "n"); },
                 "volume-not-apfs", "A volume number only applies to APFS partitions.", 3},
        BadInput{"Encrypted", [](auto& mnt, auto&) { return with_dir({"-p", "sdb5"}, mnt / "n"); }, "encrypted",
                 "This partition is encrypted with LUKS. Unlock it first; unlocking isn't supported here yet.", 3},
        BadInput{"Unsupported", [](auto& mnt, auto&) { return with_dir({"-p", "sdb6"}, mnt / "n"); }, "unsupported",
                 "Mounting squashfs partitions isn't supported.", 3},
        BadInput{"NoFilesystem", [](auto& mnt, auto&) { return with_dir({"-p", "sdb8"}, mnt / "n"); },
                 "no-filesystem", "This partition has no filesystem to mount.", 3},
        BadInput{"SystemPartition", [](auto& mnt, auto&) { return with_dir({"-p", "nvme0n1p2"}, mnt / "n"); },
                 "system-partition", "This partition is part of the running system (mounted at /).", 3},
        BadInput{"AlreadyMounted", [](auto& mnt, auto&) { return with_dir({"-p", "nvme0n1p3"}, mnt / "n"); },
                 "already-mounted", "This partition is already mounted at /mnt/spare, /srv/spare.", 3}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- questions on a terminal ----

struct PtyRun {
    int status = -1;
    std::string output;
    bool asked = false;
};

// Runs the program on a pseudo-terminal and types the answer once it asks.
PtyRun run_on_terminal(const std::vector<std::string>& args, const RunOptions& options, const std::string& answer) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string item = *e;
        auto eq = item.find('=');
        if (eq != std::string::npos) env[item.substr(0, eq)] = item.substr(eq + 1);
    }
    for (const auto& name : options.unset) env.erase(name);
    for (const auto& [k, v] : options.env) env[k] = v;
    std::vector<std::string> env_items, argv{test::cli_binary()};
    for (const auto& [k, v] : env) env_items.push_back(k + "=" + v);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp, envp;
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& e : env_items) envp.push_back(e.data());
    envp.push_back(nullptr);

    PtyRun result;
    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return result;
    if (pid == 0) {
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        ssize_t got = ::read(master, buf, sizeof buf);
        if (got <= 0) break;  // EIO: the program's side of the terminal is closed
        result.output.append(buf, static_cast<std::size_t>(got));
        if (!result.asked && result.output.find("[y/N] ") != std::string::npos) {
            result.asked = true;
            const std::string line = answer + "\n";
            if (::write(master, line.data(), line.size()) < 0) break;
        }
    }
    if (std::chrono::steady_clock::now() >= deadline) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

struct Question {
    const char* name;
    bool install;  // "Install them now?", else "Mount it read/write anyway?"
    const char* typed;
    bool yes;
};
void PrintTo(const Question& c, std::ostream* os) { *os << c.name; }

class AskedOnTerminal : public MountCommand, public ::testing::WithParamInterface<Question> {};

TEST_P(AskedOnTerminal, OnlyYesGoesOn) {
    const Question& q = GetParam();
    const std::string folder = dir("mac");
    std::vector<std::string> args{"--elevated", "mount", "-p", "sdb2", "-d", folder};
    if (q.install) {
        apfs_fuse_comes_with_pacman();
    } else {
        make_module_available();
        args.push_back("--rw");
    }
    PtyRun run = run_on_terminal(args, options(), q.typed);
    ASSERT_TRUE(run.asked) << run.output;
    if (q.install) {
        EXPECT_THAT(run.output, ::testing::HasSubstr("Mounting this needs packages that aren't installed: "
                                                     "apfs-fuse-git\r\nInstall them now? [y/N] "));
    } else {
        EXPECT_THAT(run.output, ::testing::HasSubstr(kApfsWrite + "\r\nMount it read/write anyway? [y/N] "));
    }
    if (q.yes) {
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_THAT(run.output, ::testing::HasSubstr("Mounted /dev/sdb2 at " + folder));
        if (q.install) {
            EXPECT_EQ(installs(), (Calls{{"-S", "--needed", "--noconfirm", "apfs-fuse-git"}}));
            EXPECT_EQ(stand_.calls("apfs-fuse").size(), 1u);
        } else {
            EXPECT_EQ(stand_.calls("modprobe"), (Calls{{"apfs"}}));
            EXPECT_EQ(stand_.calls("mount").size(), 1u);
        }
        EXPECT_TRUE(fs::is_directory(folder));
    } else {
        EXPECT_EQ(run.status, q.install ? 4 : 3) << run.output;
        EXPECT_THAT(run.output, ::testing::HasSubstr(q.install ? "Not mounted: it needs apfs-fuse-git."
                                                               : "Not mounted. Mount it read-only (without --rw)"));
        expect_nothing_done();
        EXPECT_FALSE(fs::exists(folder));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AskedOnTerminal,
                         ::testing::Values(Question{"InstallY", true, "y", true},
                                           Question{"InstallYes", true, "yes", true},
                                           Question{"InstallN", true, "n", false},
                                           Question{"InstallEmpty", true, "", false},
                                           Question{"WriteY", false, "y", true},
                                           Question{"WriteYes", false, "yes", true},
                                           Question{"WriteN", false, "n", false},
                                           Question{"WriteEmpty", false, "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tuvrek
