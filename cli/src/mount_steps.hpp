#pragma once
// The steps of a mount on the machine: find the partition, install what the plan lacks, carry the
// plan out, and add the startup entry.

#include <string_view>
#include <vector>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

inline constexpr std::string_view kStartupUnit = "tuvrek-disk-automount.service";

Result<Partition, CliError> resolve_partition_arg(const std::vector<Drive>& drives, std::string_view text);
// The same among the drives read afresh.
Result<Partition, CliError> find_partition_arg(std::string_view text);
Result<void, CliError> install_missing_packages(bool json, const std::vector<std::string>& packages, bool yes);
// The questions before a mount, both answered by --yes: accept an experimental write, then install
// the missing packages.
Result<void, CliError> confirm_and_install(bool json, const MountPlan& plan, bool yes);
// Gives whether the mount is read/write: the kernel may keep a write mount read-only.
Result<bool, CliError> execute_mount_plan(bool json, const MountPlan& plan, bool exists);
void print_dry_run_plan(const MountPlan& plan);
Result<void, CliError> add_startup_entry(bool json, const Partition& partition, const MountRequest& request,
                                         const MountPlan& plan);

}  // namespace tuvrek
