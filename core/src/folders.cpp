// Placeholder until this piece is built.
#include "tuvrek/folders.hpp"
#include <cstdio>
#include <cstdlib>

namespace tuvrek {
namespace {
[[noreturn]] void unbuilt(const char* what) {
    std::fprintf(stderr, "%s is not built yet\n", what);
    std::abort();
}
}  // namespace


std::string default_mount_folder(const Partition&) { unbuilt("default_mount_folder"); }
Result<FolderCheck, PlanError> check_mount_folder(std::string_view) { unbuilt("check_mount_folder"); }
bool is_folder_empty(DIR*) { unbuilt("is_folder_empty"); }
}  // namespace tuvrek
