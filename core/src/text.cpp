// Placeholder until this piece is built.
#include "tuvrek/text.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


std::string lossy_utf8(std::string_view) { unbuilt("lossy_utf8"); }
bool is_valid_utf8(std::string_view) { unbuilt("is_valid_utf8"); }
bool is_white_space(char32_t) { unbuilt("is_white_space"); }
bool is_alphanumeric(char32_t) { unbuilt("is_alphanumeric"); }
std::string trim_white_space(std::string_view) { unbuilt("trim_white_space"); }
std::string to_lower_full(std::string_view) { unbuilt("to_lower_full"); }
bool ascii_iequal(std::string_view, std::string_view) { unbuilt("ascii_iequal"); }
std::string_view strip_trailing_slashes(std::string_view) { unbuilt("strip_trailing_slashes"); }
std::string os_error_text(int) { unbuilt("os_error_text"); }
std::string escape_controls(std::string_view) { unbuilt("escape_controls"); }
}  // namespace tuvrek
