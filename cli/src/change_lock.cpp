#include "change_lock.hpp"

#include <signal.h>
#include <sys/time.h>

#include <cerrno>
#include <string>

#include "interruption.hpp"
#include "reply.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

void wake(int) {}

// While waiting for the lock, a timer ends the wait every tenth of a second (EINTR) for a look at
// whether this run was interrupted: a signal that comes just before the wait begins would otherwise
// be seen only once the other run is done.
class Wakeups {
public:
    void start() {
        if (started_) return;
        struct sigaction action {};
        action.sa_handler = wake;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, nullptr);
        const itimerval every{{0, 100'000}, {0, 100'000}};
        setitimer(ITIMER_REAL, &every, nullptr);
        started_ = true;
    }
    // The handler stays: one last tick on its way would otherwise end the run.
    ~Wakeups() {
        if (!started_) return;
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
    }

private:
    bool started_ = false;
};

}  // namespace

Result<std::optional<StateLock>, CliError> lock_for_change() {
    Wakeups wakeups;
    bool told = false;
    auto on_wait = [&] {
        if (!told) print_line(true, "Waiting for another tuvrek-disk to finish…");
        told = true;
        wakeups.start();
    };
    for (;;) {
        if (interrupted()) return fail(interrupted_error("Nothing was changed."));
        auto locked = lock_state(on_wait);
        if (locked) return std::optional<StateLock>(std::move(*locked));
        const int error = locked.error();
        if (error == EINTR) continue;  // a wakeup, or the signal looked at above
        print_warning("Going on without the lock " + state_lock_path() + " (" + os_error_text(error) +
                      "): a tuvrek-disk running at the same time could undo what this one changes.");
        return std::optional<StateLock>();
    }
}

}  // namespace tuvrek
