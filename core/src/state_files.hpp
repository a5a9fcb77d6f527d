#pragma once
// The state files and their folders. A file is replaced whole: the content goes to a new temporary
// file beside it, is flushed to disk and renamed over the old one, so a crash, a full disk or another
// run writing at the same time leaves the old file or a new one, never a cut or mixed one. Files are
// 0644 and folders 0755 whatever the umask: root writes them, everyone reads them, no one else
// changes them.

#include <filesystem>
#include <string>
#include <string_view>

#include "tuvrek/result.hpp"

namespace tuvrek {

// TUVREK_DISK_RUN_DIR when it is set (to any value), else /run/tuvrek-disk: mounts.json and the lock.
std::filesystem::path run_folder();

enum class Links { Follow, Refuse };

// mkdir -p, one component at a time from "/" (or the working folder for a relative path); each folder
// made gets mode 0755 whatever the umask. With Links::Refuse a symbolic link on the way fails the call
// (ELOOP or ENOTDIR). Gives whether the last component was made here, or the errno.
Result<bool, int> make_folders(std::string_view folder, Links links);

struct ReplaceError {
    enum class Step { Write, Rename };
    Step step;              // Write: the temporary file failed; Rename: putting it in place did
    int errnum;
    std::string temporary;  // the temporary file's path, for the message of a failed write
};

// The temporary file is `temporary` followed by a unique suffix, created exclusively (never through
// a symbolic link or over a file that is there), so it must name a file in the folder of path: a
// rename never crosses filesystems. After a failure no temporary file of ours is left.
Result<void, ReplaceError> replace_file(const std::string& path, const std::string& temporary,
                                        std::string_view content);

}  // namespace tuvrek
