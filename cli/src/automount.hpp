#pragma once
// automount add|remove|list|run: the startup mounts of automount.toml.

#include <string>

#include "cli.hpp"
#include "tuvrek/cli_error.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

Result<void, CliError> run_automount_add(bool json, const MountArgs& args);
Result<void, CliError> run_automount_remove(bool json, const std::string& target);
Result<void, CliError> run_automount_list(bool json);
Result<void, CliError> run_automount_run(bool json);

}  // namespace tuvrek
