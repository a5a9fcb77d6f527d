#include "tuvrek/owner.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "tuvrek/text.hpp"

namespace tuvrek {

// Digits only, so a value that is not UTF-8 can never pass.
std::optional<std::uint32_t> env_u32(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return parse_decimal_u32(value);
}

std::uint32_t primary_group_of(std::uint32_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(4096, '\0');
    const int rc = getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0 || found == nullptr) return uid;
    return static_cast<std::uint32_t>(found->pw_gid);
}

UserIdentity user_identity() {
    if (const auto uid = env_u32("SUDO_UID")) {
        const auto gid = env_u32("SUDO_GID");
        return {*uid, gid ? *gid : primary_group_of(*uid)};
    }
    // pkexec leaves no group behind; a stray SUDO_GID here belongs to someone else.
    if (const auto uid = env_u32("PKEXEC_UID")) return {*uid, primary_group_of(*uid)};
    return {static_cast<std::uint32_t>(getuid()), static_cast<std::uint32_t>(getgid())};
}

}  // namespace tuvrek
