#pragma once
// Which NTFS driver the running kernel has: some kernels ship ntfs3, others a read/write driver of their
// own named ntfs, some neither.

#include <optional>
#include <string>
#include <string_view>

namespace tuvrek {

// Whether the running kernel can mount this filesystem type: it is registered (built in or loaded,
// TUVREK_DISK_FILESYSTEMS or /proc/filesystems), its module is loaded (TUVREK_DISK_SYS_MODULE_DIR or
// /sys/module), or it is a module of the running kernel (TUVREK_MODULES_DIR or /usr/lib/modules).
bool kernel_has_filesystem(std::string_view fstype);

// "ntfs3" where the kernel has it, else "ntfs" where it has that; nothing where it has neither.
std::optional<std::string> ntfs_driver();

}  // namespace tuvrek
