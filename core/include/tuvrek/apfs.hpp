#pragma once
// What the machine offers for APFS: the kernel module, apfs-fuse and the installed packages.

#include <set>
#include <string>

namespace tuvrek {

struct ApfsSupport {
    std::string headers_package = "linux-headers";
    std::set<std::string> installed;
    bool module_available = false;
    bool fuse_available = false;

    bool operator==(const ApfsSupport&) const = default;
};

// Probes osrelease, pkgbase, /sys/module, modinfo, PATH and pacman -Q; never fails.
ApfsSupport check_apfs_support();

}  // namespace tuvrek
