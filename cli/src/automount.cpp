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


CommandResult run_automount_add(bool, const MountArgs&) { unbuilt("run_automount_add"); }
CommandResult run_automount_remove(bool, const std::string&) { unbuilt("run_automount_remove"); }
CommandResult run_automount_list(bool) { unbuilt("run_automount_list"); }
CommandResult run_automount_run(bool) { unbuilt("run_automount_run"); }
}  // namespace tuvrek
