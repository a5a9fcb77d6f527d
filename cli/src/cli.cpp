#include "cli.hpp"

#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <string_view>

#include <CLI/CLI.hpp>

#include "tuvrek/text.hpp"

namespace tuvrek {

namespace {

constexpr std::string_view kProgram = "tuvrek-disk";

// Keeps the hidden alias `umount` out of the subcommand list: the library lays out the line of a
// stand-in that has the subcommand's name and about text but no aliases.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_subcommand(const CLI::App* sub) const override {
        CLI::App without_aliases{sub->get_description(), sub->get_name()};
        return CLI::Formatter::make_subcommand(&without_aliases);
    }
};

// CLI11 converts integers with base 0 ("010" is 8, "0x10" is 16, " 5" is 5): accept only an optional
// "+" and decimal digits, and hand the library the canonical decimal text.
CLI::Validator decimal_u32() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::optional<std::uint32_t> value = parse_decimal_u32(text);
            if (!value) return "expected a whole number from 0 to 4294967295, got '" + text + "'";
            text = std::to_string(*value);
            return {};
        },
        "", "decimal u32");
}

// Where the parser writes what it finds; turned into a Cli once parsing has succeeded.
struct Matches {
    bool json = false;
    bool elevated = false;
    bool all = false;
    MountArgs mount, plan, add;
    std::string unmount_target;
    bool lazy = false;
    std::string remove_target;
    std::vector<std::string> help_path;
};

void add_globals(CLI::App& app, Matches& m) {
    app.add_flag("--json", m.json, "Print one JSON object on stdout instead of text (for the Brevane window)")
        ->group("Cli");
    app.add_flag("--elevated", m.elevated, "Already running with root rights; don't ask sudo again")->group("");
}

void declare_mount_args(CLI::App& app, MountArgs& args) {
    const std::string group = "MountArgs";
    app.add_option("-p,--partition", args.partition, "The partition: /dev/nvme1n1p2, nvme1n1p2 or its UUID")
        ->type_name("DEVICE")
        ->required()
        ->group(group);
    app.add_option("-d,--dir", args.dir, "The folder to mount it on [default: /mnt/<volume name>]")
        ->type_name("FOLDER")
        ->group(group);
    app.add_flag("-w,--rw", args.rw, "Read and write (the default is read-only)")->group(group);
    app.add_option("--volume", args.volume, "APFS volume number, counting from 0 (try 1 if Users is missing)")
        ->type_name("N")
        ->transform(decimal_u32())
        ->group(group);
    app.add_option("--uid", args.uid, "Owner of the files on macOS, Windows and shared drives [default: you]")
        ->type_name("UID")
        ->transform(decimal_u32())
        ->group(group);
    app.add_option("--gid", args.gid, "Group of the files on macOS, Windows and shared drives [default: yours]")
        ->type_name("GID")
        ->transform(decimal_u32())
        ->group(group);
    app.add_flag("-y,--yes", args.yes, "Answer yes: install missing packages, accept experimental writing")
        ->group(group);
    app.add_flag("--dry-run", args.dry_run, "Print the commands instead of running them")->group(group);
    app.add_flag("--startup", args.startup, "Also mount it at every startup (mount only)")->group(group);
}

// Declaring these nine options on four subcommands costs more than a whole listing: a subcommand
// declares them when the parser reaches it, and every one before a help text is written.
void mount_args_augment(CLI::App& app, MountArgs& args, std::vector<std::function<void()>>& before_help) {
    auto declare = [&app, &args] {
        if (app.get_option_no_throw("--partition") == nullptr) declare_mount_args(app, args);
    };
    app.preparse_callback([declare](std::size_t) { declare(); });
    before_help.push_back(declare);
}

CLI::App* add_subcommand(CLI::App& parent, Matches& m, const std::string& name, const std::string& about) {
    CLI::App* sub = parent.add_subcommand(name, about);
    add_globals(*sub, m);
    return sub;
}

// The library has no `help` subcommand; this one prints the help of the path named after it.
void add_help_subcommand(CLI::App& parent, Matches& m) {
    CLI::App* help = add_subcommand(parent, m, "help", "Print this help or the help of the given subcommand");
    help->add_option("SUBCOMMAND", m.help_path, "The subcommand to show the help of");
}

void build_cli_command(CLI::App& app, Matches& m, std::vector<std::function<void()>>& before_help) {
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_version_flag("-V,--version", std::string(kProgram) + " " + TUVREK_VERSION);
    app.require_subcommand(0, 1);
    add_globals(app, m);

    CLI::App* list = add_subcommand(app, m, "list", "List drives and their partitions");
    list->add_flag("--all", m.all, "Also show EFI, swap and partitions without a filesystem")->group("List");

    mount_args_augment(*add_subcommand(app, m, "mount", "Mount a partition"), m.mount, before_help);

    CLI::App* unmount = add_subcommand(app, m, "unmount", "Unmount a folder or a partition");
    unmount->alias("umount");
    unmount
        ->add_option("TARGET", m.unmount_target, "The mount folder (/mnt/mac) or the partition (/dev/nvme1n1p2)")
        ->required()
        ->group("Unmount");
    unmount->add_flag("--lazy", m.lazy, "Detach now and finish when nothing uses it any more (umount -l)")
        ->group("Unmount");

    mount_args_augment(
        *add_subcommand(app, m, "plan", "Show how a partition would be mounted, without mounting it"), m.plan,
        before_help);

    CLI::App* automount = add_subcommand(app, m, "automount", "Partitions mounted at startup");
    automount->require_subcommand(0, 1);
    mount_args_augment(*add_subcommand(*automount, m, "add", "Mount a partition at every startup"), m.add,
                       before_help);
    add_subcommand(*automount, m, "remove", "Stop mounting a folder (or partition UUID) at startup")
        ->add_option("TARGET", m.remove_target)
        ->required()
        ->group("Remove");
    add_subcommand(*automount, m, "list", "List the partitions mounted at startup");
    add_subcommand(*automount, m, "run", "Mount them all now (what the startup service runs)");
    add_help_subcommand(*automount, m);

    add_help_subcommand(app, m);
}

