#include "whole_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "tuvrek/unique_fd.hpp"

namespace tuvrek {

Result<std::string, int> read_whole_file(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return fail(errno);
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got > 0) {
            content.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            return content;
        } else if (errno != EINTR) {
            return fail(errno);
        }
    }
}

}  // namespace tuvrek
