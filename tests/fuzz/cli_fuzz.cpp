// The command line: the "-rw" rewrite and the parse must take any arguments without crashing, and
// leave nothing behind for the next parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
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
    auto rewritten = tuvrek::expand_rw_shorthand(args);
    if (rewritten.size() != args.size()) std::abort();
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (rewritten[i] != (args[i] == "-rw" ? "--rw" : args[i])) std::abort();
    }
    (void)tuvrek::parse_command_line(rewritten);

    // The parser is kept between calls: nothing the input set may reach the next command line.
    auto plain = tuvrek::parse_command_line({"tuvrek-disk", "mount", "-p", "sdb1"});
    const auto* cli = std::get_if<tuvrek::Cli>(&plain);
    const auto* mount = cli ? std::get_if<tuvrek::command::Mount>(&cli->command) : nullptr;
    if (mount == nullptr || cli->json || cli->elevated) std::abort();
    const tuvrek::MountArgs& fresh = mount->args;
    if (fresh.partition != "sdb1" || fresh.dir || fresh.rw || fresh.volume || fresh.uid || fresh.gid || fresh.yes ||
        fresh.dry_run || fresh.startup)
        std::abort();
    return 0;
}
