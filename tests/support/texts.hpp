#pragma once
// The system's own texts that more than one test file checks, kept once so that a changed wording
// is changed in one place.

#include <string>

namespace tuvrek::test {

// ---- the planner's warnings ----

inline const std::string kOwners =
    "Files keep the owners they have on this filesystem; you may need sudo to change ones your user doesn't own.";
inline const std::string kApfsWrite =
    "Writing to APFS from Linux is experimental and can damage the drive. Back it up first, and shut macOS down "
    "fully (not sleep) before mounting.";
inline const std::string kFileVault =
    "FileVault-encrypted volumes can't be mounted read/write; mount them read-only.";
inline const std::string kHfs =
    "Linux writes to HFS+ only when its journal is off. If it mounts read-only, turn journaling off in macOS with: "
    "diskutil disableJournal <volume>";
inline std::string fuse_root(const std::string& target) {
    return "With apfs-fuse your files are under " + target + "/root (for example " + target + "/root/Users).";
}

// ---- after a mount ----

// A read/write mount that the kernel kept read-only.
inline std::string journal_warning(const std::string& device) {
    return device +
           " was mounted read-only: its journal is on. Turn it off in macOS with `diskutil disableJournal`, then "
           "mount it again.";
}

// ---- the planner's refusals of a folder ----

inline const std::string kNotAbsolute = "The mount folder must be a full path, such as /mnt/mac.";
inline const std::string kFolderNotEmpty =
    "The mount folder isn't empty. Mounting over it would hide its files; pick an empty or new folder.";

// ---- unmount ----

// Follows the unmount target.
inline const std::string kBusyText =
    " is in use. Close the terminals, file managers and programs using it and try again, or use --lazy to "
    "detach it as soon as they're done.";

// ---- the startup mounts ----

inline const std::string kStartupUnit = "tuvrek-disk-automount.service";
inline const std::string kConfigHeader =
    "# Partitions Tuvrek mounts at startup (tuvrek-disk-automount.service).\n"
    "# Change them with Brevane or `tuvrek-disk automount add|remove`.\n\n";

}  // namespace tuvrek::test
