#pragma once
// The startup mounts as the commands change them: automount.toml read and written, each failure already
// the "config" error, and the entry of a planned mount added with its service enabled.

#include <string_view>
#include <vector>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/config.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

inline constexpr std::string_view kStartupUnit = "tuvrek-disk-automount.service";

Result<std::vector<Entry>, CliError> load_config();
Result<void, CliError> save_config(const std::vector<Entry>& entries);
Result<void, CliError> add_startup_entry(bool json, const Partition& partition, const MountRequest& request,
                                         const MountPlan& plan);

}  // namespace tuvrek
