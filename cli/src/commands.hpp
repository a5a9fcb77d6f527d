#pragma once
// The subcommand handlers. Each prints its own success; main prints the error.

#include <string>
#include <vector>

#include "cli.hpp"
#include "tuvrek/cli_error.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

using CommandResult = Result<void, CliError>;

CommandResult run_list(bool json, bool all);
CommandResult run_plan(bool json, const MountArgs& args);
CommandResult run_mount(bool json, const MountArgs& args);
CommandResult run_unmount(bool json, const std::string& target, bool lazy);
CommandResult run_automount_add(bool json, const MountArgs& args);
CommandResult run_automount_remove(bool json, const std::string& target);
CommandResult run_automount_list(bool json);
CommandResult run_automount_run(bool json);

// The request of mount, plan and automount add: folder, mode, volume and owner from the arguments.
MountRequest build_mount_request(const Partition& partition, const MountArgs& args);

// sudo -- <own path> --elevated <the arguments as received>; gives the status to exit with.
int rerun_with_sudo(bool json, const std::vector<std::string>& original_args);

}  // namespace tuvrek
