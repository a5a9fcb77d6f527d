// The kernel's mount table holds mount points that users choose; every line must parse safely.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tuvrek/mountinfo.hpp"
#include "tuvrek/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!tuvrek::is_valid_utf8(bytes)) return 0;  // the reader refuses a table that isn't UTF-8
    for (const auto& entry : tuvrek::parse_mountinfo(bytes)) {
        // Decoded fields are always text that the JSON writer accepts.
        if (!tuvrek::is_valid_utf8(entry.mount_point) || !tuvrek::is_valid_utf8(entry.source)) std::abort();
    }
    (void)tuvrek::parse_mountinfo_line(bytes);
    return 0;
}
