// The window reads whatever the child printed: any bytes give one result, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "privileged.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    int status = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    auto nul = rest.find('\0');
    std::string_view out = rest.substr(0, nul);
    std::string_view err = nul == std::string_view::npos ? std::string_view{} : rest.substr(nul + 1);
    (void)brevane::parse_cli_reply(out, err, status);
    return 0;
}
