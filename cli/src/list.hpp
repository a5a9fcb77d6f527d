#pragma once
// list: the drives and their partitions, as a table or one JSON reply.

#include "tuvrek/cli_error.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

Result<void, CliError> run_list(bool json, bool all);

}  // namespace tuvrek
