#include "support.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace tuvrek::test {

namespace {

std::vector<std::string> build_env(const RunOptions& options) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string item = *e;
        auto eq = item.find('=');
        if (eq == std::string::npos) continue;
        env[item.substr(0, eq)] = item.substr(eq + 1);
    }
    for (const auto& name : options.unset) env.erase(name);
    for (const auto& [k, v] : options.env) env[k] = v;
    std::vector<std::string> out;
    for (const auto& [k, v] : env) out.push_back(k + "=" + v);
    return out;
}

std::string lookup_path(const std::string& name, const std::vector<std::string>& env) {
    if (name.find('/') != std::string::npos) return name;
    std::string path = "/usr/bin:/bin";
    for (const auto& e : env)
        if (e.rfind("PATH=", 0) == 0) path = e.substr(5);
    std::stringstream ss(path);
    std::string dir;
    while (std::getline(ss, dir, ':')) {
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return name;
}

}  // namespace

Started start(const std::vector<std::string>& argv, const RunOptions& options) {
    auto env = build_env(options);
    std::string program = lookup_path(argv.at(0), env);
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        setpgid(0, 0);
        if (options.umask) ::umask(*options.umask);
        if (!options.stdin_file.empty()) {
            int fd = open(options.stdin_file.c_str(), O_RDONLY);
            if (fd < 0) _exit(126);
            dup2(fd, 0);
        } else {
            dup2(in_pipe[0], 0);
        }
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        std::vector<char*> args, envp;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    return Started(pid, in_pipe[1], out_pipe[0], err_pipe[0], options);
}

Started::Started(pid_t pid, int in, int out, int err, const RunOptions& options)
    : pid_(pid), in_(in), out_(out), err_(err), timeout_seconds_(options.timeout_seconds),
      started_at_(std::chrono::steady_clock::now()) {
    // Feed standard input while draining both outputs, so no pipe can fill up and block the child.
    to_write_ = options.stdin_file.empty() ? options.stdin_data : "";
    if (to_write_.empty()) {
        close(in_);
        in_ = -1;
    } else {
        fcntl(in_, F_SETFL, O_NONBLOCK);
    }
    signal(SIGPIPE, SIG_IGN);
}

Started::Started(Started&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), in_(std::exchange(other.in_, -1)), out_(std::exchange(other.out_, -1)),
      err_(std::exchange(other.err_, -1)), to_write_(std::move(other.to_write_)), written_(other.written_),
      timeout_seconds_(other.timeout_seconds_), so_far_(std::move(other.so_far_)), killed_(other.killed_),
      started_at_(other.started_at_) {}

Started::~Started() {
    if (pid_ < 0) return;
    kill(-pid_, SIGKILL);
    finish();
}

void Started::pump(const std::function<bool(const Run&)>* until, double seconds) {
    const auto kill_at = started_at_ + std::chrono::duration<double>(timeout_seconds_);
    const auto give_up_at = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (out_ >= 0 || err_ >= 0) {
        if (until && (*until)(so_far_)) return;
        const auto now = std::chrono::steady_clock::now();
        if (until && now > give_up_at) return;
        if (now > kill_at && !killed_) {
            kill(-pid_, SIGKILL);
            killed_ = true;
        }
        pollfd fds[3];
        int n = 0;
        if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
        if (err_ >= 0) fds[n++] = {err_, POLLIN, 0};
        if (in_ >= 0) fds[n++] = {in_, POLLOUT, 0};
        if (poll(fds, n, 100) <= 0) continue;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == in_) {
                ssize_t w = write(in_, to_write_.data() + written_, to_write_.size() - written_);
                if (w > 0) written_ += size_t(w);
                if (w < 0 || written_ == to_write_.size()) {
                    close(in_);
                    in_ = -1;
                }
                continue;
            }
            char buf[65536];
            ssize_t r = read(fds[i].fd, buf, sizeof buf);
            const bool is_out = fds[i].fd == out_;
            if (r > 0) {
                (is_out ? so_far_.out : so_far_.err).append(buf, size_t(r));
            } else {
                close(fds[i].fd);
                (is_out ? out_ : err_) = -1;
            }
        }
    }
}

bool Started::wait_for(const std::function<bool(const Run&)>& until, double seconds) {
    pump(&until, seconds);
    return until(so_far_);
}

