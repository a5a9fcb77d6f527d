// The command line: the "-rw" rewrite and the parse must take any arguments without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"tuvrek-disk"};
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    while (!bytes.empty() && args.size() < 64) {
        auto nul = bytes.find('\0');
        args.emplace_back(bytes.substr(0, nul));
        bytes = nul == std::string_view::npos ? std::string_view{} : bytes.substr(nul + 1);
    }
    auto rewritten = tuvrek::next_arg(args);
    if (rewritten.size() != args.size()) std::abort();
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (rewritten[i] != (args[i] == "-rw" ? "--rw" : args[i])) std::abort();
    }
    (void)tuvrek::parse_command_line(rewritten);
    return 0;
}
