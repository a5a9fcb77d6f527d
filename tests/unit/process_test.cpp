#include "tuvrek/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support.hpp"

namespace tuvrek {
namespace {

ProcessOutput run_sh(const std::string& script, SpawnOptions options = {Stream::Null, Stream::Capture, Stream::Capture}) {
    auto result = run_process({"sh", "-c", script}, options);
    if (!result) ADD_FAILURE() << "run_process failed: " << result.error();
    return result ? std::move(result).value() : ProcessOutput{};
}

TEST(RunProcess, CapturesBothStreamsAndTheExitCode) {
    auto out = run_sh("printf 'to out'; printf 'to err' >&2; exit 32");
    EXPECT_EQ(out.out, "to out");
    EXPECT_EQ(out.err, "to err");
    EXPECT_FALSE(out.status.success());
    EXPECT_TRUE(out.status.exited);
    EXPECT_EQ(out.status.code, 32);
}

TEST(RunProcess, ArgumentsArePassedUnchangedWithoutAShell) {
    auto result = run_process({"printf", "%s|", "a b", "$HOME", "*", "", "it's"},
                              {Stream::Null, Stream::Capture, Stream::Capture});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->out, "a b|$HOME|*||it's|");
    EXPECT_TRUE(result->status.success());
}

TEST(RunProcess, LargeOutputOnBothStreamsDoesNotBlock) {
    // Each burst is well past a pipe's buffer: reading one stream to its end before the other
    // would leave the child stuck on the full pipe, whichever stream is read first.
    auto out = run_sh("burst() { head -c 300000 /dev/zero | tr '\\0' \"$1\"; }; "
                      "burst e >&2; burst o; burst e >&2");
    EXPECT_EQ(out.out, std::string(300000, 'o'));
    EXPECT_EQ(out.err, std::string(600000, 'e'));
    EXPECT_TRUE(out.status.success());
}

TEST(RunProcess, NullStreamsAreDevNull) {
    // Asked inside a command substitution, before any redirection of the shell's own streams.
    auto out = run_sh("x=$(readlink /proc/$$/fd/0 /proc/$$/fd/1); echo \"$x\" >&2",
                      {Stream::Null, Stream::Null, Stream::Capture});
    EXPECT_EQ(out.err, "/dev/null\n/dev/null\n");
}

TEST(RunProcess, OutputToStderrJoinsOurStandardError) {
    test::TempDir dir;
    const auto file = dir / "stderr";
    const int saved = ::dup(STDERR_FILENO);
    ASSERT_GE(saved, 0);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    auto result = run_process({"sh", "-c", "echo said; echo complained >&2"},
                              {Stream::Null, Stream::ToStderr, Stream::Capture});
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->out, "");
    EXPECT_EQ(result->err, "complained\n");  // standard error still goes to its own capture
    EXPECT_EQ(test::read_file(file), "said\n");
}

TEST(RunProcess, FindsProgramsThroughPathAndPassesTheEnvironment) {
    test::TempDir dir;
    test::write_file(dir / "tuvrek-probe", "#!/bin/sh\nprintf '%s' \"$TUVREK_PROBE_VALUE\"\n");
    std::filesystem::permissions(dir / "tuvrek-probe", std::filesystem::perms::owner_all);
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (dir.path().string() + ":" + old_path).c_str(), 1);
    ::setenv("TUVREK_PROBE_VALUE", "inherited", 1);
    auto result = run_process({"tuvrek-probe"}, {Stream::Null, Stream::Capture, Stream::Capture});
    ::setenv("PATH", old_path.c_str(), 1);
    ::unsetenv("TUVREK_PROBE_VALUE");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->out, "inherited");
}

TEST(RunProcess, StartFailuresAreErrorNumbers) {
    auto missing = run_process({"tuvrek-no-such-program-here"}, {Stream::Null, Stream::Capture, Stream::Capture});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), ENOENT);

    test::TempDir dir;
    test::write_file(dir / "not-executable", "#!/bin/sh\n");
    auto denied = run_process({(dir / "not-executable").string()});
    ASSERT_FALSE(denied);
    EXPECT_EQ(denied.error(), EACCES);

    auto empty = run_process({});
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error(), EINVAL);
}

TEST(RunProcess, AnArgumentHoldingANulIsRefusedAndNothingRuns) {
    test::TempDir dir;
    const auto marker = dir / "ran";
    auto result = run_process({"sh", "-c", "touch '" + marker.string() + "'", std::string("/mnt/full\0/x", 12)});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), EINVAL);
    EXPECT_FALSE(std::filesystem::exists(marker));
}

// What the child sees of each locale variable; "-" when unset.
TEST(RunProcess, ChildrenSpeakInTheCLocaleAndKeepTheRestOfTheLocale) {
    const std::vector<std::string> names = {"LC_MESSAGES", "LC_ALL", "LC_CTYPE", "LC_TIME", "LANG", "LANGUAGE"};
    struct Case {
        const char* what;
        std::vector<std::optional<std::string>> ours;  // in the order of names
        std::string child;
    };
    const std::optional<std::string> unset;
    const Case cases[] = {
        {"LC_ALL spread over the other categories, which it overrode",
         {"de_DE.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", unset, "en_GB.UTF-8", "de"},
         "C|-|de_DE.UTF-8|de_DE.UTF-8|en_GB.UTF-8|de"},
        {"no LC_ALL: the categories stay as they are",
         {unset, unset, "de_DE.UTF-8", unset, "de_DE.UTF-8", unset},
         "C|-|de_DE.UTF-8|-|de_DE.UTF-8|-"},
        {"an empty LC_ALL counts as unset", {"de_DE.UTF-8", "", unset, unset, unset, unset}, "C|-|-|-|-|-"},
    };
    std::string format, values;
    for (const auto& name : names) {
        format += format.empty() ? "%s" : "|%s";
        values += " \"${" + name + "--}\"";
    }
    const std::string script = "printf '" + format + "'" + values;
    for (const Case& c : cases) {
        test::ScopedEnv env;
        for (std::size_t i = 0; i < names.size(); ++i) env.set(names[i], c.ours[i]);
        EXPECT_EQ(run_sh(script).out, c.child) << c.what;
    }
}

