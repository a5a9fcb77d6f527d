// The parse result of the command line, field by field.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "cli.hpp"

namespace tuvrek {
namespace {

using Args = std::vector<std::string>;

// Parses as main does (the "-rw" rewrite first); a refused call gives its status.
std::variant<Cli, int> parse(Args args) {
    args.insert(args.begin(), "tuvrek-disk");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    auto result = parse_command_line(expand_rw_shorthand(args));
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return result;
}

Cli parse_ok(const Args& args) {
    auto result = parse(args);
    if (auto* status = std::get_if<int>(&result)) {
        ADD_FAILURE() << "refused with status " << *status;
        return {};
    }
    return std::get<Cli>(result);
}

MountArgs mount_args(const Cli& cli) {
    if (auto* mount = std::get_if<command::Mount>(&cli.command)) return mount->args;
    if (auto* plan = std::get_if<command::Plan>(&cli.command)) return plan->args;
    if (auto* automount = std::get_if<AutomountCommand>(&cli.command))
        if (auto* add = std::get_if<automount_command::Add>(automount)) return add->args;
    ADD_FAILURE() << "no mount arguments in command " << cli.command.index();
    return {};
}

TEST(NextArg, RewritesExactlyDashRwWherever) {
    EXPECT_EQ(expand_rw_shorthand({"tuvrek-disk", "mount", "-rw", "-wr", "-rwx", "--rw", "-p", "-rw", "--", "-rw"}),
              (Args{"tuvrek-disk", "mount", "--rw", "-wr", "-rwx", "--rw", "-p", "--rw", "--", "--rw"}));
}

TEST(CommandLine, EveryMountArgument) {
    MountArgs args = mount_args(parse_ok({"mount", "-p", "sdb2", "-d", "/mnt/x y", "-rw", "--volume", "0", "--uid",
                                          "1000", "--gid", "100", "-y", "--dry-run", "--startup"}));
    EXPECT_EQ(args.partition, "sdb2");
    EXPECT_EQ(args.dir, "/mnt/x y");
    EXPECT_TRUE(args.rw);
    EXPECT_EQ(args.volume, 0u);
    EXPECT_EQ(args.uid, 1000u);
    EXPECT_EQ(args.gid, 100u);
    EXPECT_TRUE(args.yes);
    EXPECT_TRUE(args.dry_run);
    EXPECT_TRUE(args.startup);
}

TEST(CommandLine, AbsentMountArgumentsStayAbsent) {
    for (const char* sub : {"mount", "plan"}) {
        MountArgs args = mount_args(parse_ok({sub, "--partition", "1234-ABCD"}));
        EXPECT_EQ(args.partition, "1234-ABCD");
        EXPECT_EQ(args.dir, std::nullopt);
        EXPECT_FALSE(args.rw || args.yes || args.dry_run || args.startup);
        EXPECT_EQ(args.volume, std::nullopt);
        EXPECT_EQ(args.uid, std::nullopt);
        EXPECT_EQ(args.gid, std::nullopt);
    }
    MountArgs added = mount_args(parse_ok({"automount", "add", "-p", "sdb2", "-w"}));
    EXPECT_EQ(added.partition, "sdb2");
    EXPECT_TRUE(added.rw);
}

TEST(CommandLine, RwSpelledThreeWays) {
    for (const char* spelling : {"-rw", "-w", "--rw"})
        EXPECT_TRUE(mount_args(parse_ok({"mount", "-p", "nvme1n1p2", spelling})).rw) << spelling;
    // The library takes a required value even when it looks like an option.
    EXPECT_EQ(mount_args(parse_ok({"mount", "-p", "-rw"})).partition, "--rw");
}

TEST(CommandLine, UnsignedNumbersAreDecimalOnly) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> value;  // nullopt: refused with status 2
    };
    const Case cases[] = {
        {"0", 0u},          {"4294967295", 4294967295u}, {"+5", 5u},     {"010", 10u},
        {"4294967296", {}}, {"-1", {}},                  {"0x10", {}},   {" 5", {}},
        {"5 ", {}},         {"", {}},                    {"+", {}},      {"1e3", {}},
        {"١٢", {}},         {"99999999999999999999", {}}, {"-0", {}},
    };
    for (const Case& c : cases) {
        for (const char* option : {"--volume", "--uid", "--gid"}) {
            auto result = parse({"plan", "-p", "sdb2", option, c.text});
            if (!c.value) {
                EXPECT_EQ(std::get_if<int>(&result) ? *std::get_if<int>(&result) : -1, 2) << option << " " << c.text;
                continue;
            }
            ASSERT_TRUE(std::holds_alternative<Cli>(result)) << option << " " << c.text;
            MountArgs args = mount_args(std::get<Cli>(result));
            std::optional<std::uint32_t> got = option == std::string("--volume") ? args.volume
                                               : option == std::string("--uid")  ? args.uid
                                                                                 : args.gid;
            EXPECT_EQ(got, c.value) << option << " " << c.text;
        }
    }
}

