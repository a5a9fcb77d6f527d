#include "tuvrek/state_lock.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;

// One byte through a pipe, with a limit on the wait for it: 0 when nothing came in time.
char read_byte(int fd, int timeout_ms) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, timeout_ms) != 1) return 0;
    char byte = 0;
    return ::read(fd, &byte, 1) == 1 ? byte : 0;
}

void write_byte(int fd, char byte) { (void)!::write(fd, &byte, 1); }

struct Pipe {
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    int in() const { return fds[0]; }
    int out() const { return fds[1]; }
    int fds[2] = {-1, -1};
};

// The child's exit status, waiting for it at most a few seconds (then it is killed: -1).
int wait_child(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(10'000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

class StateLockTest : public testing::Test {
protected:
    void SetUp() override { env_.set("TUVREK_DISK_RUN_DIR", run_dir().string()); }
    fs::path run_dir() const { return dir_ / "run"; }

    test::TempDir dir_;
    test::ScopedEnv env_;
};

// Two runs: the second says it waits, and goes on only once the first has let go.
TEST_F(StateLockTest, SecondRunWaitsUntilTheFirstReleases) {
    Pipe first_says, first_hears, second_says;

    const pid_t first = ::fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        auto lock = lock_state([&] { write_byte(first_says.out(), 'W'); });
        if (!lock) ::_exit(1);
        write_byte(first_says.out(), 'L');
        read_byte(first_hears.in(), 10'000);  // held until told
        ::_exit(0);
    }
    ASSERT_EQ(read_byte(first_says.in(), 5'000), 'L') << "the first run takes a free lock without waiting";

    const pid_t second = ::fork();
    ASSERT_GE(second, 0);
    if (second == 0) {
        int waits = 0;
        auto lock = lock_state([&] {
            ++waits;
            write_byte(second_says.out(), 'W');
        });
        if (!lock) ::_exit(1);
        write_byte(second_says.out(), 'L');
        ::_exit(waits == 1 ? 0 : 2);
    }
    EXPECT_EQ(read_byte(second_says.in(), 5'000), 'W');
    EXPECT_EQ(read_byte(second_says.in(), 300), 0) << "the second run got the lock while the first held it";

    write_byte(first_hears.out(), 'R');
    EXPECT_EQ(wait_child(first), 0);
    EXPECT_EQ(read_byte(second_says.in(), 5'000), 'L');
    EXPECT_EQ(wait_child(second), 0) << "on_wait runs exactly once";
}

TEST_F(StateLockTest, ReleasedWhenTheLockGoesAndFreeAgainInTheSameProcess) {
    int waits = 0;
    {
        auto lock = lock_state([&] { ++waits; });
        ASSERT_TRUE(lock) << lock.error();
        StateLock moved = std::move(*lock);
    }
    auto again = lock_state([&] { ++waits; });
    ASSERT_TRUE(again) << again.error();
    EXPECT_EQ(waits, 0);
}

void on_alarm(int) {}

// A signal while waiting ends the wait with EINTR, so that the caller can stop.
TEST_F(StateLockTest, SignalWhileWaitingIsEintr) {
    Pipe first_says, first_hears;
    const pid_t first = ::fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        auto lock = lock_state({});
        if (!lock) ::_exit(1);
        write_byte(first_says.out(), 'L');
        read_byte(first_hears.in(), 10'000);
        ::_exit(0);
    }
    ASSERT_EQ(read_byte(first_says.in(), 5'000), 'L');

    const pid_t second = ::fork();
    ASSERT_GE(second, 0);
    if (second == 0) {
        struct sigaction action {};
        action.sa_handler = on_alarm;  // no SA_RESTART: the wait is cut short
        ::sigaction(SIGALRM, &action, nullptr);
        ::alarm(1);
        auto lock = lock_state({});
        ::_exit(!lock && lock.error() == EINTR ? 0 : 1);
    }
    EXPECT_EQ(wait_child(second), 0);
    write_byte(first_hears.out(), 'R');
    EXPECT_EQ(wait_child(first), 0);
}

TEST_F(StateLockTest, RunFolderAndLockFileAreReadableByAllWhateverTheUmask) {
    env_.set("TUVREK_DISK_RUN_DIR", (run_dir() / "deeper").string());
    const mode_t old = ::umask(0);
    auto open_mask = lock_state({});
    ::umask(old);
    ASSERT_TRUE(open_mask) << open_mask.error();
    EXPECT_EQ(fs::status(run_dir()).permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(run_dir() / "deeper").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(run_dir() / "deeper" / "lock").permissions(), fs::perms(0644));

    env_.set("TUVREK_DISK_RUN_DIR", (dir_ / "closed").string());
    const mode_t closed = ::umask(077);
    auto closed_mask = lock_state({});
    ::umask(closed);
    ASSERT_TRUE(closed_mask) << closed_mask.error();
    EXPECT_EQ(fs::status(dir_ / "closed").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(dir_ / "closed" / "lock").permissions(), fs::perms(0644));
}

TEST_F(StateLockTest, LinkPlantedAtTheLockIsNotFollowed) {
    test::TempDir elsewhere;
    fs::create_directories(run_dir());
    fs::create_symlink(elsewhere / "created", run_dir() / "lock");
    auto lock = lock_state({});
    ASSERT_FALSE(lock);
    EXPECT_EQ(lock.error(), ELOOP);
    EXPECT_FALSE(fs::exists(elsewhere / "created"));
}

TEST_F(StateLockTest, RunFolderThatCannotBeMadeIsTheErrno) {
    test::write_file(dir_ / "plain", "x");
    env_.set("TUVREK_DISK_RUN_DIR", (dir_ / "plain" / "run").string());
    auto lock = lock_state({});
    ASSERT_FALSE(lock);
    EXPECT_EQ(lock.error(), ENOTDIR);
}

}  // namespace
}  // namespace tuvrek
