// Placeholder until this piece is built.
#include "tuvrek/apfs.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


ApfsSupport check_apfs_support() { unbuilt("check_apfs_support"); }
}  // namespace tuvrek
