#include "tuvrek/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <string_view>
#include <utility>

#include "tuvrek/text.hpp"
#include "tuvrek/unique_fd.hpp"

extern char** environ;

namespace tuvrek {
namespace {

// The child being waited for (0: none), and the first signal passed on, both read by signal handlers.
std::atomic<pid_t> g_child{0};
std::atomic<int> g_forwarded{0};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

// Every signal that can be blocked held back while the child's process id is published or withdrawn,
// so a handler never sees a child that isn't there yet or is gone; what came meanwhile arrives after.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &old_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t old_;
};

// Every category that LC_ALL overrides, but messages.
constexpr std::array<std::string_view, 11> kLocaleCategories = {
    "LC_CTYPE", "LC_NUMERIC", "LC_TIME",      "LC_COLLATE",     "LC_MONETARY",       "LC_PAPER",
    "LC_NAME",  "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION",
};

std::string_view variable_name(std::string_view item) { return item.substr(0, item.find('=')); }

// Our environment with messages in the C locale: what a child says is read and matched ("target is
// busy"), so it must not be translated. Only messages change: an LC_ALL, which would override
// LC_MESSAGES, is spread over the other categories, so UTF-8 names, dates and numbers stay as the
// user has them. gettext ignores LANGUAGE under the C locale.
std::vector<std::string> child_environment() {
    std::vector<std::string> env;
    std::string_view all;
    for (char** item = environ; *item != nullptr; ++item) {
        const std::string_view text = *item;
        const std::string_view name = variable_name(text);
        if (name == "LC_ALL") all = text.substr(std::min(text.size(), name.size() + 1));
        else if (name != "LC_MESSAGES") env.emplace_back(text);
    }
    // An empty LC_ALL counts as unset.
    if (!all.empty()) {
        std::erase_if(env, [](const std::string& item) {
            return std::find(kLocaleCategories.begin(), kLocaleCategories.end(), variable_name(item)) !=
                   kLocaleCategories.end();
        });
        for (const std::string_view category : kLocaleCategories) {
            env.push_back(std::string(category) + "=" + std::string(all));
        }
    }
    env.emplace_back("LC_MESSAGES=C");
    return env;
}

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

// Close-on-exec in the parent, so no other child started meanwhile keeps our ends open.
int open_pipe(Pipe& pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
    pipe.read = UniqueFd(fds[0]);
    pipe.write = UniqueFd(fds[1]);
    return 0;
}

// A posix_spawn settings object, destroyed when the holder goes.
template <class T, int (*Init)(T*), int (*Destroy)(T*)>
class SpawnObject {
public:
    SpawnObject() { ok_ = Init(&object_) == 0; }
    ~SpawnObject() {
        if (ok_) Destroy(&object_);
    }
    SpawnObject(const SpawnObject&) = delete;
    SpawnObject& operator=(const SpawnObject&) = delete;
    bool ok() const { return ok_; }
    T* get() { return &object_; }

private:
    T object_;
    bool ok_ = false;
};
using FileActions =
    SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init, posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

WaitStatus to_wait_status(int raw) {
    WaitStatus status;
    if (WIFEXITED(raw)) {
        status.exited = true;
        status.code = WEXITSTATUS(raw);
    } else {
        status.exited = false;
        status.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
        status.core_dumped = WIFSIGNALED(raw) && WCOREDUMP(raw);
    }
    return status;
}

// Reads every captured stream to its end at once, so a child filling one pipe never blocks
// while we wait on the other. Returns 0 or the errno of a failed poll or read.
int drain(std::array<std::pair<UniqueFd*, std::string*>, 2> streams) {
    std::array<char, 65536> buffer;
    for (;;) {
        std::array<pollfd, 2> fds{};
        std::array<std::size_t, 2> which{};
        nfds_t count = 0;
        for (std::size_t s = 0; s < streams.size(); ++s) {
            if (*streams[s].first) {
                fds[count] = pollfd{streams[s].first->get(), POLLIN, 0};
                which[count] = s;
                ++count;
            }
        }
        if (count == 0) return 0;
        if (::poll(fds.data(), count, -1) < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (nfds_t f = 0; f < count; ++f) {
            if (fds[f].revents == 0) continue;
            auto& [fd, sink] = streams[which[f]];
            const ssize_t got = ::read(fd->get(), buffer.data(), buffer.size());
            if (got > 0) {
                sink->append(buffer.data(), static_cast<std::size_t>(got));
            } else if (got == 0) {
                fd->reset();
            } else if (errno != EINTR && errno != EAGAIN) {
                return errno;
            }
        }
    }
}

// The null-ended array that posix_spawn takes; the texts must outlive it.
std::vector<char*> c_string_array(const std::vector<std::string>& texts) {
    std::vector<char*> array;
    array.reserve(texts.size() + 1);
    for (const auto& text : texts) array.push_back(const_cast<char*>(text.c_str()));
    array.push_back(nullptr);
    return array;
}

// Started with every signal held back, so that a handler sees the child's id from its first moment: a
// signal that comes meanwhile arrives once it is published, and is passed on to it. None is started
// once a signal was passed on, unless the caller finishes up (after_signal).
int start_child(pid_t& pid, const std::vector<char*>& args, const std::vector<char*>& envp, FileActions& actions,
                SpawnAttributes& attributes, bool after_signal) {
    // The child starts with default signal handling and nothing blocked, whatever the caller set up.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(attributes.get(), &all);
    posix_spawnattr_setsigmask(attributes.get(), &none);
    posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    SignalsHeld held;
    if (g_forwarded.load() != 0 && !after_signal) return EINTR;
    const int error = posix_spawnp(&pid, args[0], actions.get(), attributes.get(), args.data(), envp.data());
    if (error == 0) g_child.store(pid);
    return error;
}

// Waited for first without reaping: until it is reaped its process id stays its own, so a signal
// passed on meanwhile can't reach a process that got the same number.
int wait_for(pid_t pid, int& raw) {
    int error = 0;
    for (;;) {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) == 0) break;
        if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    SignalsHeld held;
    g_child.store(0);
    if (error != 0) return error;
    for (;;) {
        if (::waitpid(pid, &raw, 0) == pid) return 0;
        if (errno != EINTR) return errno;
    }
}

}  // namespace

