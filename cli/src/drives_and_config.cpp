#include "drives_and_config.hpp"

#include <utility>

namespace tuvrek {

Result<std::vector<Drive>, CliError> read_drives() {
    auto drives = list_drives();
    if (!drives) return fail(cli_error("lsblk", std::move(drives).error(), 1));
    return std::move(drives).value();
}

Result<std::vector<Entry>, CliError> load_config() {
    auto entries = load_automount_config();
    if (!entries) return fail(cli_error("config", std::move(entries).error(), 1));
    return std::move(entries).value();
}

Result<void, CliError> save_config(const std::vector<Entry>& entries) {
    auto saved = save_automount_config(entries);
    if (!saved) return fail(cli_error("config", std::move(saved).error(), 1));
    return {};
}

}  // namespace tuvrek
