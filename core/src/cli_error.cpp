// Placeholder until this piece is built.
#include "tuvrek/cli_error.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


CliError cli_error(std::string, std::string, std::uint8_t) { unbuilt("cli_error"); }
CliError not_confirmed_error() { unbuilt("not_confirmed_error"); }
CliError needs_packages_error(const std::vector<std::string>&, std::string) { unbuilt("needs_packages_error"); }
}  // namespace tuvrek
