// Placeholder until this piece is built.
#include "execute.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


Result<Partition, CliError> resolve_partition_arg(const std::vector<Drive>&, std::string_view) { unbuilt("resolve_partition_arg"); }
Result<void, CliError> install_missing_packages(bool, const std::vector<std::string>&, bool) { unbuilt("install_missing_packages"); }
Result<void, CliError> execute_mount_plan(bool, const MountPlan&, bool) { unbuilt("execute_mount_plan"); }
void print_dry_run_plan(const MountPlan&) { unbuilt("print_dry_run_plan"); }
Result<void, CliError> add_startup_entry(bool, const Partition&, const MountRequest&, const MountPlan&) { unbuilt("add_startup_entry"); }
}  // namespace tuvrek
