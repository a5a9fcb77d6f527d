// unmount: detach a mounted partition, explain a busy one, and remove the folder this system made for it.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "commands.hpp"
#include "exec.hpp"
#include "execute.hpp"
#include "reply.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/process.hpp"
#include "tuvrek/records.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

// Compared after trailing slashes are gone, so "/" and "//" arrive here as the empty text.
constexpr std::array<std::string_view, 9> SYSTEM_TARGETS = {
    "", "/", "/efi", "/var", "/usr", "/boot", "/home", "[SWAP]", "/boot/efi"};

bool is_system_target(std::string_view target) {
    return std::find(SYSTEM_TARGETS.begin(), SYSTEM_TARGETS.end(), target) != SYSTEM_TARGETS.end();
}

Result<std::string, CliError> derive_target(std::string_view argument) {
    if (argument.substr(0, 5) != "/dev/") return std::string(strip_trailing_slashes(argument));
    auto drives = list_drives();
    if (!drives) return fail(cli_error("lsblk", drives.error(), 1));
    auto partition = resolve_partition_arg(*drives, argument);
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

CommandResult run_unmount(bool json, const std::string& argument, bool lazy) {
    auto derived = derive_target(argument);
    if (!derived) return fail(std::move(derived).error());
    const std::string target = std::move(derived).value();

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
