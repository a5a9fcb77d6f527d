#pragma once
// One change at a time: the lock every run that changes the machine or the state files holds.

#include <functional>
#include <string>
#include <utility>

#include "tuvrek/result.hpp"
#include "tuvrek/unique_fd.hpp"

namespace tuvrek {

// The exclusive lock that serialises every change to the machine and to the state files: flock on
// "lock" in the run folder (TUVREK_DISK_RUN_DIR or /run/tuvrek-disk, made 0755 whatever the umask;
// the lock file 0644, opened without following a symbolic link). Held until the StateLock goes.
// Programs started meanwhile don't inherit it, so a daemon such as apfs-fuse never keeps it.
class StateLock {
private:
    explicit StateLock(UniqueFd fd) : fd_(std::move(fd)) {}
    friend Result<StateLock, int> lock_state(const std::function<void()>& on_wait);

    // Closing the only descriptor of the open file releases the lock.
    UniqueFd fd_;
};

// The lock file: "lock" in the run folder.
std::string state_lock_path();

// on_wait runs once, before blocking, when another run holds it. The error is the errno (EINTR when a
// signal interrupted the wait).
Result<StateLock, int> lock_state(const std::function<void()>& on_wait);

}  // namespace tuvrek
