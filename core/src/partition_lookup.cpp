#include "tuvrek/partition_lookup.hpp"

#include "tuvrek/text.hpp"

namespace tuvrek {

const Partition* find_partition(const std::vector<Drive>& drives, std::string_view text) {
    const std::string_view short_form =
        (text.size() > 4 && text.starts_with("/dev/")) ? text.substr(5) : text;
    for (const auto& drive : drives) {
        for (const auto& partition : drive.partitions) {
            if (partition.path == text || partition.name == short_form ||
                (partition.uuid && ascii_iequal(*partition.uuid, text))) {
                return &partition;
            }
        }
    }
    return nullptr;
}

}  // namespace tuvrek
