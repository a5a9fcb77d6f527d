#include "state_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tuvrek/text.hpp"
#include "tuvrek/unique_fd.hpp"

namespace tuvrek {
namespace {

constexpr mode_t kFileMode = 0644;
constexpr mode_t kFolderMode = 0755;

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

// The rename itself reaches the disk only with its folder: 0 or the errno. A folder that can't be
// opened, or a filesystem that can't flush one, leaves it to the kernel.
int sync_folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return 0;
    if (::fsync(fd.get()) != 0 && errno != EINVAL) return errno;
    return 0;
}

}  // namespace

std::filesystem::path run_folder() {
    const char* override_dir = std::getenv("TUVREK_DISK_RUN_DIR");
    return override_dir ? std::filesystem::path(override_dir) : std::filesystem::path("/run/tuvrek-disk");
}

Result<bool, int> make_folders(std::string_view folder, Links links) {
    if (holds_nul(folder)) return fail(EINVAL);
    const int follow = links == Links::Refuse ? O_NOFOLLOW : 0;
    UniqueFd dir(::open(folder.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return fail(errno);

    bool made = false;
    std::size_t i = 0;
    while (i < folder.size()) {
        const std::size_t end = std::min(folder.find('/', i), folder.size());
        const std::string name(folder.substr(i, end - i));
        i = end + 1;
        if (name.empty() || name == ".") continue;

        made = false;
        // O_DIRECTORY with O_NOFOLLOW: a link, to a folder or not, is refused (ENOTDIR).
        UniqueFd next(::openat(dir.get(), name.c_str(), O_PATH | O_DIRECTORY | follow | O_CLOEXEC));
        if (!next && errno == ENOENT) {
            if (::mkdirat(dir.get(), name.c_str(), kFolderMode) == 0) {
                made = true;
            } else if (errno != EEXIST) {  // EEXIST: another run made it first, and it is not ours
                return fail(errno);
            }
            // Opened again without following: a link swapped in for the new folder fails here (ELOOP).
            next = UniqueFd(::openat(dir.get(), name.c_str(),
                                     (made ? O_RDONLY : O_PATH) | O_DIRECTORY | follow | O_CLOEXEC));
            if (!next) return fail(errno);
            // mkdir took the umask off; readers of every user need to get in.
            if (made && ::fchmod(next.get(), kFolderMode) != 0) return fail(errno);
        } else if (!next) {
            return fail(errno);
        }
        dir = std::move(next);
    }
    return made;
}

Result<void, ReplaceError> replace_file(const std::string& path, const std::string& temporary,
                                        std::string_view content) {
    using Step = ReplaceError::Step;
    // Unique and made with O_EXCL: a link or a file planted at any name is never followed or cut, and
    // runs writing at the same time never share one.
    std::string name = temporary + ".XXXXXX";
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    // Nothing was made, so nothing is removed: the name may belong to something else.
    if (!fd) return fail(ReplaceError{Step::Write, errno, std::move(name)});

    auto give_up = [&name](Step step, int errnum) {
        ::unlink(name.c_str());
        return fail(ReplaceError{step, errnum, name});
    };
    // mkostemp makes it 0600.
    if (::fchmod(fd.get(), kFileMode) != 0) return give_up(Step::Write, errno);
    if (const int error = write_all(fd.get(), content)) return give_up(Step::Write, error);
    // Flushed before the rename: after a power loss the file is then the old one or the new one.
    if (::fsync(fd.get()) != 0) return give_up(Step::Write, errno);
    if (const int error = fd.close()) return give_up(Step::Write, error);
    if (::rename(name.c_str(), path.c_str()) != 0) return give_up(Step::Rename, errno);
    if (const int error = sync_folder_of(path)) return fail(ReplaceError{Step::Rename, error, name});
    return Ok{};
}

}  // namespace tuvrek
