#pragma once
// A folder in the one form that every guard, record, check and command compares.

#include <string>
#include <string_view>

namespace tuvrek {

// The one form of a folder that every guard, record, check and command uses: ".", "..", repeated and
// trailing "/" removed, and the symbolic links in the part that exists resolved, as the kernel will
// resolve them ("/mnt/link/../x" goes through link's target first). Past the part that exists the path
// is taken as mkdir -p would make it, so a dangling link leads to where its target would be made. Text
// that isn't absolute (or is empty) comes back unchanged, so the callers' own refusals
// (folder-not-absolute) apply. From a component with a NUL byte, or from the link that makes too many
// (a loop), the rest is kept as typed, so the callers still see it and the kernel refuses it.
std::string canonical_folder(std::string_view folder);

// A folder of the running system or of the kernel, in canonical form: the folders of SYSTEM_FOLDERS
// ("/", "/usr", "/var", "/efi", "/boot", "/home", "/boot/efi"), the kernel's own mounts /proc, /sys, /dev,
// /run themselves, and anything below /proc, /sys and /dev (their virtual filesystems).
bool is_system_folder(std::string_view canonical);

}  // namespace tuvrek
