#pragma once
// What the machine offers for APFS (the kernel module, apfs-fuse and the installed packages), and the
// running kernel's NTFS driver: the facts the planner needs that only probing the system tells.

#include <optional>
#include <set>
#include <string>

namespace tuvrek {

struct ApfsSupport {
    std::string headers_package = "linux-headers";
    std::set<std::string> installed;
    bool module_available = false;
    bool fuse_available = false;
    // "ntfs3" or "ntfs" (ntfs_driver.hpp); nothing when the kernel has neither.
    std::optional<std::string> ntfs_driver;

    bool operator==(const ApfsSupport&) const = default;
};

// Probes osrelease, pkgbase, /sys/module, modinfo, PATH and pacman -Q, and the NTFS driver; never fails.
ApfsSupport check_apfs_support();

}  // namespace tuvrek
