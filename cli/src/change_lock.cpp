#include "change_lock.hpp"

#include <cerrno>
#include <filesystem>
#include <string>

#include "interruption.hpp"
#include "reply.hpp"
#include "tuvrek/records.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {

Result<std::optional<StateLock>, CliError> lock_for_change() {
    bool told = false;
    auto say_waiting = [&told] {
        if (!told) print_line(true, "Waiting for another tuvrek-disk to finish…");
        told = true;
    };
    for (;;) {
        auto locked = lock_state(say_waiting);
        if (locked) return std::optional<StateLock>(std::move(*locked));
        const int error = locked.error();
        if (error == EINTR) {
            if (interrupted()) return fail(interrupted_error("Nothing was changed."));
            continue;  // a signal this run doesn't stop for
        }
        const std::string lock = (std::filesystem::path(records_path()).parent_path() / "lock").string();
        print_warning("Going on without the lock " + lock + " (" + os_error_text(error) +
                      "): a tuvrek-disk running at the same time could undo what this one changes.");
        return std::optional<StateLock>();
    }
}

}  // namespace tuvrek
