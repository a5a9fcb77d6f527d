// The lsblk document comes from device data anyone can write (labels, models, partition names):
// parsing it, and everything shown or planned from it, must never crash or hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/folders.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/listing.hpp"
#include "tuvrek/partition_lookup.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // list_drives decodes lsblk's output lossily, so the parser only ever sees valid UTF-8, and every
    // valid text reaches it as it is. Decoding each broken input first cost more than the parse.
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!tuvrek::is_valid_utf8(text)) return 0;
    auto drives = tuvrek::parse_lsblk_document(text);
    if (!drives) return 0;
    tuvrek::ApfsSupport apfs;
    for (const auto& drive : *drives) {
        (void)tuvrek::drive_display_name(drive);
        (void)tuvrek::format_size(drive.size);
        for (const auto& partition : drive.partitions) {
            (void)tuvrek::is_data_partition(partition);
            (void)tuvrek::has_system_mountpoint(partition.mountpoints);
            (void)tuvrek::escape_controls(tuvrek::partition_display_label(partition));
            tuvrek::MountRequest request{tuvrek::default_mount_folder(partition), true, 0u, 1000, 1000};
            auto plan = tuvrek::plan_mount(partition, request, apfs);
            if (plan) (void)tuvrek::plan_to_json(*plan).dump();
            else (void)tuvrek::plan_error_message(plan.error());
        }
        (void)tuvrek::find_partition(*drives, drive.name);
    }
    return 0;
}
