#pragma once
// The mount folder: the default one under /mnt, whether a chosen one may be used, and making it.

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

// "/mnt/" and the partition's label as one component, cut to at most 255 bytes (the longest name a
// folder can have) at a character boundary.
std::string default_mount_folder(const Partition& partition);

// Takes the canonical form (canonical_folder). Refuses system folders through is_system_folder
// (folder-not-empty), and a folder that is no longer canonical (a symbolic link swapped in since it was
// resolved) with folder-not-a-folder; then whether something is there, mounted on, or in it.
Result<FolderCheck, PlanError> check_mount_folder(std::string_view canonical);
bool is_folder_empty(DIR* listing);

// Makes the folder and its missing parents one component at a time (openat/mkdirat from "/"), never
// following a symbolic link: one swapped in meanwhile fails the call (ELOOP/ENOTDIR). Folders it makes
// get mode 0755 whatever the umask. Gives whether the last component was made here, or the errno.
Result<bool, int> create_mount_folder(std::string_view canonical);

}  // namespace tuvrek