Run Started::finish() {
    pump(nullptr, 0);
    if (in_ >= 0) close(in_);
    in_ = -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    Run result = std::move(so_far_);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

Run run(const std::vector<std::string>& argv, const RunOptions& options) { return start(argv, options).finish(); }

bool process_alive(pid_t pid) {
    if (kill(pid, 0) != 0) return false;
    // A zombie still answers kill; its state in /proc says it is done.
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close_paren = stat.rfind(')');
    return close_paren == std::string::npos || close_paren + 2 >= stat.size() || stat[close_paren + 2] != 'Z';
}

RunOptions hermetic_options(const fs::path& root, const std::optional<std::string>& path) {
    RunOptions options;
    options.env = {
        {"TUVREK_DISK_LSBLK_JSON", (root / "lsblk.json").string()},
        {"TUVREK_DISK_MOUNTINFO", (root / "mountinfo").string()},
        {"TUVREK_DISK_RUN_DIR", (root / "run").string()},
        {"TUVREK_DISK_AUTOMOUNT_CONF", (root / "automount.toml").string()},
        {"TUVREK_DISK_SYS_MODULE_DIR", (root / "sys-module").string()},
        {"TUVREK_MODULES_DIR", (root / "modules").string()},
        {"TUVREK_DISK_FILESYSTEMS", (root / "filesystems").string()},
    };
    if (path) options.env["PATH"] = *path;
    options.unset = {"SUDO_UID", "SUDO_GID", "PKEXEC_UID"};
    return options;
}

void use_machine(RunOptions& options, const std::string& name) {
    options.env.erase(name);
    options.unset.push_back(name);
}

void use_real_kernel(RunOptions& options) {
    for (const char* name :
         {"TUVREK_DISK_MOUNTINFO", "TUVREK_DISK_SYS_MODULE_DIR", "TUVREK_MODULES_DIR", "TUVREK_DISK_FILESYSTEMS"})
        use_machine(options, name);
}

std::string cli_binary() { return std::string(TUVREK_BIN_DIR) + "/tuvrek-disk"; }
std::string gui_binary() { return std::string(TUVREK_BIN_DIR) + "/brevane"; }

Run run_cli(const std::vector<std::string>& args, const RunOptions& options) { return start_cli(args, options).finish(); }

Started start_cli(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> argv{cli_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return start(argv, options);
}

std::string fixture_path(const std::string& name) { return std::string(TUVREK_FIXTURES_DIR) + "/" + name; }

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tuvrek-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const fs::path& path, const std::string& content) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string running_release() {
    std::string release = read_file("/proc/sys/kernel/osrelease");
    while (!release.empty() && (release.back() == '\n' || release.back() == ' ')) release.pop_back();
    return release;
}

std::vector<std::string> names_starting(const fs::path& folder, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) {
        const std::string name = item.path().filename().string();
        if (name.starts_with(prefix)) names.push_back(name);
    }
    return names;
}

namespace {
std::string shell_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}
}  // namespace

StandIns::StandIns(const fs::path& dir) : dir_(dir) {
    fs::create_directories(dir_ / "bin");
    fs::create_directories(dir_ / "calls");
}

void StandIns::add_script(const std::string& name, const std::string& body) {
    fs::path calls = dir_ / "calls" / name;
    std::string script = "#!/bin/sh\n"
                         "{ first=1; for a in \"$@\"; do if [ $first = 1 ]; then first=0; else printf '\\037'; fi; "
                         "printf '%s' \"$a\"; done; printf '\\n'; } >> " +
                         shell_quote(calls.string()) + "\n" + body + "\n";
    fs::path file = dir_ / "bin" / name;
    write_file(file, script);
    fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

void StandIns::add(const std::string& name, int exit_code, const std::string& err, const std::string& out) {
    std::string body;
    if (!out.empty()) body += "printf '%s\\n' " + shell_quote(out) + "\n";
    if (!err.empty()) body += "printf '%s\\n' " + shell_quote(err) + " >&2\n";
    body += "exit " + std::to_string(exit_code);
    add_script(name, body);
}

std::vector<std::vector<std::string>> StandIns::calls(const std::string& name) const {
    std::vector<std::vector<std::string>> result;
    std::string content = read_file(dir_ / "calls" / name);
    std::stringstream ss(content);
    std::string line;
    while (std::getline(ss, line)) {
        std::vector<std::string> args;
        if (!line.empty()) {
            size_t start = 0;
            while (true) {
                size_t sep = line.find('\x1f', start);
                args.push_back(line.substr(start, sep - start));
                if (sep == std::string::npos) break;
                start = sep + 1;
            }
        }
        result.push_back(args);
    }
    return result;
}

std::string StandIns::path_env() const {
    const char* path = std::getenv("PATH");
    return bin().string() + ":" + (path ? path : "/usr/bin:/bin");
}

void add_mount_table_standins(StandIns& stand) {
    // The lock is held for the change of the table alone, as short as the kernel's own: a stand-in that
    // held it longer would make runs at once take turns on its account.
    const std::string locked_copy =
        "table=$TUVREK_DISK_MOUNTINFO\n"
        "real=$(realpath -m -- \"$target\")\n"
        "exec 9>>\"$table.lock\"\n"
        "flock 9\n";
    stand.add_script("mount",
                     "prev=; opts=; device=; target=\n"
                     "for a; do [ \"$prev\" = -o ] && opts=$a; prev=$a; device=$target; target=$a; done\n"
                     "case $opts in ro | ro,*) mode=ro ;; *) mode=rw ;; esac\n" +
                         locked_copy +
                         // One write of one line: a reader sees the table without it or with all of it.
                         "printf '%s 1 8:1 / %s %s,relatime - ext4 %s %s\\n' $$ \"$real\" $mode \"$device\" $mode "
                         ">> \"$table\"");
    stand.add_script("umount",
                     "for a; do target=$a; done\n" + locked_copy +
                         "line=$(awk -v t=\"$real\" '$5 == t { n = NR } END { print n + 0 }' \"$table\")\n"
                         "if [ \"$line\" = 0 ]; then echo \"umount: $target: not mounted.\" >&2; exit 32; fi\n"
                         "awk -v n=\"$line\" 'NR != n' \"$table\" > \"$table.$$\"\n"
                         "mv \"$table.$$\" \"$table\"");
}

void ScopedEnv::set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
    // Newest first, so a variable set twice ends as it was before the first set.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
        else unsetenv(it->first.c_str());
    }
}

ScopedFileSizeLimit::ScopedFileSizeLimit(rlim_t bytes) {
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old_action_);
    getrlimit(RLIMIT_FSIZE, &old_limit_);
    rlimit lowered = old_limit_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_limit_);
    sigaction(SIGXFSZ, &old_action_, nullptr);
}

}  // namespace tuvrek::test