TEST(CommandLine, GlobalFlagsAtEveryLevel) {
    const Args calls[] = {
        {"--json", "--elevated", "automount", "run"},
        {"automount", "--json", "--elevated", "run"},
        {"automount", "run", "--elevated", "--json"},
        {"--json", "automount", "run", "--elevated"},
    };
    for (const Args& call : calls) {
        Cli cli = parse_ok(call);
        EXPECT_TRUE(cli.json);
        EXPECT_TRUE(cli.elevated);
        auto* automount = std::get_if<AutomountCommand>(&cli.command);
        ASSERT_NE(automount, nullptr);
        EXPECT_TRUE(std::holds_alternative<automount_command::Run>(*automount));
    }
    Cli plain = parse_ok({"list"});
    EXPECT_FALSE(plain.json || plain.elevated);
}

TEST(CommandLine, EachSubcommandByName) {
    Cli list = parse_ok({"list", "--all"});
    ASSERT_TRUE(std::holds_alternative<command::List>(list.command));
    EXPECT_TRUE(std::get<command::List>(list.command).all);
    EXPECT_FALSE(std::get<command::List>(parse_ok({"list"}).command).all);

    for (const char* name : {"unmount", "umount"}) {
        Cli cli = parse_ok({name, "/mnt/mac", "--lazy"});
        ASSERT_TRUE(std::holds_alternative<command::Unmount>(cli.command)) << name;
        EXPECT_EQ(std::get<command::Unmount>(cli.command).target, "/mnt/mac");
        EXPECT_TRUE(std::get<command::Unmount>(cli.command).lazy);
    }
    EXPECT_FALSE(std::get<command::Unmount>(parse_ok({"unmount", "/dev/sdb2"}).command).lazy);

    EXPECT_TRUE(std::holds_alternative<command::Mount>(parse_ok({"mount", "-p", "x"}).command));
    EXPECT_TRUE(std::holds_alternative<command::Plan>(parse_ok({"plan", "-p", "x"}).command));

    auto automount = [](const Args& args) { return std::get<AutomountCommand>(parse_ok(args).command); };
    EXPECT_TRUE(std::holds_alternative<automount_command::Add>(automount({"automount", "add", "-p", "x"})));
    EXPECT_TRUE(std::holds_alternative<automount_command::List>(automount({"automount", "list"})));
    EXPECT_TRUE(std::holds_alternative<automount_command::Run>(automount({"automount", "run"})));
    auto remove = automount({"automount", "remove", "/mnt/mac"});
    ASSERT_TRUE(std::holds_alternative<automount_command::Remove>(remove));
    EXPECT_EQ(std::get<automount_command::Remove>(remove).target, "/mnt/mac");
}

TEST(CommandLine, RefusedCallsGiveTheirStatus) {
    struct Case {
        Args args;
        int status;
    };
    const Case cases[] = {
        {{}, 2},
        {{"automount"}, 2},
        {{"--json"}, 2},
        {{"mount"}, 2},
        {{"mount", "-p", "x", "-wr"}, 2},
        {{"list", "-V"}, 2},
        {{"unmount"}, 2},
        {{"automount", "remove"}, 2},
        {{"automount", "list", "extra"}, 2},
        {{"mount", "-p", "\xff"}, 2},
        {{"help", "nosuch"}, 2},
        {{"--help"}, 0},
        {{"mount", "-h"}, 0},
        {{"help", "automount", "add"}, 0},
        {{"automount", "help", "remove"}, 0},
        {{"-V"}, 0},
    };
    for (const Case& c : cases) {
        auto result = parse(c.args);
        ASSERT_TRUE(std::holds_alternative<int>(result)) << testing::PrintToString(c.args);
        EXPECT_EQ(std::get<int>(result), c.status) << testing::PrintToString(c.args);
    }
}

}  // namespace
}  // namespace tuvrek
