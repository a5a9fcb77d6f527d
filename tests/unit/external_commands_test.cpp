// Display quoting, the judgement of external commands, and the yes/no question.
#include "external_commands.hpp"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace tuvrek {
namespace {

using test::StandIns;
using test::TempDir;

struct JoinCase {
    const char* name;
    std::vector<std::string> argv;
    std::string joined;
};
void PrintTo(const JoinCase& c, std::ostream* os) { *os << c.name; }

class ShellJoin : public ::testing::TestWithParam<JoinCase> {};

TEST_P(ShellJoin, RendersEachWord) { EXPECT_EQ(shell_join(GetParam().argv), GetParam().joined); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ShellJoin,
    ::testing::Values(
        JoinCase{"MountCommandStaysBare",
                 {"mount", "-t", "ntfs3", "-o", "ro,uid=1000,gid=1000", "/dev/sda2", "/mnt/Windows"},
                 "mount -t ntfs3 -o ro,uid=1000,gid=1000 /dev/sda2 /mnt/Windows"},
        JoinCase{"EverySafeMark", {"a-b_c.d/e=f,g:h@i"}, "a-b_c.d/e=f,g:h@i"},
        JoinCase{"Blank", {"/mnt/My Mac"}, "'/mnt/My Mac'"},
        JoinCase{"QuoteInsideWord", {"it's"}, "'it'\\''s'"},
        JoinCase{"LoneQuoteIsSixCharacters", {"'"}, "''\\'''"},
        JoinCase{"Dollar", {"$HOME"}, "'$HOME'"},
        JoinCase{"Star", {"*.txt"}, "'*.txt'"},
        JoinCase{"Tilde", {"~/x"}, "'~/x'"},
        JoinCase{"DoubleQuote", {"a\"b"}, "'a\"b'"},
        JoinCase{"Backslash", {"a\\b"}, "'a\\b'"},
        JoinCase{"Newline", {"a\nb"}, "'a\nb'"},
        JoinCase{"AccentedLetter", {"/mnt/Café"}, "/mnt/Café"},
        JoinCase{"NonLatinLetters", {"/mnt/Диск", "/mnt/日本"}, "/mnt/Диск /mnt/日本"},
        JoinCase{"OtherNumbers", {"x²", "Ⅻ"}, "x² Ⅻ"},
        JoinCase{"NonAsciiPunctuation", {"a…b"}, "'a…b'"},
        JoinCase{"InvalidUtf8IsQuoted", {"a\xff"}, "'a\xff'"},
        // An empty word must stay a word when the line is read back by a shell.
        JoinCase{"EmptyWordKeepsItsPlace", {"a", "", "b"}, "a '' b"},
        JoinCase{"EmptyVector", {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShellJoinRoundTrip, ShellReadsBackTheSameWords) {
    const std::vector<std::string> words = {
        "plain", "/mnt/My Mac", "it's", "'", "''", "", "$HOME", "${x}", "*", "?", "[ab]", "~", "~root",
        "a\"b", "back\\slash", "tab\there", "new\nline", "Café", "日本", "-n", "--", "semi;colon", "a&b",
        "a|b", "(x)", "{a,b}", "!bang", "#hash", "`id`", "$(id)", "a=b", "<in", ">out", "%s", "\\", " "};
    const std::string script = "printf '%s\\036' " + shell_join(words);
    test::Run run = test::run({"/bin/sh", "-c", script});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> back;
    std::size_t start = 0;
    for (std::size_t end; (end = run.out.find('\036', start)) != std::string::npos; start = end + 1)
        back.push_back(run.out.substr(start, end - start));
    EXPECT_EQ(back, words);
}

// run_command looks programs up through PATH, so the stand-ins go first on this process's own.
class RunCommand : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        saved_path_ = path ? path : "/usr/bin:/bin";
        setenv("PATH", stand_.path_env().c_str(), 1);
    }
    void TearDown() override { setenv("PATH", saved_path_.c_str(), 1); }

    struct Outcome {
        Result<void, std::string> result;
        std::string out;
        std::string err;
    };
    Outcome run(bool json, const std::vector<std::string>& argv, bool capture) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        auto result = run_command(json, argv, capture);
        std::cout.flush();
        std::fflush(nullptr);
        std::string err = ::testing::internal::GetCapturedStderr();
        std::string out = ::testing::internal::GetCapturedStdout();
        return {std::move(result), std::move(out), std::move(err)};
    }

    TempDir tmp_;
    StandIns stand_{tmp_.path()};
    std::string saved_path_;
};

struct FailureCase {
    const char* name;
    std::string script;  // the stand-in's body; empty: no such program
    std::string error;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class RunCommandFailure : public RunCommand, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RunCommandFailure, GivesOneLineForTheCaller) {
    const FailureCase& c = GetParam();
    if (!c.script.empty()) stand_.add_script(c.name, c.script);
    auto outcome = run(false, {c.name, "arg"}, true);
    ASSERT_FALSE(outcome.result);
    EXPECT_EQ(outcome.result.error(), c.error);
    // The echo comes first, even when the program never starts.
    EXPECT_EQ(outcome.out.substr(0, outcome.out.find('\n') + 1), std::string("$ ") + c.name + " arg\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunCommandFailure,
    ::testing::Values(
        FailureCase{"quiet", "exit 1", "quiet failed (exit status: 1)"},
        FailureCase{"mountish", "printf '\\n  mount: /mnt/x: wrong fs type.  \\n\\n' >&2; exit 32",
                    "mount: /mnt/x: wrong fs type."},
        FailureCase{"blankonly", "printf ' \\t\\n' >&2; exit 3", "blankonly failed (exit status: 3)"},
        FailureCase{"killed", "kill -9 $$", "killed failed (signal: 9 (SIGKILL))"},
        FailureCase{"tuvrek-no-such-program", "", "tuvrek-no-such-program: No such file or directory (os error 2)"}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::erase(name, '-');
        return name;
    });

TEST_F(RunCommand, WarningsWithStatusZeroAreEchoedAndIgnored) {
    stand_.add("warner", 0, "warning: something odd");
    auto outcome = run(false, {"warner"}, true);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.err, "warning: something odd\n");
}

TEST_F(RunCommand, TextModeKeepsTheChildsOutputOnStandardOutput) {
    stand_.add("talker", 0, "to-err", "to-out");
    auto outcome = run(false, {"talker", "My Disk"}, true);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.out, "$ talker 'My Disk'\nto-out\n");
    EXPECT_EQ(outcome.err, "to-err\n");
}

