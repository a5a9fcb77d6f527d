#pragma once
// unmount: detach a folder or a partition's first mount point.

#include <string>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

Result<void, CliError> run_unmount(bool json, const std::string& target, bool lazy);

}  // namespace tuvrek
