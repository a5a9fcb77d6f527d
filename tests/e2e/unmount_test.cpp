// unmount against stand-in umount and lsof: what reaches umount, the replies, and what happens to
// mounts.json and the mount folder.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "texts.hpp"

namespace tuvrek::test {
namespace {

using Args = std::vector<std::string>;

// One hermetic machine: stand-ins are the only programs on PATH, state files live in a temporary folder.
struct Machine {
    TempDir dir;
    StandIns tools{dir / "tools"};
    fs::path root = dir.path();

    Machine() {
        write_file(dir / "mountinfo", "");
        tools.add("umount");
        tools.add("lsof");
    }
    fs::path records() const { return root / "run" / "mounts.json"; }
    test::Run cli(const Args& args) const {
        RunOptions options = hermetic_options(root, tools.bin().string());
        options.env["TUVREK_DISK_LSBLK_JSON"] = fixture_path("lsblk-unmount-drives.json");
        Args argv{"--elevated"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_cli(argv, options);
    }
};

std::string record_json(const std::string& device, const std::string& target, bool created_dir) {
    return "  {\n    \"device\": \"" + device + "\",\n    \"target\": \"" + target + "\",\n    \"created_dir\": " +
           (created_dir ? "true" : "false") + "\n  }";
}

std::string records_file(const std::vector<std::string>& records) {
    if (records.empty()) return "[]\n";
    std::string out = "[\n";
    for (size_t i = 0; i < records.size(); ++i) out += records[i] + (i + 1 < records.size() ? ",\n" : "\n");
    return out + "]\n";
}

std::string error_reply(const std::string& code, const std::string& message) {
    return R"({"error":")" + code + R"(","message":")" + message + R"(","ok":false})" + "\n";
}

// A folder argument: trailing slashes go, the record decides whether the folder goes too.
struct FolderCase {
    const char* name;
    std::string slashes;       // appended to the folder in the argument
    bool lazy;
    enum { None, Created, Existing } record;
    bool folder_has_file;      // a created folder that someone filled since
    bool folder_removed;
};
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class UnmountFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(UnmountFolder, RunsUmountAndTidiesUp) {
    const FolderCase& c = GetParam();
    Machine m;
    const std::string target = (m.root / "mnt" / "mac").string();
    fs::create_directories(target);
    if (c.folder_has_file) write_file(fs::path(target) / "note.txt", "kept");
    const std::string other = record_json("/dev/sdc1", "/mnt/other", true);
    std::vector<std::string> records{other};
    if (c.record != FolderCase::None)
        records.insert(records.begin(), record_json("/dev/sdb1", target, c.record == FolderCase::Created));
    const std::string before = records_file(records);
    write_file(m.records(), before);

    Args args{"unmount"};
    if (c.lazy) args.push_back("--lazy");
    args.push_back(target + c.slashes);
    test::Run run = m.cli(args);

    ASSERT_EQ(run.status, 0) << run.err;
    Args expected_umount;
    if (c.lazy) expected_umount.push_back("-l");
    expected_umount.push_back(target);
    EXPECT_EQ(m.tools.calls("umount"), std::vector<Args>{expected_umount});
    EXPECT_EQ(run.out, "$ umount " + std::string(c.lazy ? "-l " : "") + target + "\nUnmounted " + target + ".\n");
    EXPECT_TRUE(m.tools.calls("lsof").empty());

    EXPECT_EQ(fs::exists(target), !c.folder_removed);
    if (c.folder_has_file) {
        EXPECT_EQ(read_file(fs::path(target) / "note.txt"), "kept");
    }
    EXPECT_EQ(read_file(m.records()), c.record == FolderCase::None ? before : records_file({other}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnmountFolder,
    ::testing::Values(
        FolderCase{"created_folder_removed_after_trailing_slashes_go", "//", false, FolderCase::Created, false, true},
        FolderCase{"folder_that_existed_before_stays", "/", false, FolderCase::Existing, false, false},
        FolderCase{"no_record_leaves_folder_and_file", "", false, FolderCase::None, false, false},
        FolderCase{"lazy_passes_l", "", true, FolderCase::Created, false, true},
        FolderCase{"created_but_filled_folder_is_never_emptied", "", false, FolderCase::Created, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Partition arguments and folders that are not refused: what umount receives.
struct DerivedCase {
    const char* name;
    Args args;
    Args umount;
};
void PrintTo(const DerivedCase& c, std::ostream* os) { *os << c.name; }

class UnmountDerivation : public ::testing::TestWithParam<DerivedCase> {};

TEST_P(UnmountDerivation, PassesTheTargetToUmount) {
    const DerivedCase& c = GetParam();
    Machine m;
    test::Run run = m.cli(c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(m.tools.calls("umount"), std::vector<Args>{c.umount});
    EXPECT_FALSE(fs::exists(m.records()));  // no record: nothing written
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnmountDerivation,
    ::testing::Values(DerivedCase{"partition_detaches_only_its_first_mount_point", {"unmount", "/dev/sdb2"}, {"/mnt/first"}},
                      DerivedCase{"lazy_partition", {"unmount", "--lazy", "/dev/sdb2"}, {"-l", "/mnt/first"}},
                      DerivedCase{"below_a_system_folder_is_allowed", {"umount", "/boot/x/"}, {"/boot/x"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Refused before umount runs; mounts.json is left alone.
struct RefusedCase {
    const char* name;
    Args args;
    int status;
    std::string reply;
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class UnmountRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(UnmountRefused, RunsNothing) {
    const RefusedCase& c = GetParam();
    Machine m;
    const std::string before = records_file({record_json("/dev/sdb2", "/mnt/first", true)});
    write_file(m.records(), before);
    Args args{"--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    test::Run run = m.cli(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, c.reply);
    EXPECT_TRUE(m.tools.calls("umount").empty());
    EXPECT_EQ(read_file(m.records()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnmountRefused,
    ::testing::Values(
        RefusedCase{"root", {"unmount", "/"}, 3, error_reply("system-partition", "/ is part of the running system.")},
        RefusedCase{"double_slash", {"unmount", "//"}, 3,
                    error_reply("system-partition", "// is part of the running system.")},
        RefusedCase{"boot_with_slash", {"unmount", "/boot/"}, 3,
                    error_reply("system-partition", "/boot/ is part of the running system.")},
        RefusedCase{"partition_of_the_running_system", {"unmount", "/dev/sda2"}, 3,
                    error_reply("system-partition", "/dev/sda2 is part of the running system.")},
        // A leading "-" would reach umount as an option: --all detaches everything.
        RefusedCase{"all_as_target", {"unmount", "--", "--all"}, 3, error_reply("folder-not-absolute", kNotAbsolute)},
        RefusedCase{"l_as_target", {"unmount", "--", "-l"}, 3, error_reply("folder-not-absolute", kNotAbsolute)},
        RefusedCase{"option_with_trailing_slash", {"unmount", "--lazy", "--", "-a/"}, 3,
                    error_reply("folder-not-absolute", kNotAbsolute)},
        RefusedCase{"partition_not_mounted", {"unmount", "/dev/sdb1"}, 1,
                    error_reply("not-mounted", "/dev/sdb1 isn't mounted.")},
        RefusedCase{"no_such_partition", {"unmount", "/dev/sdz9"}, 1,
                    error_reply("no-partition", "No partition /dev/sdz9. See `tuvrek-disk list`.")}),
    [](const auto& info) { return std::string(info.param.name); });

// umount fails: busy explained with lsof's view, anything else passed on.
struct FailureCase {
    const char* name;
    int umount_exit;
    std::string umount_err;
    enum { Absent, Silent, Listing } lsof;
    std::string code;
    std::string message_tail;  // after "<target>" for busy, after the prefix otherwise
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class UnmountFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(UnmountFailure, LeavesRecordAndFolder) {
    const FailureCase& c = GetParam();
    TempDir dir;
    StandIns tools(dir / "tools");
    tools.add("umount", c.umount_exit, c.umount_err);
    // lsof ends with 1 as it does when some file could not be looked at; its listing still counts.
    if (c.lsof == FailureCase::Listing)
        tools.add("lsof", 1, "lsof: WARNING: can't stat() fuse.portal file system",
                  "\n COMMAND  PID USER FD TYPE NAME\nbash    4711 anna cwd DIR  /mnt/mac\nnautilus 815 anna 12r DIR  /mnt/mac  \n");
    if (c.lsof == FailureCase::Silent) tools.add("lsof", 1);
    write_file(dir / "mountinfo", "");
    const std::string target = (dir.path() / "mnt" / "mac").string();
    fs::create_directories(target);
    const std::string before = records_file({record_json("/dev/sdb1", target, true)});
    write_file(dir / "run" / "mounts.json", before);

    RunOptions options = hermetic_options(dir.path(), tools.bin().string());
    options.env["TUVREK_DISK_LSBLK_JSON"] = fixture_path("lsblk-unmount-drives.json");
    test::Run run = run_cli({"--elevated", "--json", "unmount", target}, options);

    EXPECT_EQ(run.status, 5) << run.err;
    const std::string message = c.code == "busy" ? target + c.message_tail
                                                 : "Unmounting " + target + " failed: " + c.message_tail;
    const auto reply = nlohmann::json::parse(run.out);
    EXPECT_EQ(reply, (nlohmann::json{{"ok", false}, {"error", c.code}, {"message", message}}));
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1);  // one line: the reply alone
    EXPECT_NE(run.err.find("$ umount " + target + "\n"), std::string::npos);

    EXPECT_EQ(tools.calls("umount"), std::vector<Args>{{target}});
    if (c.lsof != FailureCase::Absent) {
        const std::vector<Args> lsof_calls = c.code == "busy" ? std::vector<Args>{{"+f", "--", target}}
                                                              : std::vector<Args>{};
        EXPECT_EQ(tools.calls("lsof"), lsof_calls);
    }
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(read_file(dir / "run" / "mounts.json"), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnmountFailure,
    ::testing::Values(
        FailureCase{"busy_lists_what_lsof_sees", 32, "umount: /mnt/mac: target is busy.", FailureCase::Listing, "busy",
                    kBusyText + "\n\nUsing it:\nCOMMAND  PID USER FD TYPE NAME\nbash    4711 anna cwd DIR  /mnt/mac\n"
                                "nautilus 815 anna 12r DIR  /mnt/mac"},
        FailureCase{"busy_with_nothing_listed", 32, "umount: /mnt/mac: target is busy.", FailureCase::Silent, "busy",
                    kBusyText},
        FailureCase{"busy_without_lsof", 32, "umount: /mnt/mac: target is busy.", FailureCase::Absent, "busy",
                    kBusyText + "\nInstall lsof to see what's using it."},
        FailureCase{"busy_is_case_sensitive", 32, "umount: /mnt/mac: Device Busy", FailureCase::Listing,
                    "unmount-failed", "umount: /mnt/mac: Device Busy"},
        FailureCase{"other_failure_passes_umount_words_on", 32, "  umount: /mnt/mac: not mounted.\n",
                    FailureCase::Listing, "unmount-failed", "umount: /mnt/mac: not mounted."},
        FailureCase{"silent_failure_names_the_status", 32, "", FailureCase::Listing, "unmount-failed",
                    "umount failed (exit status: 32)"}),
    [](const auto& info) { return std::string(info.param.name); });

// umount's messages are translated. A stand-in that answers in German unless its message locale is
// C, decided as a real program decides it (LC_ALL, then LC_MESSAGES, then LANG), must still give the
// busy reply whatever locale the user has.
struct LocaleCase {
    const char* name;
    std::map<std::string, std::string> env;
};
void PrintTo(const LocaleCase& c, std::ostream* os) { *os << c.name; }

class UnmountLocale : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(UnmountLocale, BusyIsRecognisedInAnyLanguage) {
    const LocaleCase& c = GetParam();
    TempDir dir;
    StandIns tools(dir / "tools");
    tools.add_script("umount",
                     "for a; do target=$a; done\n"
                     "case ${LC_ALL:-${LC_MESSAGES:-$LANG}} in\n"
                     "  C | C.* | POSIX | '') echo \"umount: $target: target is busy.\" >&2 ;;\n"
                     "  *) echo \"umount: $target: Das Ziel wird gerade benutzt.\" >&2 ;;\n"
                     "esac\n"
                     "exit 32");
    tools.add("lsof", 0, "", "COMMAND  PID USER FD TYPE NAME\nbash    4711 anna cwd DIR  /mnt/mac");
    write_file(dir / "mountinfo", "");
    const std::string target = (dir.path() / "mnt" / "mac").string();
    fs::create_directories(target);

    RunOptions options = hermetic_options(dir.path(), tools.bin().string());
    options.env["TUVREK_DISK_LSBLK_JSON"] = fixture_path("lsblk-unmount-drives.json");
    options.unset.insert(options.unset.end(), {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES"});
    options.env.insert(c.env.begin(), c.env.end());
    // The stand-in really speaks German in this environment.
    EXPECT_NE(run({"umount", target}, options).err.find("Das Ziel wird gerade benutzt."), std::string::npos);
    fs::remove(dir / "tools" / "calls" / "umount");

    test::Run unmounted = run_cli({"--elevated", "--json", "unmount", target}, options);
    EXPECT_EQ(unmounted.status, 5) << unmounted.err;
    EXPECT_EQ(nlohmann::json::parse(unmounted.out),
              (nlohmann::json{{"ok", false},
                              {"error", "busy"},
                              {"message", target + kBusyText +
                                              "\n\nUsing it:\nCOMMAND  PID USER FD TYPE NAME\n"
                                              "bash    4711 anna cwd DIR  /mnt/mac"}}));
    EXPECT_EQ(tools.calls("umount"), std::vector<Args>{{target}});
    EXPECT_EQ(tools.calls("lsof"), (std::vector<Args>{{"+f", "--", target}}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnmountLocale,
    ::testing::Values(LocaleCase{"lang", {{"LANG", "de_DE.UTF-8"}}},
                      LocaleCase{"lc_messages", {{"LANG", "de_DE.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}}},
                      LocaleCase{"lc_all", {{"LANG", "de_DE.UTF-8"}, {"LC_ALL", "de_DE.UTF-8"}}},
                      // LC_ALL beats messages in the C locale that the user set.
                      LocaleCase{"lc_all_over_c_messages", {{"LC_ALL", "de_DE.UTF-8"}, {"LC_MESSAGES", "C"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UnmountReply, JsonCarriesTheTargetAndEchoesOnStderr) {
    Machine m;
    const std::string target = (m.root / "mnt" / "usb").string();
    fs::create_directories(target);
    write_file(m.records(), records_file({record_json("/dev/sdb1", target, true)}));
    test::Run run = m.cli({"--json", "unmount", target + "/"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, R"({"message":"Unmounted )" + target + R"(.","ok":true,"target":")" + target + "\"}\n");
    EXPECT_EQ(run.err, "$ umount " + target + "\n");
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(read_file(m.records()), "[]\n");
}

}  // namespace
}  // namespace tuvrek::test
