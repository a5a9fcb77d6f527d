// automount.toml: any file loads or fails cleanly, and a saved list loads back as the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tuvrek/config.hpp"
#include "tuvrek/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (tuvrek::is_valid_utf8(bytes)) {
        auto loaded = tuvrek::parse_automount_config(bytes, "automount.toml");
        if (loaded) {
            auto again = tuvrek::parse_automount_config(tuvrek::render_automount_config(*loaded), "automount.toml");
            if (!again || *again != *loaded) std::abort();
        }
    }

    // An entry made from arbitrary bytes: texts split at NULs, numbers from the first bytes.
    std::uint32_t n[3] = {0, 0, 0};
    std::memcpy(n, data, size < sizeof n ? size : sizeof n);
    std::vector<std::string> texts;
    std::string_view rest = bytes.substr(size < sizeof n ? size : sizeof n);
    for (int i = 0; i < 3; ++i) {
        auto nul = rest.find('\0');
        texts.push_back(tuvrek::lossy_utf8(rest.substr(0, nul)));
        rest = nul == std::string_view::npos ? std::string_view{} : rest.substr(nul + 1);
    }
    tuvrek::Entry entry{texts[0], texts[1], (n[0] & 1) != 0, std::nullopt, n[1], n[2], std::nullopt};
    if (n[0] & 2) entry.volume = n[0] >> 2;
    if (n[0] & 4) entry.filesystem = texts[2];
    std::vector<tuvrek::Entry> entries{entry, entry};
    auto back = tuvrek::parse_automount_config(tuvrek::render_automount_config(entries), "automount.toml");
    if (!back || *back != entries) std::abort();
    return 0;
}