Result<ProcessOutput, int> run_process(const std::vector<std::string>& argv, const SpawnOptions& options) {
    if (argv.empty()) return fail(EINVAL);
    // The C calls would see each argument only up to a NUL: refused rather than passed on cut.
    if (std::any_of(argv.begin(), argv.end(), [](const std::string& arg) { return holds_nul(arg); })) {
        return fail(EINVAL);
    }

    FileActions actions;
    SpawnAttributes attributes;
    if (!actions.ok() || !attributes.ok()) return fail(ENOMEM);

    // Standard input has nothing to capture: anything but Inherit gives the child /dev/null.
    if (options.in != Stream::Inherit) {
        if (int e = posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0)) {
            return fail(e);
        }
    }

    Pipe out_pipe;
    Pipe err_pipe;
    auto set_up_output = [&](Stream stream, int target, Pipe& pipe) -> int {
        switch (stream) {
            case Stream::Inherit:
                return 0;
            case Stream::Null:
                return posix_spawn_file_actions_addopen(actions.get(), target, "/dev/null", O_WRONLY, 0);
            case Stream::Capture:
                if (int e = open_pipe(pipe)) return e;
                return posix_spawn_file_actions_adddup2(actions.get(), pipe.write.get(), target);
            case Stream::ToStderr:
                // Standard error joined to itself is simply inherited.
                if (target == STDERR_FILENO) return 0;
                return posix_spawn_file_actions_adddup2(actions.get(), STDERR_FILENO, target);
        }
        return 0;
    };
    if (int e = set_up_output(options.out, STDOUT_FILENO, out_pipe)) return fail(e);
    if (int e = set_up_output(options.err, STDERR_FILENO, err_pipe)) return fail(e);

    const std::vector<char*> args = c_string_array(argv);
    const std::vector<std::string> env = child_environment();
    const std::vector<char*> envp = c_string_array(env);

    pid_t pid = -1;
    const int spawn_error = start_child(pid, args, envp, actions, attributes, options.after_signal);
    out_pipe.write.reset();
    err_pipe.write.reset();
    if (spawn_error != 0) return fail(spawn_error);

    ProcessOutput output;
    const int drain_error = drain({std::pair{&out_pipe.read, &output.out}, std::pair{&err_pipe.read, &output.err}});
    // Closing our ends first means a child still writing gets EPIPE instead of hanging the wait.
    out_pipe.read.reset();
    err_pipe.read.reset();
    int raw = 0;
    const int wait_error = wait_for(pid, raw);
    if (drain_error != 0) return fail(drain_error);
    if (wait_error != 0) return fail(wait_error);
    output.status = to_wait_status(raw);
    return output;
}

void forward_signal_to_child(int signal, bool child_has_it) {
    int none = 0;
    g_forwarded.compare_exchange_strong(none, signal);
    const pid_t child = g_child.load();
    // The code the handler interrupted may be about to read errno.
    const int saved_errno = errno;
    if (child > 0 && !child_has_it) ::kill(child, signal);
    errno = saved_errno;
}

std::string describe_wait_status(const WaitStatus& status) {
    if (status.exited) return "exit status: " + std::to_string(status.code);
    static constexpr std::pair<int, const char*> kNames[] = {
        {SIGHUP, "SIGHUP"},     {SIGINT, "SIGINT"},       {SIGQUIT, "SIGQUIT"},     {SIGILL, "SIGILL"},
        {SIGTRAP, "SIGTRAP"},   {SIGABRT, "SIGABRT"},     {SIGBUS, "SIGBUS"},       {SIGFPE, "SIGFPE"},
        {SIGKILL, "SIGKILL"},   {SIGUSR1, "SIGUSR1"},     {SIGSEGV, "SIGSEGV"},     {SIGUSR2, "SIGUSR2"},
        {SIGPIPE, "SIGPIPE"},   {SIGALRM, "SIGALRM"},     {SIGTERM, "SIGTERM"},     {SIGSTKFLT, "SIGSTKFLT"},
        {SIGCHLD, "SIGCHLD"},   {SIGCONT, "SIGCONT"},     {SIGSTOP, "SIGSTOP"},     {SIGTSTP, "SIGTSTP"},
        {SIGTTIN, "SIGTTIN"},   {SIGTTOU, "SIGTTOU"},     {SIGURG, "SIGURG"},       {SIGXCPU, "SIGXCPU"},
        {SIGXFSZ, "SIGXFSZ"},   {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},     {SIGWINCH, "SIGWINCH"},
        {SIGIO, "SIGIO"},       {SIGPWR, "SIGPWR"},       {SIGSYS, "SIGSYS"},
    };
    std::string text = "signal: " + std::to_string(status.signal);
    if (status.signal >= 1 && status.signal <= 31) {
        for (const auto& [number, name] : kNames) {
            if (number == status.signal) {
                text += " (";
                text += name;
                text += ")";
                break;
            }
        }
    }
    if (status.core_dumped) text += " (core dumped)";
    return text;
}

std::optional<std::string> self_executable_path() {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        const ssize_t got = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (got < 0) return std::nullopt;
        if (static_cast<std::size_t>(got) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(got));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);  // possibly cut: try again with more room
    }
}

}  // namespace tuvrek
