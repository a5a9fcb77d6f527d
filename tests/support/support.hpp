#pragma once
// Helpers for tests that run the built programs as processes, hermetically.

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tuvrek::test {

namespace fs = std::filesystem;

struct Run {
    int status = -1;  // exit code, or 128 + signal
    std::string out;
    std::string err;
};

struct RunOptions {
    // Set on top of the test's own environment; the names in unset are removed from it first.
    std::map<std::string, std::string> env;
    std::vector<std::string> unset;
    std::string stdin_data;   // written to the child's standard input (a pipe)
    std::string stdin_file;   // or: the child's standard input is this file
    std::string cwd;
    double timeout_seconds = 60;  // the child is killed after this long; status is then 128 + 9
    std::optional<mode_t> umask;  // the child's file-mode creation mask, else the test's own
};

// The environment of a hermetic run of tuvrek-disk: every state file and system folder it reads or
// changes is named under root (lsblk.json for the drives, mountinfo, run/ for mounts.json,
// automount.toml, sys-module/ and modules/ for the loaded and installed kernel modules, filesystems for
// the filesystem types the kernel has registered), and no sudo
// or pkexec caller is inherited. With a path, programs are found through it alone.
RunOptions hermetic_options(const fs::path& root, const std::optional<std::string>& path = std::nullopt);
// The machine's own value of one of those variables instead (unset: lsblk itself, the real table).
void use_machine(RunOptions& options, const std::string& name);
// The real mount table and kernel modules, for runs that mount for real.
void use_real_kernel(RunOptions& options);

// A child started in a process group of its own, its output read as it comes. Waited for (killed
// first when still running) when the object goes.
class Started {
public:
    Started(pid_t pid, int in, int out, int err, const RunOptions& options);
    ~Started();
    Started(Started&& other) noexcept;
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;
    Started& operator=(Started&&) = delete;

    pid_t pid() const { return pid_; }
    // Reads the output until `until` holds for what came so far (true), the streams end or the time is
    // up (false).
    bool wait_for(const std::function<bool(const Run& so_far)>& until, double seconds = 30);
    // Reads to the end and waits; status as in run().
    Run finish();

private:
    void pump(const std::function<bool(const Run&)>* until, double seconds);
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string to_write_;
    std::size_t written_ = 0;
    double timeout_seconds_ = 60;
    Run so_far_;
    bool killed_ = false;
    std::chrono::steady_clock::time_point started_at_;
};

// Starts argv (argv[0] through PATH of the resulting environment) without waiting for it.
Started start(const std::vector<std::string>& argv, const RunOptions& options = {});
// Runs argv and waits for it.
Run run(const std::vector<std::string>& argv, const RunOptions& options = {});

// The built tuvrek-disk and brevane.
std::string cli_binary();
std::string gui_binary();
// Runs tuvrek-disk with the arguments.
Run run_cli(const std::vector<std::string>& args, const RunOptions& options = {});
Started start_cli(const std::vector<std::string>& args, const RunOptions& options = {});

// Whether a process of this id still runs (a zombie counts as gone).
bool process_alive(pid_t pid);

std::string fixture_path(const std::string& name);

// A fresh folder removed with all it holds when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, const std::string& content);
// The running kernel's release, the name of its folder of modules.
std::string running_release();
// The names in folder that begin with prefix, such as temporary files left behind.
std::vector<std::string> names_starting(const fs::path& folder, const std::string& prefix);

// Stand-in programs put first on PATH: each records its argument vector and ends as told.
// A call is recorded as one line in <dir>/calls/<name>: the arguments (program name excluded)
// separated by the byte 0x1f.
class StandIns {
public:
    explicit StandIns(const fs::path& dir);
    // exit_code: how it ends; err/out: what it prints on standard error / output.
    void add(const std::string& name, int exit_code = 0, const std::string& err = "", const std::string& out = "");
    // A stand-in with its own shell script body (after the recording line).
    void add_script(const std::string& name, const std::string& body);
    std::vector<std::vector<std::string>> calls(const std::string& name) const;
    fs::path bin() const { return dir_ / "bin"; }
    // bin() first, then the system's PATH.
    std::string path_env() const;

private:
    fs::path dir_;
};

// mount and umount stand-ins that change the mount table file (TUVREK_DISK_MOUNTINFO) as the kernel
// does: the target resolved through its links, the table changed under a short lock (a line appended in
// one write, or the table replaced whole), so runs at once never lose a line. mount adds a line for its last two arguments (device, folder), "ro" or "rw" as its
// -o options begin; umount takes the last line of its folder away, or fails with "not mounted".
void add_mount_table_standins(StandIns& stand);

// Sets (or, with std::nullopt, removes) environment variables of the test process itself and puts
// the old values back when it goes, so one test's overrides never leak into the next.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void set(const std::string& name, const std::optional<std::string>& value);
    void unset(const std::string& name) { set(name, std::nullopt); }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Lowers the test process's file-size limit, with SIGXFSZ ignored, so that writing past it fails
// with EFBIG even for root; the old limit and handler come back when it goes.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit old_limit_{};
    struct sigaction old_action_{};
};

}  // namespace tuvrek::test