// The innermost subcommand the parser reached, and its full name for the usage line.
std::pair<const CLI::App*, std::string> deepest(const CLI::App& app) {
    const CLI::App* at = &app;
    std::string name = at->get_name();
    for (auto subs = at->get_subcommands(); !subs.empty(); subs = at->get_subcommands()) {
        at = subs.front();
        name += " " + at->get_name();
    }
    return {at, name};
}

std::string failure_message(const CLI::App* app, const CLI::Error& e) {
    auto [at, name] = deepest(*app);
    return std::string(e.what()) + "\n\n" + HelpFormatter().make_usage(at, name) +
           "\nRun with --help for more information.\n";
}

void print_help(const CLI::App& app, const std::string& name, std::FILE* to) {
    std::string text = app.get_formatter()->make_help(&app, name, CLI::AppFormatMode::Normal);
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
}

// `help [path...]` under `at`: the help of the subcommand the path names.
void run_help_subcommand(const CLI::App& at, const std::string& at_name, const std::vector<std::string>& path) {
    const CLI::App* target = &at;
    std::string name = at_name;
    for (const std::string& word : path) {
        const CLI::App* next = nullptr;
        for (const CLI::App* sub : target->get_subcommands({}))
            if (sub->check_name(word)) next = sub;
        if (next == nullptr) throw CLI::ExtrasError({word});
        target = next;
        name += " " + target->get_name();
    }
    print_help(*target, name, stdout);
}

struct CommandLine {
    Matches m;
    CLI::App app{"Mount any partition, macOS ones included", std::string(kProgram)};
    std::vector<std::function<void()>> before_help;

    CommandLine() {
        build_cli_command(app, m, before_help);
        app.failure_message(failure_message);
    }
};

}  // namespace

std::vector<std::string> expand_rw_shorthand(const std::vector<std::string>& args) {
    std::vector<std::string> out = args;
    for (std::string& arg : out)
        if (arg == "-rw") arg = "--rw";
    return out;
}

std::variant<Cli, int> parse_command_line(const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (!is_valid_utf8(args[i])) {
            std::string text = "The argument '" + escape_controls(lossy_utf8(args[i])) + "' is not valid UTF-8 text.\n";
            std::fwrite(text.data(), 1, text.size(), stderr);
            return 2;
        }
    }

    // The command tree is built once (it costs far more than a parse); each parse starts from empty
    // matches and cleared results.
    static CommandLine parser;
    parser.m = Matches{};
    parser.app.clear();
    Matches& m = parser.m;
    CLI::App& app = parser.app;

    // The library wants the arguments after the program name, last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    if (!reversed.empty()) reversed.pop_back();
    try {
        app.parse(std::move(reversed));

        auto [at, name] = deepest(app);
        if (at->get_name() == "help") {
            for (const auto& declare : parser.before_help) declare();
            run_help_subcommand(*at->get_parent(), name.substr(0, name.size() - 5), m.help_path);
            return 0;
        }
        // Only a bare call (nothing after the program name, or nothing after `automount`) shows that
        // level's help; a missing subcommand after other arguments is the library's error. Either is refused.
        if (at == &app || at->get_name() == "automount") {
            const bool bare = args.size() <= 1 || (at != &app && args.back() == "automount");
            if (!bare) throw CLI::RequiredError::Subcommand(1);
            print_help(*at, name, stderr);
            return 2;
        }

        Cli cli;
        cli.json = m.json;
        cli.elevated = m.elevated;
        const CLI::App* sub = app.get_subcommands().front();
        const std::string& which = sub->get_name();
        if (which == "list") {
            cli.command = command::List{m.all};
        } else if (which == "mount") {
            cli.command = command::Mount{m.mount};
        } else if (which == "unmount") {
            cli.command = command::Unmount{m.unmount_target, m.lazy};
        } else if (which == "plan") {
            cli.command = command::Plan{m.plan};
        } else {
            const std::string& inner = at->get_name();
            if (inner == "add") cli.command = AutomountCommand{automount_command::Add{m.add}};
            else if (inner == "remove") cli.command = AutomountCommand{automount_command::Remove{m.remove_target}};
            else if (inner == "list") cli.command = AutomountCommand{automount_command::List{}};
            else cli.command = AutomountCommand{automount_command::Run{}};
        }
        return cli;
    } catch (const CLI::CallForHelp& e) {
        app.exit(e);
        std::cout.flush();
        return 0;
    } catch (const CLI::CallForVersion& e) {
        app.exit(e);
        std::cout.flush();
        return 0;
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        std::cerr.flush();
        return 2;
    }
}

}  // namespace tuvrek
