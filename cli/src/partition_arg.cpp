#include "partition_arg.hpp"

#include <string>
#include <utility>

#include "tuvrek/partition_lookup.hpp"

namespace tuvrek {

Result<std::vector<Drive>, CliError> read_drives() {
    auto drives = list_drives();
    if (!drives) return fail(cli_error("lsblk", std::move(drives).error(), 1));
    return std::move(drives).value();
}

Result<Partition, CliError> resolve_partition_arg(const std::vector<Drive>& drives, std::string_view text) {
    if (const Partition* found = find_partition(drives, text)) return *found;
    return fail(cli_error("no-partition", "No partition " + std::string(text) + ". See `tuvrek-disk list`.", 1));
}

Result<Partition, CliError> find_partition_arg(std::string_view text) {
    auto drives = read_drives();
    if (!drives) return fail(std::move(drives).error());
    return resolve_partition_arg(*drives, text);
}

}  // namespace tuvrek
