#pragma once
// Who owns the files on filesystems without owners: the person who asked, not root.

#include <cstdint>
#include <optional>

namespace tuvrek {

struct UserIdentity {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;

    bool operator==(const UserIdentity&) const = default;
};

// SUDO_UID (with SUDO_GID or the primary group), else PKEXEC_UID (with the primary group), else the process.
UserIdentity user_identity();
std::uint32_t primary_group_of(std::uint32_t uid);
std::optional<std::uint32_t> env_u32(const char* name);

}  // namespace tuvrek
