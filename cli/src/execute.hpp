#pragma once
// Carrying a mount plan out on the machine.

#include <string_view>
#include <vector>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

inline constexpr std::string_view kStartupUnit = "tuvrek-disk-automount.service";

Result<Partition, CliError> resolve_partition_arg(const std::vector<Drive>& drives, std::string_view text);
Result<void, CliError> install_missing_packages(bool json, const std::vector<std::string>& packages, bool yes);
Result<void, CliError> execute_mount_plan(bool json, const MountPlan& plan, bool exists);
void print_dry_run_plan(const MountPlan& plan);
Result<void, CliError> add_startup_entry(bool json, const Partition& partition, const MountRequest& request,
                                         const MountPlan& plan);

}  // namespace tuvrek
