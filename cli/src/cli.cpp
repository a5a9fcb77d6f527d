// Placeholder until this piece is built.
#include "cli.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


std::vector<std::string> next_arg(const std::vector<std::string>&) { unbuilt("next_arg"); }
std::variant<Cli, int> parse_command_line(const std::vector<std::string>&) { unbuilt("parse_command_line"); }
}  // namespace tuvrek
