#include "tuvrek/owner.hpp"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "support.hpp"

namespace tuvrek {
namespace {

using test::ScopedEnv;

// A uid with no password entry: its primary group falls back to the uid itself.
constexpr std::uint32_t kUnknownUid = 54321;

TEST(PrimaryGroupOf, RootsGroupFromThePasswordDatabase) { EXPECT_EQ(primary_group_of(0), 0u); }

TEST(PrimaryGroupOf, AnUnknownUserGivesItsOwnId) {
    ASSERT_EQ(getpwuid(kUnknownUid), nullptr) << "uid " << kUnknownUid << " exists on this machine";
    EXPECT_EQ(primary_group_of(kUnknownUid), kUnknownUid);
}

class UserIdentityTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(getpwuid(kUnknownUid), nullptr) << "uid " << kUnknownUid << " exists on this machine";
        for (const char* name : {"SUDO_UID", "SUDO_GID", "PKEXEC_UID"}) env_.unset(name);
    }
    ScopedEnv env_;
};

TEST_F(UserIdentityTest, FollowsSudoThenPkexecThenTheProcess) {
    using Var = std::optional<std::string>;
    const UserIdentity self{static_cast<std::uint32_t>(getuid()), static_cast<std::uint32_t>(getgid())};
    struct Case {
        const char* what;
        Var sudo_uid, sudo_gid, pkexec_uid;
        UserIdentity expected;
    };
    const Case cases[] = {
        {"sudo uid and gid win over the database", "1000", "100", {}, {1000, 100}},
        {"sudo uid alone takes the primary group", "54321", {}, {}, {54321, 54321}},
        {"sudo uid of root", "0", {}, {}, {0, 0}},
        {"plus sign", "+1000", "+100", {}, {1000, 100}},
        {"an invalid sudo gid falls back to the primary group", "54321", "-1", {}, {54321, 54321}},
        {"sudo beats pkexec", "1000", "100", "2000", {1000, 100}},
        {"leading blank counts as unset", " 1000", "100", {}, self},
        {"negative counts as unset", "-1", "100", {}, self},
        {"too large counts as unset", "4294967296", "100", {}, self},
        {"empty counts as unset", "", "100", {}, self},
        {"not UTF-8 counts as unset", "\xff" "1", "100", {}, self},
        {"pkexec takes the primary group, never SUDO_GID", {}, "100", "54321", {54321, 54321}},
        {"pkexec after an invalid sudo uid", "x", "100", "54321", {54321, 54321}},
        {"an invalid pkexec uid", {}, {}, "1001x", self},
        {"sudo gid alone is ignored", {}, "100", {}, self},
        {"nothing set", {}, {}, {}, self},
    };
    for (const Case& c : cases) {
        ScopedEnv env;
        env.set("SUDO_UID", c.sudo_uid);
        env.set("SUDO_GID", c.sudo_gid);
        env.set("PKEXEC_UID", c.pkexec_uid);
        EXPECT_EQ(user_identity(), c.expected) << c.what;
    }
}

TEST_F(UserIdentityTest, EnvU32ReadsTheVariableOrNothing) {
    EXPECT_EQ(env_u32("SUDO_UID"), std::nullopt);
    env_.set("SUDO_UID", "+42");
    EXPECT_EQ(env_u32("SUDO_UID"), 42u);
    env_.set("SUDO_UID", "42\n");
    EXPECT_EQ(env_u32("SUDO_UID"), std::nullopt);
}

}  // namespace
}  // namespace tuvrek
