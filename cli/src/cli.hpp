#pragma once
// The command line of tuvrek-disk, as typed records.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tuvrek {

struct MountArgs {
    std::string partition;
    std::optional<std::string> dir;
    bool rw = false;
    std::optional<std::uint32_t> volume;
    std::optional<std::uint32_t> uid;
    std::optional<std::uint32_t> gid;
    bool yes = false;
    bool dry_run = false;
    bool startup = false;
};

namespace command {
struct List { bool all = false; };
struct Mount { MountArgs args; };
struct Unmount { std::string target; bool lazy = false; };
struct Plan { MountArgs args; };
}  // namespace command

namespace automount_command {
struct Add { MountArgs args; };
struct Remove { std::string target; };
struct List {};
struct Run {};
}  // namespace automount_command

using AutomountCommand = std::variant<automount_command::Add, automount_command::Remove,
                                      automount_command::List, automount_command::Run>;
using Command = std::variant<command::List, command::Mount, command::Unmount, command::Plan, AutomountCommand>;

struct Cli {
    bool json = false;
    bool elevated = false;
    Command command;
};

// The process arguments with every "-rw" turned into "--rw".
std::vector<std::string> expand_rw_shorthand(const std::vector<std::string>& args);

// Parses the rewritten arguments (program name first). Help, version and parse errors are printed
// here and give the exit status to end with instead of a Cli.
std::variant<Cli, int> parse_command_line(const std::vector<std::string>& args);

}  // namespace tuvrek
