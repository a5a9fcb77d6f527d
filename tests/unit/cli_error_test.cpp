#include "tuvrek/cli_error.hpp"

#include <gtest/gtest.h>

namespace tuvrek {
namespace {

// The reply shows the packages in the order the installer asked for them, so no set may sort them.
TEST(NeedsPackagesError, ListsThePackagesInTheGivenOrder) {
    const CliError error = needs_packages_error({"linux-apfs-rw-dkms-git", "dkms"}, "Install them first.");
    EXPECT_EQ(error.code, "needs-packages");
    EXPECT_EQ(error.message, "Install them first.");
    EXPECT_EQ(error.exit, 4);
    EXPECT_EQ(error.details.dump(), R"({"missing_packages":["linux-apfs-rw-dkms-git","dkms"]})");
    EXPECT_EQ(needs_packages_error({}, "").details.dump(), R"({"missing_packages":[]})");
}

TEST(CliErrorBuilders, FixedTextsAndStatuses) {
    const CliError refused = not_confirmed_error();
    EXPECT_EQ(refused.code, "not-confirmed");
    EXPECT_EQ(refused.message, "Not mounted. Mount it read-only (without --rw), or add --yes to accept writing.");
    EXPECT_EQ(refused.exit, 3);
    EXPECT_TRUE(refused.details.is_null());

    const CliError plain = cli_error("mount-failed", "It failed.", 5);
    EXPECT_EQ(plain.exit, 5);
    EXPECT_TRUE(plain.details.is_null());
}

}  // namespace
}  // namespace tuvrek
