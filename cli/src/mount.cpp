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


CommandResult run_plan(bool, const MountArgs&) { unbuilt("run_plan"); }
CommandResult run_mount(bool, const MountArgs&) { unbuilt("run_mount"); }
MountRequest build_mount_request(const Partition&, const MountArgs&) { unbuilt("build_mount_request"); }
}  // namespace tuvrek