TEST_F(RunCommand, JsonModeSendsEchoAndChildOutputToStandardError) {
    stand_.add("talker", 0, "to-err", "to-out");
    auto outcome = run(true, {"talker"}, true);
    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "$ talker\nto-out\nto-err\n");
}

TEST_F(RunCommand, UncapturedStandardErrorReachesTheTerminalAndIsNotTheError) {
    stand_.add("installer", 1, "error: target not found: nope");
    auto outcome = run(true, {"installer"}, false);
    ASSERT_FALSE(outcome.result);
    EXPECT_EQ(outcome.result.error(), "installer failed (exit status: 1)");
    EXPECT_EQ(outcome.err, "$ installer\nerror: target not found: nope\n");
}

TEST_F(RunCommand, ArgumentsReachTheProgramUnchanged) {
    stand_.add("recorder");
    const std::vector<std::string> args = {"-o", "ro,uid=1000", "/mnt/My Mac", "it's", "$HOME", ""};
    std::vector<std::string> argv{"recorder"};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_TRUE(run(false, argv, true).result);
    EXPECT_EQ(stand_.calls("recorder"), std::vector<std::vector<std::string>>{args});
}

TEST_F(RunCommand, AnArgumentWithANulIsRefusedAndShownEscaped) {
    stand_.add("umount");
    const std::string cut = std::string("/mnt/full") + '\0' + "/x";
    for (const bool json : {false, true}) {
        auto outcome = run(json, {"umount", cut}, true);
        ASSERT_FALSE(outcome.result);
        EXPECT_EQ(outcome.result.error(), "umount: an argument holds a NUL character");
        EXPECT_EQ(json ? outcome.err : outcome.out, "$ umount '/mnt/full\\x00/x'\n");
    }
    EXPECT_TRUE(stand_.calls("umount").empty());
}

// Puts something in place of standard input for the length of one test.
class StdinSwap {
public:
    explicit StdinSwap(int fd) : saved_(::dup(STDIN_FILENO)) { ::dup2(fd, STDIN_FILENO); }
    ~StdinSwap() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }
    StdinSwap(const StdinSwap&) = delete;
    StdinSwap& operator=(const StdinSwap&) = delete;

private:
    int saved_;
};

struct Answer {
    const char* name;
    std::string typed;
    bool yes;
};
void PrintTo(const Answer& c, std::ostream* os) { *os << c.name; }

class ConfirmOnTerminal : public ::testing::TestWithParam<Answer> {};

TEST_P(ConfirmOnTerminal, AnswersYesOnlyToYOrYes) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string& typed = GetParam().typed;
    ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    bool answer;
    std::string err;
    {
        StdinSwap swap(slave);
        ::testing::internal::CaptureStderr();
        answer = confirm("Install them now?");
        err = ::testing::internal::GetCapturedStderr();
    }
    ::close(slave);
    ::close(master);
    EXPECT_EQ(answer, GetParam().yes);
    EXPECT_EQ(err, "Install them now? [y/N] ");
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfirmOnTerminal,
                         ::testing::Values(Answer{"y", "y\n", true}, Answer{"Y", "Y\n", true},
                                           Answer{"YesWithNewline", "Yes\n", true},
                                           Answer{"YesWithBlanks", "  yes \t\n", true},
                                           Answer{"YES", "YES\n", true}, Answer{"ye", "ye\n", false},
                                           Answer{"YesPlease", "yes please\n", false},
                                           Answer{"n", "n\n", false}, Answer{"EmptyLine", "\n", false},
                                           Answer{"EndOfInput", "\x04", false},
                                           Answer{"InvalidUtf8", "y\xff\n", false},
                                           Answer{"OnlyTheFirstLineCounts", "n\ny\n", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Confirm, ReadsOneLinePerQuestion) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::write(master, "n\nyes\n", 6), 6);
    {
        StdinSwap swap(slave);
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(confirm("First?"));
        EXPECT_TRUE(confirm("Second?"));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "First? [y/N] Second? [y/N] ");
    }
    ::close(slave);
    ::close(master);
}

TEST(Confirm, StandardInputFromAFileIsNoWithoutAsking) {
    TempDir tmp;
    test::write_file(tmp / "answer", "yes\n");
    int fd = ::open((tmp / "answer").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    bool answer;
    std::string err;
    {
        StdinSwap swap(fd);
        ::testing::internal::CaptureStderr();
        answer = confirm("Mount it read/write anyway?");
        err = ::testing::internal::GetCapturedStderr();
        // Nothing was read: the answer is still there for whoever reads next.
        char first = 0;
        EXPECT_EQ(::read(STDIN_FILENO, &first, 1), 1);
        EXPECT_EQ(first, 'y');
    }
    ::close(fd);
    EXPECT_FALSE(answer);
    EXPECT_EQ(err, "");
}

}  // namespace
}  // namespace tuvrek
