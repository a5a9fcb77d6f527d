#pragma once
// plan and mount: the request from the arguments, then the plan shown or carried out.

#include <string_view>

#include "cli.hpp"
#include "tuvrek/cli_error.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

Result<void, CliError> run_plan(bool json, const MountArgs& args);
Result<void, CliError> run_mount(bool json, const MountArgs& args);

// The request of mount, plan and automount add: folder, mode, volume and owner from the arguments.
MountRequest build_mount_request(const Partition& partition, const MountArgs& args);
// The plan for the request, with the APFS facts gathered afresh.
Result<MountPlan, CliError> plan_request(const Partition& partition, const MountRequest& request);
// "read/write" or "read-only", as messages name a mount's mode.
std::string_view mode_text(bool read_write);

}  // namespace tuvrek
