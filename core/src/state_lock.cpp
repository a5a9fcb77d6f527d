#include "tuvrek/state_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "state_files.hpp"

namespace tuvrek {
namespace {

// The lock file, made 0644 when this run creates it. Never through a symbolic link, and without
// blocking on a FIFO planted there; close-on-exec, so no program started while it is held keeps it.
int open_lock_file(const std::string& path) {
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int made = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
        if (made >= 0) {
            if (::fchmod(made, 0644) != 0) {
                const int error = errno;
                ::close(made);
                errno = error;
                return -1;
            }
            return made;
        }
        if (errno != EEXIST) return -1;
        const int existing = ::open(path.c_str(), kFlags);
        if (existing >= 0 || errno != ENOENT) return existing;
        // Removed between the two calls: make it again.
    }
    errno = ENOENT;
    return -1;
}

}  // namespace

std::string state_lock_path() { return (run_folder() / "lock").string(); }

Result<StateLock, int> lock_state(const std::function<void()>& on_wait) {
    const std::filesystem::path folder = run_folder();
    if (!folder.empty()) {
        if (auto made = make_folders(folder.string(), Links::Follow); !made) return fail(made.error());
    }
    UniqueFd fd(open_lock_file(state_lock_path()));
    if (!fd) return fail(errno);

    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return fail(errno);
        if (on_wait) on_wait();
        // Not retried on EINTR: a signal while waiting is the caller's to act on.
        if (::flock(fd.get(), LOCK_EX) != 0) return fail(errno);
    }
    return StateLock(std::move(fd));
}

}  // namespace tuvrek
