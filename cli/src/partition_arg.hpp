#pragma once
// The partition a command names: the drives read afresh, and the partition found among them by path,
// kernel name or UUID, each failure already the command's error.

#include <string_view>
#include <vector>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

// lsblk's drives; a failure is the "lsblk" error.
Result<std::vector<Drive>, CliError> read_drives();
Result<Partition, CliError> resolve_partition_arg(const std::vector<Drive>& drives, std::string_view text);
// The same among the drives read afresh.
Result<Partition, CliError> find_partition_arg(std::string_view text);

}  // namespace tuvrek
