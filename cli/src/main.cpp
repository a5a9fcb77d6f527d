// tuvrek-disk: parse, apply the privilege rule, dispatch, print, exit.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "automount.hpp"
#include "change_lock.hpp"
#include "cli.hpp"
#include "interruption.hpp"
#include "list.hpp"
#include "mount.hpp"
#include "privilege.hpp"
#include "reply.hpp"
#include "unmount.hpp"

namespace tuvrek {
namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// Whether the subcommand may run with the rights this process has; the effective user is asked last.
bool may_run_now(const Cli& cli) {
    auto elevated_or_root = [&] { return cli.elevated || geteuid() == 0; };
    return std::visit(
        Overloaded{
            [](const command::List&) { return true; },
            [](const command::Plan&) { return true; },
            [&](const command::Mount& c) { return cli.elevated || c.args.dry_run || geteuid() == 0; },
            [&](const command::Unmount&) { return elevated_or_root(); },
            [&](const AutomountCommand& a) {
                return std::holds_alternative<automount_command::List>(a) || elevated_or_root();
            },
        },
        cli.command);
}

// Whether the run changes the machine or the state files: it then holds the lock and finishes its
// bookkeeping when interrupted. Readers and dry runs change nothing.
bool changes_state(const Cli& cli) {
    return std::visit(
        Overloaded{
            [](const command::List&) { return false; },
            [](const command::Plan&) { return false; },
            [](const command::Mount& c) { return !c.args.dry_run; },
            [](const command::Unmount&) { return true; },
            [](const AutomountCommand& a) {
                if (const auto* add = std::get_if<automount_command::Add>(&a)) return !add->args.dry_run;
                return !std::holds_alternative<automount_command::List>(a);
            },
        },
        cli.command);
}

Result<void, CliError> dispatch(const Cli& cli) {
    const bool json = cli.json;
    return std::visit(
        Overloaded{
            [&](const command::List& c) { return run_list(json, c.all); },
            [&](const command::Mount& c) { return run_mount(json, c.args); },
            [&](const command::Unmount& c) { return run_unmount(json, c.target, c.lazy); },
            [&](const command::Plan& c) { return run_plan(json, c.args); },
            [&](const AutomountCommand& a) {
                return std::visit(Overloaded{
                                      [&](const automount_command::Add& c) { return run_automount_add(json, c.args); },
                                      [&](const automount_command::Remove& c) {
                                          return run_automount_remove(json, c.target);
                                      },
                                      [&](const automount_command::List&) { return run_automount_list(json); },
                                      [&](const automount_command::Run&) { return run_automount_run(json); },
                                  },
                                  a);
            },
        },
        cli.command);
}

// A standard stream the caller closed would otherwise be taken by the next file opened (a state file,
// a pipe to a child), and the reply written into it.
void keep_standard_streams_open() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1) continue;
        int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

}  // namespace
}  // namespace tuvrek

int main(int argc, char** argv) {
    // A reader that goes away (tuvrek-disk list | head -1) makes writes fail instead of killing the run.
    signal(SIGPIPE, SIG_IGN);
    tuvrek::keep_standard_streams_open();

    std::vector<std::string> received(argv, argv + argc);
    auto parsed = tuvrek::parse_command_line(tuvrek::expand_rw_shorthand(received));
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const tuvrek::Cli& cli = std::get<tuvrek::Cli>(parsed);

    if (!tuvrek::may_run_now(cli)) return tuvrek::rerun_with_sudo(cli.json, received);

    // Held to the end of main: the reply, a failure's too, is printed under it.
    std::optional<tuvrek::StateLock> lock;
    if (tuvrek::changes_state(cli)) {
        tuvrek::catch_interruptions();
        auto locked = tuvrek::lock_for_change();
        if (!locked) return tuvrek::print_error(cli.json, std::move(locked).error());
        lock = std::move(*locked);
    }

    tuvrek::Result<void, tuvrek::CliError> result = tuvrek::dispatch(cli);
    if (!result) return tuvrek::print_error(cli.json, std::move(result).error());
    return 0;
}
