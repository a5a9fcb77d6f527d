#pragma once
// Reading a whole file, /proc files included (they report a size of 0).

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tuvrek/result.hpp"

namespace tuvrek {

// The file's bytes, or the errno of the failed open or read.
inline Result<std::string, int> read_whole_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            return fail(error);
        }
    }
    ::close(fd);
    return content;
}

}  // namespace tuvrek
