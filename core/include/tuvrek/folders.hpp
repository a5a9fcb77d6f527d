#pragma once
// The mount folder: the default one under /mnt, and whether a chosen one may be used.

#include <dirent.h>

#include <string>
#include <string_view>

#include "tuvrek/drives.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

struct FolderCheck {
    bool exists = false;  // false: nothing at the path yet, the mount creates it
};

std::string default_mount_folder(const Partition& partition);
Result<FolderCheck, PlanError> check_mount_folder(std::string_view folder);
bool is_folder_empty(DIR* listing);

}  // namespace tuvrek
