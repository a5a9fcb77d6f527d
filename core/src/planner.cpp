// Placeholder until this piece is built.
#include "tuvrek/planner.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


std::string_view PlanError::code() const { unbuilt("PlanError::code"); }
Result<MountPlan, PlanError> plan_mount(const Partition&, const MountRequest&, const ApfsSupport&) { unbuilt("plan_mount"); }
std::vector<std::string> mount_command(std::string_view, std::string_view, std::string_view, std::string) { unbuilt("mount_command"); }
CliError plan_error_message(const PlanError&) { unbuilt("plan_error_message"); }
nlohmann::json plan_to_json(const MountPlan&) { unbuilt("plan_to_json"); }
}  // namespace tuvrek
