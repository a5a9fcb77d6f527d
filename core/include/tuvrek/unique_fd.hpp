#pragma once
// A file descriptor with one owner: closed when the holder goes, handed on only by moving.

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tuvrek {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // For a file just written: a failing close can be the first sign of a lost write, so it is
    // reported (0 or the errno) instead of dropped. On Linux the descriptor is gone even after EINTR.
    int close() {
        const int rc = ::close(std::exchange(fd_, -1));
        return rc == 0 || errno == EINTR ? 0 : errno;
    }

private:
    int fd_ = -1;
};

}  // namespace tuvrek
