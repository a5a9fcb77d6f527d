#include "file_replace.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "unique_fd.hpp"

namespace tuvrek {
namespace {

// 0 or the errno.
int write_all(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t put = ::write(fd, content.data(), content.size());
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        content.remove_prefix(static_cast<std::size_t>(put));
    }
    return 0;
}

}  // namespace

Result<void, ReplaceError> replace_file(const std::string& path, const std::string& temporary,
                                        std::string_view content) {
    UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    // Nothing was made, so nothing is removed: the name may belong to something else.
    if (!fd) return fail(ReplaceError{ReplaceError::Step::Write, errno});

    auto give_up = [&temporary](ReplaceError::Step step, int errnum) {
        ::unlink(temporary.c_str());
        return fail(ReplaceError{step, errnum});
    };
    if (const int error = write_all(fd.get(), content)) return give_up(ReplaceError::Step::Write, error);
    // Flushed before the rename: after a power loss the file is then the old one or the new one.
    if (::fsync(fd.get()) != 0) return give_up(ReplaceError::Step::Write, errno);
    if (const int error = fd.close()) return give_up(ReplaceError::Step::Write, error);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return give_up(ReplaceError::Step::Rename, errno);
    return Ok{};
}

}  // namespace tuvrek
