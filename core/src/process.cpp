// Placeholder until this piece is built.
#include "tuvrek/process.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


Result<ProcessOutput, int> run_process(const std::vector<std::string>&, const SpawnOptions&) { unbuilt("run_process"); }
std::string describe_wait_status(const WaitStatus&) { unbuilt("describe_wait_status"); }
std::optional<std::string> self_executable_path() { unbuilt("self_executable_path"); }
}  // namespace tuvrek
