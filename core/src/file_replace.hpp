#pragma once
// Replacing a state file whole: the content goes to a temporary file beside it, is flushed to disk
// and renamed over the old one, so a crash or a full disk leaves the old file or the new one,
// never a cut one.

#include <string>
#include <string_view>

#include "tuvrek/result.hpp"

namespace tuvrek {

struct ReplaceError {
    enum class Step { Write, Rename };
    Step step;  // Write: the temporary file failed; Rename: putting it in place did
    int errnum;
};

// The temporary file must sit in the folder of path, as a rename never crosses filesystems; a new
// one gets mode 0666 less the umask. After a failure no temporary file of ours is left.
Result<void, ReplaceError> replace_file(const std::string& path, const std::string& temporary,
                                        std::string_view content);

}  // namespace tuvrek
