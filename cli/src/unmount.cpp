// Placeholder until this piece is built.
#include "commands.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


CommandResult run_unmount(bool, const std::string&, bool) { unbuilt("run_unmount"); }
}  // namespace tuvrek
