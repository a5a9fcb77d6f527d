// mounts.json: any file reads safely, and whatever is written reads back as the same records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tuvrek/records.hpp"
#include "tuvrek/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto records = tuvrek::parse_mount_records(bytes);
    if (tuvrek::parse_mount_records(tuvrek::serialize_mount_records(records)) != records) std::abort();

    // Records made from arbitrary text (device and target split at the first NUL) round-trip too.
    auto nul = bytes.find('\0');
    std::vector<tuvrek::Record> made{{tuvrek::lossy_utf8(bytes.substr(0, nul)),
                                      nul == std::string_view::npos ? "" : tuvrek::lossy_utf8(bytes.substr(nul + 1)),
                                      size % 2 == 1}};
    // A NUL would cut the path or argument it becomes: such a record is refused when read, never cut.
    auto back = tuvrek::parse_mount_records(tuvrek::serialize_mount_records(made));
    if (tuvrek::holds_nul(made[0].target) ? !back.empty() : back != made) std::abort();
    return 0;
}
