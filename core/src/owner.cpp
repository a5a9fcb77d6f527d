#include "tuvrek/owner.hpp"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <vector>

namespace tuvrek {

std::optional<std::uint32_t> parse_u32(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Digits only, so a value that is not UTF-8 can never pass.
std::optional<std::uint32_t> env_u32(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return parse_u32(value);
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
