#pragma once
// The drives and the startup configuration as the subcommands read them, each failure already the
// subcommand's error.

#include <vector>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/config.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

// lsblk's drives; a failure is the "lsblk" error.
Result<std::vector<Drive>, CliError> read_drives();
// automount.toml's entries; a failure to read or to write it is the "config" error.
Result<std::vector<Entry>, CliError> load_config();
Result<void, CliError> save_config(const std::vector<Entry>& entries);

}  // namespace tuvrek
