// Placeholder until this piece is built.
#include "reply.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


void print_success(bool, std::string_view, const nlohmann::json&) { unbuilt("print_success"); }
std::uint8_t print_error(bool, CliError) { unbuilt("print_error"); }
void print_line(bool, std::string_view) { unbuilt("print_line"); }
void print_warning(std::string_view) { unbuilt("print_warning"); }
}  // namespace tuvrek
