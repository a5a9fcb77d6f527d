#pragma once
// The steps of a mount on the machine: the questions, the packages the plan lacks, then the plan carried
// out.

#include <string_view>
#include <vector>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

Result<void, CliError> install_missing_packages(bool json, const std::vector<std::string>& packages, bool yes);
// The questions before a mount, both answered by --yes: accept an experimental write, then install
// the missing packages.
Result<void, CliError> confirm_and_install(bool json, const MountPlan& plan, bool yes);
// Module, folder (checked again and made when missing), mount and record. Gives whether the mount is
// read/write: the kernel may keep a write mount read-only. A mount that landed although a signal cut
// its command short is recorded and counts as done.
Result<bool, CliError> execute_mount_plan(bool json, const MountPlan& plan);
void print_dry_run_plan(const MountPlan& plan);

}  // namespace tuvrek
