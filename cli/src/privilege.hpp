#pragma once
// The sudo re-run of a subcommand that needs root rights.

#include <string>
#include <vector>

namespace tuvrek {

// sudo -- <own path> --elevated <the arguments as received>; gives the status to exit with.
int rerun_with_sudo(bool json, const std::vector<std::string>& original_args);

}  // namespace tuvrek