TEST(RunProcess, ReportsTheSignalThatEndedTheChild) {
    auto out = run_sh("kill -KILL $$");
    EXPECT_FALSE(out.status.exited);
    EXPECT_EQ(out.status.signal, SIGKILL);
    EXPECT_FALSE(out.status.success());
}

TEST(RunProcess, ChildGetsDefaultSignalHandling) {
    // A caller that ignores SIGPIPE must not hand that on: the child would then never die of a
    // closed pipe.
    struct sigaction ignore{}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);
    auto out = run_sh("kill -PIPE $$; exit 0");
    sigaction(SIGPIPE, &old, nullptr);
    EXPECT_FALSE(out.status.exited);
    EXPECT_EQ(out.status.signal, SIGPIPE);
}

void on_alarm(int) {}

TEST(RunProcess, InterruptedCallsAreRetried) {
    struct sigaction action{}, old{};
    action.sa_handler = on_alarm;  // no SA_RESTART: poll, read and waitpid see EINTR
    sigaction(SIGALRM, &action, &old);
    itimerval every_ms{{0, 1000}, {0, 1000}};
    setitimer(ITIMER_REAL, &every_ms, nullptr);
    auto result = run_process({"sh", "-c", "sleep 0.2; echo done; sleep 0.1; echo late >&2"},
                              {Stream::Null, Stream::Capture, Stream::Capture});
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(result->out, "done\n");
    EXPECT_EQ(result->err, "late\n");
    EXPECT_TRUE(result->status.success());
}

// ---- signals passed on ----
// Each case runs in a process of its own (a death test): once a signal was passed on, that process
// starts no child without after_signal, for good.

void pass_on(int signal) { forward_signal_to_child(signal, false); }
void already_had_it(int signal) { forward_signal_to_child(signal, true); }

void handle_term_with(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
}

// The child sends SIGTERM to its parent and waits; it ends with 7 when the signal came back to it.
const std::vector<std::string> kAsksForTerm = {
    "sh", "-c", "sleep 5 & s=$!; trap 'kill $s; exit 7' TERM; kill -TERM $PPID; wait $s; exit 0"};
const SpawnOptions kQuiet{Stream::Null, Stream::Null, Stream::Null};

TEST(ForwardSignalToChild, TheRunningChildGetsItAndNoNewChildStarts) {
    EXPECT_EXIT(
        {
            handle_term_with(pass_on);
            auto asked = run_process(kAsksForTerm, kQuiet);
            if (!asked || asked->status.code != 7) _exit(1);
            auto next = run_process({"true"}, kQuiet);
            if (next || next.error() != EINTR) _exit(2);
            SpawnOptions finishing = kQuiet;
            finishing.after_signal = true;
            auto bookkeeping = run_process({"true"}, finishing);
            _exit(bookkeeping && bookkeeping->status.success() ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

// As from the terminal, which signals the whole process group: the child is not sent it again.
TEST(ForwardSignalToChild, AChildThatHasItAlreadyIsNotSentItAgain) {
    EXPECT_EXIT(
        {
            handle_term_with(already_had_it);
            auto asked = run_process({"sh", "-c", "trap 'exit 7' TERM; kill -TERM $PPID; sleep 0.3; exit 0"}, kQuiet);
            _exit(asked && asked->status.exited && asked->status.code == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(DescribeWaitStatus, ExitCodesAndNamedSignals) {
    struct Case {
        WaitStatus status;
        std::string text;
    };
    const Case cases[] = {
        {{true, 0, 0, false}, "exit status: 0"},
        {{true, 32, 0, false}, "exit status: 32"},
        {{false, 0, 9, false}, "signal: 9 (SIGKILL)"},
        {{false, 0, 1, false}, "signal: 1 (SIGHUP)"},
        {{false, 0, 11, true}, "signal: 11 (SIGSEGV) (core dumped)"},
        {{false, 0, 6, true}, "signal: 6 (SIGABRT) (core dumped)"},
        {{false, 0, 16, false}, "signal: 16 (SIGSTKFLT)"},
        {{false, 0, 31, false}, "signal: 31 (SIGSYS)"},
        {{false, 0, 34, false}, "signal: 34"},  // real-time signals have no name here
        {{false, 0, 40, true}, "signal: 40 (core dumped)"},
    };
    for (const auto& c : cases) EXPECT_EQ(describe_wait_status(c.status), c.text);
}

TEST(SelfExecutablePath, IsThisTestProgram) {
    auto path = self_executable_path();
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_TRUE(std::filesystem::path(*path).is_absolute());
    EXPECT_TRUE(std::filesystem::is_regular_file(*path));
}

}  // namespace
}  // namespace tuvrek
