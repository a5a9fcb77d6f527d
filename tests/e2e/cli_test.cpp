// The command line of the built tuvrek-disk: help, version, refused calls, and the privilege rule.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"

namespace tuvrek::test {
namespace {

using Args = std::vector<std::string>;

std::string join(const Args& args) {
    std::string out;
    for (const auto& a : args) out += (out.empty() ? "" : " ") + a;
    return out;
}

Args with_json(Args args) {
    args.insert(args.begin(), "--json");
    return args;
}

// Every help screen the program has, through each way of asking for one.
const std::vector<Args> kHelpCalls = {
    {"--help"},
    {"-h"},
    {"help"},
    {"list", "--help"},
    {"mount", "-h"},
    {"unmount", "--help"},
    {"umount", "--help"},
    {"plan", "--help"},
    {"automount", "--help"},
    {"automount", "add", "--help"},
    {"automount", "remove", "-h"},
    {"automount", "list", "--help"},
    {"automount", "run", "--help"},
    {"help", "mount"},
    {"help", "automount"},
    {"help", "automount", "remove"},
    {"automount", "help"},
    {"automount", "help", "add"},
    {"--json", "help", "list"},
    {"--elevated", "--help"},
};

// A help screen as the words we declare. The library owns the layout (headings, columns, wrapping,
// the padding of short option names), so every run of white space becomes one blank and the blank
// after a comma goes: "-p,     --partition" and "-p,--partition" read alike.
std::string words(const std::string& text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\t') {
            blank = !out.empty();
            continue;
        }
        if (blank && out.back() != ',') out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// Each text found after the one before it, compared as words.
bool in_order(const std::string& screen, const std::vector<std::string>& texts) {
    const std::string all = words(screen);
    size_t at = 0;
    for (const std::string& text : texts) {
        at = all.find(words(text), at);
        if (at == std::string::npos) return false;
        at += words(text).size();
    }
    return true;
}

// The command path the usage line names: "tuvrek-disk" and the subcommand words after it.
std::string screen_name(const std::string& screen) {
    std::istringstream tokens(words(screen));
    std::string token;
    while (tokens >> token && token != "tuvrek-disk") {
    }
    if (token != "tuvrek-disk") return "";
    std::string name = token;
    while (tokens >> token && std::all_of(token.begin(), token.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
        name += " " + token;
    return name;
}

const std::string kJsonHelp = "Print one JSON object on stdout instead of text (for the Brevane window)";

// The subcommands of the root and of `automount`, each with its about text, in their order.
const std::vector<std::string> kRootSubcommands = {
    "list List drives and their partitions",
    "mount Mount a partition",
    "unmount Unmount a folder or a partition",
    "plan Show how a partition would be mounted, without mounting it",
    "automount Partitions mounted at startup",
};
const std::vector<std::string> kAutomountSubcommands = {
    "add Mount a partition at every startup",
    "remove Stop mounting a folder (or partition UUID) at startup",
    "list List the partitions mounted at startup",
    "run Mount them all now (what the startup service runs)",
};

TEST(Help, EveryWayOfAskingPrintsOnStdoutAndSucceeds) {
    for (const Args& call : kHelpCalls) {
        auto r = run_cli(call);
        EXPECT_EQ(r.status, 0) << join(call);
        EXPECT_EQ(screen_name(r.out).rfind("tuvrek-disk", 0), 0u) << join(call) << "\n" << r.out;
        EXPECT_TRUE(in_order(r.out, {"--json", kJsonHelp})) << join(call) << "\n" << r.out;
        EXPECT_EQ(r.err, "") << join(call);
    }
}

TEST(Help, NamesTheRightScreen) {
    struct Case {
        Args call;
        std::string about;
        std::string screen;
        std::vector<std::string> positionals;
    };
    const Case cases[] = {
        {{"--help"}, "Mount any partition, macOS ones included", "tuvrek-disk", {}},
        {{"help", "unmount"}, "Unmount a folder or a partition", "tuvrek-disk unmount", {"TARGET"}},
        {{"umount", "-h"}, "Unmount a folder or a partition", "tuvrek-disk unmount", {"TARGET"}},
        {{"help", "automount", "add"}, "Mount a partition at every startup", "tuvrek-disk automount add", {}},
        {{"automount", "help", "remove"}, "Stop mounting a folder (or partition UUID) at startup",
         "tuvrek-disk automount remove", {"TARGET"}},
        {{"automount", "run", "-h"}, "Mount them all now (what the startup service runs)",
         "tuvrek-disk automount run", {}},
    };
    for (const Case& c : cases) {
        auto r = run_cli(c.call);
        EXPECT_EQ(words(r.out).rfind(words(c.about) + " ", 0), 0u) << join(c.call) << "\n" << r.out;
        EXPECT_EQ(screen_name(r.out), c.screen) << join(c.call) << "\n" << r.out;
        Args after_name{c.screen};
        after_name.insert(after_name.end(), c.positionals.begin(), c.positionals.end());
        EXPECT_TRUE(in_order(r.out, after_name)) << join(c.call) << "\n" << r.out;
    }
}

TEST(Help, EveryHelpTextAppearsAndTheHiddenOnesNever) {
    std::string all;
    for (const Args& call : kHelpCalls) all += run_cli(call).out + "\n";
    const char* texts[] = {
        "Mount any partition, macOS ones included",
        "Print one JSON object on stdout instead of text (for the Brevane window)",
        "List drives and their partitions",
        "Also show EFI, swap and partitions without a filesystem",
        "Mount a partition",
        "Unmount a folder or a partition",
        "The mount folder (/mnt/mac) or the partition (/dev/nvme1n1p2)",
        "Detach now and finish when nothing uses it any more (umount -l)",
        "Show how a partition would be mounted, without mounting it",
        "Partitions mounted at startup",
        "Mount a partition at every startup",
        "Stop mounting a folder (or partition UUID) at startup",
        "List the partitions mounted at startup",
        "Mount them all now (what the startup service runs)",
        "-p,--partition DEVICE",
        "The partition: /dev/nvme1n1p2, nvme1n1p2 or its UUID",
        "-d,--dir FOLDER",
        "The folder to mount it on [default: /mnt/<volume name>]",
        "-w,--rw",
        "Read and write (the default is read-only)",
        "--volume N",
        "APFS volume number, counting from 0 (try 1 if Users is missing)",
        "--uid UID",
        "Owner of the files on macOS, Windows and shared drives [default: you]",
        "--gid GID",
        "Group of the files on macOS, Windows and shared drives [default: yours]",
        "-y,--yes",
        "Answer yes: install missing packages, accept experimental writing",
        "Print the commands instead of running them",
        "Also mount it at every startup (mount only)",
        "-V,--version",
    };
    for (const char* text : texts) EXPECT_TRUE(in_order(all, {text})) << text;
    EXPECT_EQ(all.find("--elevated"), std::string::npos);
    EXPECT_EQ(all.find("ELEVATED"), std::string::npos);
    EXPECT_EQ(all.find("don't ask sudo again"), std::string::npos);
    // "umount -l" is the --lazy help text; the alias itself never shows.
    std::string without_lazy = words(all);
    for (size_t at; (at = without_lazy.find("umount -l")) != std::string::npos;) without_lazy.erase(at, 9);
    EXPECT_EQ(without_lazy.find("umount"), std::string::npos);
}

TEST(Help, OptionsAndSubcommandsInTheirOrder) {
    const std::string root = run_cli({"--help"}).out;
    EXPECT_TRUE(in_order(root, kRootSubcommands)) << root;
    const std::string automount = run_cli({"automount", "--help"}).out;
    EXPECT_TRUE(in_order(automount, kAutomountSubcommands)) << automount;
    const std::string mount = run_cli({"mount", "--help"}).out;
    EXPECT_TRUE(in_order(mount, {"--partition DEVICE", "--dir FOLDER", "--rw", "--volume N", "--uid UID",
                                 "--gid GID", "--yes", "--dry-run", "--startup"}))
        << mount;
    const std::string list = run_cli({"list", "--help"}).out;
    EXPECT_TRUE(in_order(list, {"--all", "Also show EFI, swap and partitions without a filesystem"})) << list;
    const std::string unmount = run_cli({"unmount", "--help"}).out;
    EXPECT_TRUE(in_order(unmount, {"TARGET", "The mount folder (/mnt/mac) or the partition (/dev/nvme1n1p2)",
                                   "--lazy", "Detach now and finish when nothing uses it any more (umount -l)"}))
        << unmount;
}

TEST(Version, OnTheRootOnly) {
    for (const char* flag : {"-V", "--version"}) {
        auto r = run_cli({flag});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "tuvrek-disk 0.0.1\n");
    }
    auto sub = run_cli({"list", "-V"});
    EXPECT_EQ(sub.status, 2);
    EXPECT_EQ(sub.out, "");
}

// Only a call with nothing after the program name (or after `automount`) shows the help; a missing
// subcommand after other arguments is the library's error with our pointer to --help. Both are refused alike.
TEST(MissingSubcommand, BareCallShowsThatLevelsHelpOthersAreAnError) {
    struct Case {
        Args call;
        std::string screen;
        bool help;
    };
    const Case cases[] = {
        {{}, "tuvrek-disk", true},
        {{"automount"}, "tuvrek-disk automount", true},
        {{"--json", "automount"}, "tuvrek-disk automount", true},
        {{"--json"}, "tuvrek-disk", false},
        {{"--elevated", "--json"}, "tuvrek-disk", false},
        {{"automount", "--json"}, "tuvrek-disk automount", false},
        {{"--json", "automount", "--elevated"}, "tuvrek-disk automount", false},
    };
    for (const Case& c : cases) {
        auto r = run_cli(c.call);
        EXPECT_EQ(r.status, 2) << join(c.call);
        EXPECT_EQ(r.out, "") << join(c.call);
        EXPECT_EQ(screen_name(r.err), c.screen) << join(c.call) << "\n" << r.err;
        const auto& subcommands = c.screen == "tuvrek-disk" ? kRootSubcommands : kAutomountSubcommands;
        EXPECT_EQ(in_order(r.err, subcommands), c.help) << join(c.call) << "\n" << r.err;
        EXPECT_EQ(in_order(r.err, {"Run with --help for more information."}), !c.help)
            << join(c.call) << "\n" << r.err;
    }
}

// The library refuses these before anything runs: status 2, no reply on stdout even with --json.
TEST(ParseErrors, ExitTwoWithNothingOnStdout) {
    struct Case {
        Args call;
        std::string said;  // what the library's message must name: its wording is the library's
    };
    const Case cases[] = {
        {{"mount"}, "--partition"},
        {{"plan", "-d", "/mnt/x"}, "--partition"},
        {{"automount", "add", "-p"}, "--partition"},
        {{"mount", "-p", "sdb2", "-wr"}, "-r"},
        {{"mount", "-p", "sdb2", "--volume", "-1"}, "--volume"},
        {{"mount", "-p", "sdb2", "--volume", "0x10"}, "--volume"},
        {{"plan", "-p", "sdb2", "--uid", "4294967296"}, "--uid"},
        {{"plan", "-p", "sdb2", "--gid", "12a"}, "--gid"},
        {{"format", "sdb2"}, "format"},
        {{"automount", "enable"}, "enable"},
        {{"unmount", "/mnt/a", "/mnt/b"}, "/mnt/b"},
        {{"automount", "remove", "a", "b"}, "b"},
        {{"unmount"}, "TARGET"},
        {{"list", "--bogus"}, "--bogus"},
        {{"help", "nosuch"}, "nosuch"},
        {{"mount", "-p", "sdb2\xff"}, "UTF-8"},
    };
    for (const Case& c : cases) {
        for (const Args& call : {c.call, with_json(c.call)}) {
            auto r = run_cli(call);
            EXPECT_EQ(r.status, 2) << join(call);
            EXPECT_EQ(r.out, "") << join(call);
            EXPECT_NE(r.err.find(c.said), std::string::npos) << join(call) << "\n" << r.err;
        }
    }
}

// ---- Replies that cannot be written ----

enum class Broken { ReaderGone, Closed };

// Runs tuvrek-disk with standard output a pipe whose reader has gone, or closed; standard error
// closed too when asked. Gives the exit code, or 128 + the signal that ended it.
int status_with_broken_output(const Args& args, const std::string& lsblk, Broken out, bool close_stderr) {
    Args argv{cli_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env{"TUVREK_DISK_LSBLK_JSON=" + lsblk,
                                 "TUVREK_DISK_MOUNTINFO=/dev/null", "TUVREK_DISK_RUN_DIR=/nonexistent",
                                 "TUVREK_DISK_AUTOMOUNT_CONF=/nonexistent/automount.toml", "PATH=/usr/bin:/bin"};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("ASAN_OPTIONS=", 0) == 0 || std::string(*e).rfind("UBSAN_OPTIONS=", 0) == 0)
            env.push_back(*e);
    std::vector<char*> argp, envp;
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return -1;
    close(pipe_fds[0]);
    pid_t pid = fork();
    if (pid == 0) {
        if (out == Broken::ReaderGone) dup2(pipe_fds[1], 1);
        else close(1);
        if (close_stderr) {
            close(2);
        } else {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
        }
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(BrokenOutput, EndsWithItsOwnStatusInsteadOfCrashing) {
    const std::string machine = fixture_path("lsblk-list-machine.json");
    struct Case {
        Args args;
        int status;
        std::string lsblk;
    };
    const Case cases[] = {
        {{"list"}, 0, machine},
        {{"list", "--json", "--all"}, 0, machine},
        {{"--help"}, 0, machine},
        {{"-V"}, 0, machine},
        {{"mount"}, 2, machine},
        {{}, 2, machine},
        // The lsblk error, whose reply has nowhere to go.
        {{"list"}, 1, "/nonexistent.json"},
        {{"list", "--json"}, 1, "/nonexistent.json"},
    };
    for (const Case& c : cases) {
        for (Broken out : {Broken::ReaderGone, Broken::Closed}) {
            for (bool close_stderr : {false, true}) {
                EXPECT_EQ(status_with_broken_output(c.args, c.lsblk, out, close_stderr), c.status)
                    << join(c.args) << (out == Broken::Closed ? " stdout closed" : " reader gone")
                    << (close_stderr ? ", stderr closed" : "");
            }
        }
    }
}

// ---- The privilege rule ----

// No such partition on the captured machine: run for real as root, each stops before changing anything.
const std::vector<Args> kNeedRoot = {
    {"mount", "-p", "sdz9"},
    {"--json", "mount", "-p", "sdz9", "-rw", "--volume", "010"},
    {"unmount", "/mnt/x"},
    {"umount", "--lazy", "/dev/sdb1"},
    {"automount", "add", "--dry-run", "-p", "sdz9"},
    {"automount", "remove", "/mnt/x"},
    {"automount", "run"},
};

const std::vector<Args> kRunAtOnce = {
    {"list"},
    {"--json", "list", "--all"},
    {"plan", "-p", "sdz9"},
    {"automount", "list"},
    {"mount", "--dry-run", "-p", "sdz9"},
    {"--elevated", "automount", "run"},
    {"automount", "remove", "/mnt/x", "--elevated"},
    {"--json", "unmount", "/mnt/x", "--elevated"},
};

// A folder that uid 65534 can read: the program, stand-ins first on PATH, and the machine's state.
class Machine {
public:
    Machine() : stand_ins(dir / "stand-ins") {
        fs::copy_file(cli_binary(), program());
        for (const char* name : {"umount", "mount", "lsof", "systemctl", "modprobe", "pacman", "apfs-fuse", "modinfo"})
            stand_ins.add(name, 0);
        write_file(dir / "mountinfo", "");
        write_file(dir / "automount.toml", "");
        fs::create_directories(dir / "run");
        fs::create_directories(dir / "empty-bin");
    }

    // Everything readable and executable by everyone, and the call records writable.
    void open_up() {
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            fs::permissions(entry.path(), fs::perms::others_read | fs::perms::group_read, fs::perm_options::add);
        fs::permissions(dir.path(), fs::perms(0755));
        fs::permissions(dir / "stand-ins", fs::perms(0755));
        fs::permissions(dir / "stand-ins/bin", fs::perms(0755));
        fs::permissions(dir / "empty-bin", fs::perms(0755));
        fs::permissions(dir / "stand-ins/calls", fs::perms(0777));
        fs::permissions(dir / "run", fs::perms(0777));
        fs::permissions(program(), fs::perms(0755));
    }

    fs::path program() const { return dir / "tuvrek-disk"; }

    RunOptions options(const std::string& path) const {
        RunOptions o = hermetic_options(dir.path(), path);
        o.env["TUVREK_DISK_LSBLK_JSON"] = fixture_path("lsblk-list-machine.json");
        o.stdin_file = "/dev/null";
        return o;
    }

    TempDir dir;
    StandIns stand_ins;
};

TEST(PrivilegeAsRoot, EverySubcommandRunsAtOnce) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: checks that root never goes through sudo";
    Machine machine;
    machine.stand_ins.add("sudo", 0);
    for (const auto* table : {&kNeedRoot, &kRunAtOnce}) {
        for (const Args& call : *table) {
            Args argv{machine.program().string()};
            argv.insert(argv.end(), call.begin(), call.end());
            auto r = run(argv, machine.options(machine.stand_ins.path_env()));
            EXPECT_NE(r.status, 2) << join(call) << "\n" << r.err;
        }
    }
    EXPECT_TRUE(machine.stand_ins.calls("sudo").empty());
}

// Runs the copied program as uid 65534 (nobody), with the stand-ins on PATH.
class PrivilegeAsUser : public testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to uid 65534 with setpriv";
        for (const char* candidate : {"/usr/bin/setpriv", "/bin/setpriv"})
            if (access(candidate, X_OK) == 0) setpriv = candidate;
        if (setpriv.empty()) GTEST_SKIP() << "setpriv (util-linux) is not installed";
    }

    test::Run as_nobody(const Args& call, const std::string& path) {
        machine.open_up();
        Args argv{setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", machine.program().string()};
        argv.insert(argv.end(), call.begin(), call.end());
        return run(argv, machine.options(path));
    }

    std::string setpriv;
    Machine machine;
};

TEST_F(PrivilegeAsUser, PrivilegedSubcommandsGoThroughSudoWithTheArgumentsAsReceived) {
    machine.stand_ins.add("sudo", 7, "sudo stand-in", "");
    const std::string self = fs::canonical(machine.program()).string();
    for (const Args& call : kNeedRoot) {
        fs::remove(machine.dir / "stand-ins/calls/sudo");
        auto r = as_nobody(call, machine.stand_ins.path_env());
        EXPECT_EQ(r.status, 7) << join(call) << "\n" << r.err;
        EXPECT_EQ(r.out, "") << join(call);
        EXPECT_EQ(r.err, "sudo stand-in\n") << join(call);
        Args expected{"--", self, "--elevated"};
        expected.insert(expected.end(), call.begin(), call.end());
        auto calls = machine.stand_ins.calls("sudo");
        ASSERT_EQ(calls.size(), 1u) << join(call);
        EXPECT_EQ(calls[0], expected);
    }
}

TEST_F(PrivilegeAsUser, OthersRunAtOnceWithoutSudo) {
    machine.stand_ins.add("sudo", 0);
    for (const Args& call : kRunAtOnce) {
        auto r = as_nobody(call, machine.stand_ins.path_env());
        EXPECT_NE(r.status, 2) << join(call) << "\n" << r.err;
    }
    EXPECT_TRUE(machine.stand_ins.calls("sudo").empty());
    auto list = as_nobody({"list"}, machine.stand_ins.path_env());
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("/dev/sda2"), std::string::npos);
}

TEST_F(PrivilegeAsUser, RefusedCommandLineNeverReachesSudo) {
    machine.stand_ins.add("sudo", 0);
    auto r = as_nobody({"--json", "mount", "-p", "sdb1", "-wr"}, machine.stand_ins.path_env());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(machine.stand_ins.calls("sudo").empty());
}

TEST_F(PrivilegeAsUser, SudoKilledBySignalGivesOne) {
    machine.stand_ins.add_script("sudo", "kill -KILL $$");
    auto r = as_nobody({"unmount", "/mnt/x"}, machine.stand_ins.path_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(machine.stand_ins.calls("sudo").size(), 1u);
}

// A signal to the run that started sudo reaches sudo, which passes it on and ends with the status of
// the run it started; that status is kept, and sudo does not outlive the run.
TEST_F(PrivilegeAsUser, ASignalReachesSudoAndItsStatusIsKept) {
    const fs::path pid = machine.dir / "sudo.pid";
    const fs::path started = machine.dir / "sudo.started";
    machine.stand_ins.add_script("sudo", "exec > /dev/null 2>&1\necho $$ > '" + pid.string() +
                                             "'\ntrap 'kill $sleeping; exit 143' TERM\n"
                                             "sleep 30 &\nsleeping=$!\n: > '" + started.string() +
                                             "'\nwait $sleeping\nexit 0");
    machine.open_up();
    fs::permissions(machine.dir.path(), fs::perms(0777));
    Args argv{setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", machine.program().string(),
              "--json", "unmount", "/mnt/x"};
    Started run = start(argv, machine.options(machine.stand_ins.path_env()));
    run.wait_for([&](const test::Run&) { return fs::exists(started); });
    ASSERT_TRUE(fs::exists(started)) << "sudo never started";
    ::kill(run.pid(), SIGTERM);
    const test::Run done = run.finish();
    EXPECT_EQ(done.status, 143) << done.err;
    EXPECT_EQ(done.out, "");  // the reply is the elevated run's, which this stand-in never started
    EXPECT_FALSE(process_alive(std::stoi(read_file(pid))));
}

TEST_F(PrivilegeAsUser, SudoMissingIsTheSudoError) {
    const std::string path = (machine.dir / "empty-bin").string();
    const std::string message = "sudo: No such file or directory (os error 2)";

    auto text = as_nobody({"automount", "run"}, path);
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(text.out, "");
    EXPECT_EQ(text.err, "\x1b[31mError:\x1b[0m " + message + "\n");

    auto json = as_nobody({"automount", "run", "--json"}, path);
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err, "");
    EXPECT_EQ(json.out, R"({"error":"sudo","message":")" + message + R"(","ok":false})" + "\n");
}

}  // namespace
}  // namespace tuvrek::test
