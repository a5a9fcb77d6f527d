// unmount: detach a mounted partition, explain a busy one, and remove the folder this system made for it.
#include "unmount.hpp"

#include <unistd.h>

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "external_commands.hpp"
#include "interruption.hpp"
#include "partition_arg.hpp"
#include "reply.hpp"
#include "tuvrek/folder_path.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/mountinfo.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/process.hpp"
#include "tuvrek/records.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

constexpr std::string_view kNothingUnmounted = "Nothing was unmounted.";

// A folder argument as the kernel will take it: relative to the working folder, then canonical, so
// "cd / && tuvrek-disk unmount ." names "/" and is refused like it.
Result<std::string, CliError> folder_target(std::string_view argument) {
    if (argument.front() == '/') return canonical_folder(argument);
    std::error_code error;
    const std::filesystem::path working = std::filesystem::current_path(error);
    if (error) return fail(plan_error_message(PlanError{PlanError::Kind::FolderNotAbsolute}));
    return canonical_folder(working.string() + "/" + std::string(argument));
}

// A partition's first mount point, as the kernel reports it.
Result<std::string, CliError> partition_target(std::string_view argument) {
    auto partition = find_partition_arg(argument);
    if (!partition) return fail(std::move(partition).error());
    if (partition->mountpoints.empty())
        return fail(cli_error("not-mounted", std::string(argument) + " isn't mounted.", 1));
    return partition->mountpoints.front();
}

Result<std::string, CliError> derive_target(const std::string& argument) {
    // umount would read a leading "-" as an option: "--all" would detach every filesystem. Nor is an
    // empty argument a folder (joined to the working folder it would name that).
    if (argument.empty() || argument.starts_with('-'))
        return fail(plan_error_message(PlanError{PlanError::Kind::FolderNotAbsolute}));
    auto target = argument.starts_with("/dev/") ? partition_target(argument) : folder_target(argument);
    if (!target) return target;
    // [SWAP] is a partition's mount point too, in lsblk's words.
    if (is_system_folder(*target) || has_system_mountpoint(std::span(&*target, 1)))
        return fail(cli_error("system-partition", argument + " is part of the running system.", 3));
    return target;
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

CliError unmount_failed_error(const std::string& target, const std::string& reason) {
    if (reason.find("busy") != std::string::npos)
        return cli_error("busy",
                         target +
                             " is in use. Close the terminals, file managers and programs using it and try "
                             "again, or use --lazy to detach it as soon as they're done." +
                             busy_suffix(target),
                         5);
    return cli_error("unmount-failed", "Unmounting " + target + " failed: " + reason, 5);
}

// The unmount stands whatever happens to the record or the folder.
void forget_mount(const std::string& target) {
    auto record = take_record(target);
    if (!record) {
        print_warning(target + " is unmounted, but its record in " + records_path() +
                      " couldn't be taken out: " + record.error());
        return;
    }
    if (record->has_value() && (*record)->created_dir) (void)::rmdir(target.c_str());
}

}  // namespace

Result<void, CliError> run_unmount(bool json, const std::string& argument, bool lazy) {
    auto derived = derive_target(argument);
    if (!derived) return fail(unless_interrupted(std::move(derived).error(), kNothingUnmounted));
    // Kept in the result, not moved out: g++ 12 at -O3 wrongly warns that such a string may be uninitialized.
    const std::string& target = *derived;

    if (auto stop = stop_if_interrupted(kNothingUnmounted); !stop) return stop;
    std::vector<std::string> argv{"umount"};
    if (lazy) argv.push_back("-l");
    argv.push_back(target);
    auto unmounted = run_command(json, argv, true);
    // A signal may end umount after the kernel let go of the mount: the table tells.
    const bool landed = unmounted || (interrupted() && !mount_at(target));
    if (!landed) {
        if (interrupted()) return fail(interrupted_error(target + " is still mounted."));
        return fail(unmount_failed_error(target, unmounted.error()));
    }

    forget_mount(target);
    const std::string message = "Unmounted " + target + ".";
    if (auto stop = stop_if_interrupted(message); !stop) return stop;
    print_success(json, message, nlohmann::json{{"target", target}});
    return {};
}

}  // namespace tuvrek
