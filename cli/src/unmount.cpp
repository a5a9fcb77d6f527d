// unmount: detach a mounted partition, explain a busy one, and remove the folder this system made for it.
#include "unmount.hpp"

#include <unistd.h>

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "external_commands.hpp"
#include "partition_arg.hpp"
#include "reply.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/process.hpp"
#include "tuvrek/records.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

// The folders of the running system. Compared after trailing slashes are gone, so "/" and "//"
// arrive here as the empty text.
bool is_system_target(const std::string& target) {
    return target.empty() || has_system_mountpoint(std::span(&target, 1));
}

Result<std::string, CliError> derive_target(std::string_view argument) {
    if (argument.substr(0, 5) != "/dev/") return std::string(strip_trailing_slashes(argument));
    auto partition = find_partition_arg(argument);
    if (!partition) return fail(std::move(partition).error());
    if (partition->mountpoints.empty())
        return fail(cli_error("not-mounted", std::string(argument) + " isn't mounted.", 1));
    return partition->mountpoints.front();
}

// What lsof says about the holders of the target, ready to append to the busy message.
std::string busy_suffix(const std::string& target) {
    auto lsof = run_process({"lsof", "+f", "--", target},
                            SpawnOptions{.in = Stream::Null, .out = Stream::Capture, .err = Stream::Capture});
    if (!lsof) return "\nInstall lsof to see what's using it.";
    std::string users = trim_white_space(lossy_utf8(lsof->out));
    if (users.empty()) return "";
    return "\n\nUsing it:\n" + users;
}

}  // namespace

Result<void, CliError> run_unmount(bool json, const std::string& argument, bool lazy) {
    auto derived = derive_target(argument);
    if (!derived) return fail(std::move(derived).error());
    // Kept in the result, not moved out: g++ 12 at -O3 wrongly warns that such a string may be uninitialized.
    const std::string& target = *derived;

    // umount would read a leading "-" as an option: "--all" would detach every filesystem.
    if (target.starts_with('-')) return fail(plan_error_message(PlanError{PlanError::Kind::FolderNotAbsolute}));
    if (is_system_target(target))
        return fail(cli_error("system-partition", argument + " is part of the running system.", 3));

    std::vector<std::string> argv{"umount"};
    if (lazy) argv.push_back("-l");
    argv.push_back(target);
    auto unmounted = run_command(json, argv, true);
    if (!unmounted) {
        const std::string& reason = unmounted.error();
        if (reason.find("busy") != std::string::npos)
            return fail(cli_error("busy",
                                  target +
                                      " is in use. Close the terminals, file managers and programs using it and try "
                                      "again, or use --lazy to detach it as soon as they're done." +
                                      busy_suffix(target),
                                  5));
        return fail(cli_error("unmount-failed", "Unmounting " + target + " failed: " + reason, 5));
    }

    // The unmount stands whatever happens to the record or the folder.
    auto record = take_record(target);
    if (record && record->has_value() && (*record)->created_dir) (void)::rmdir(target.c_str());

    print_success(json, "Unmounted " + target + ".", nlohmann::json{{"target", target}});
    return {};
}

}  // namespace tuvrek
