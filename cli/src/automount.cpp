// automount add|remove|list|run: the startup mounts of automount.toml.
#include "automount.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "external_commands.hpp"
#include "mount.hpp"
#include "mount_steps.hpp"
#include "partition_arg.hpp"
#include "reply.hpp"
#include "startup_config.hpp"
#include "tuvrek/apfs.hpp"
#include "tuvrek/config.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/folders.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/partition_lookup.hpp"
#include "tuvrek/planner.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

// One line of `automount list`. File and device texts may hold anything, so controls are made visible.
std::string entry_line(const Entry& entry) {
    std::string line = escape_controls(entry.target) + "  UUID=" + escape_controls(entry.uuid) + "  ";
    line += mode_text(entry.read_write);
    if (entry.filesystem) line += "  " + escape_controls(*entry.filesystem);
    if (entry.volume) line += "  volume " + std::to_string(*entry.volume);
    return line;
}

// Mounts one entry's partition; the error is the reason shown in its "not mounted" line.
Result<void, std::string> mount_entry(bool json, const Partition& partition, const Entry& entry,
                                      const ApfsSupport& apfs) {
    // Planned from the entry alone: whoever runs this at startup plays no part.
    MountRequest request{.folder = entry.target,
                         .read_write = entry.read_write,
                         .volume = entry.volume,
                         .uid = entry.uid,
                         .gid = entry.gid};
    auto plan = plan_mount(partition, request, apfs);
    if (!plan) return fail(plan_error_message(plan.error()).message);
    if (!plan->missing_packages.empty())
        return fail("needs " + join(plan->missing_packages, " ") + "; add it again in Brevane to install them");
    auto folder = check_mount_folder(entry.target);
    if (!folder) return fail(plan_error_message(folder.error()).message);
    auto mounted = execute_mount_plan(json, *plan, folder->exists);
    if (!mounted) return fail(std::move(mounted).error().message);
    return {};
}

}  // namespace

Result<void, CliError> run_automount_add(bool json, const MountArgs& args) {
    auto found = find_partition_arg(args.partition);
    if (!found) return fail(std::move(found).error());
    const Partition& partition = *found;

    if (has_system_mountpoint(partition.mountpoints))
        return fail(plan_error_message(
            PlanError{PlanError::Kind::SystemPartition, join(partition.mountpoints, ", "), {}}));

    MountRequest request = build_mount_request(partition, args);
    auto planned = plan_request(partition, request);
    if (!planned) return fail(std::move(planned).error());
    const MountPlan& plan = *planned;

    if (args.dry_run) {
        print_success(json, "Would mount " + partition.path + " at " + plan.target + " at startup.");
        return {};
    }
    auto ready = confirm_and_install(json, plan, args.yes);
    if (!ready) return fail(std::move(ready).error());
    auto added = add_startup_entry(json, partition, request, plan);
    if (!added) return fail(std::move(added).error());

    print_success(json,
                  partition.path + " will be mounted at " + plan.target + " at startup, " +
                      std::string(mode_text(args.rw)) + ".",
                  nlohmann::json{{"target", plan.target}});
    return {};
}

Result<void, CliError> run_automount_remove(bool json, const std::string& target) {
    auto loaded = load_config();
    if (!loaded) return fail(std::move(loaded).error());
    std::vector<Entry> entries = std::move(loaded).value();

    if (remove_matching_entries(entries, target) == 0)
        return fail(cli_error("not-found", target + " isn't mounted at startup.", 1));
    auto saved = save_config(entries);
    if (!saved) return fail(std::move(saved).error());

    if (entries.empty()) {
        const std::string unit(kStartupUnit);
        auto disabled = run_command(json, {"systemctl", "disable", unit}, true);
        if (!disabled) print_warning("Disabling " + unit + " failed: " + disabled.error());
    }

    print_success(json,
                  target + " won't be mounted at startup any more. It stays mounted until you unmount it or restart.",
                  nlohmann::json{{"target", target}});
    return {};
}

Result<void, CliError> run_automount_list(bool json) {
    auto loaded = load_config();
    if (!loaded) return fail(std::move(loaded).error());
    const std::vector<Entry>& entries = *loaded;

    if (json) {
        print_success(json, "", nlohmann::json{{"entries", entry_to_json(entries)}});
        return {};
    }
    if (entries.empty()) {
        print_line(false, "No partitions are mounted at startup.");
        return {};
    }
    for (const Entry& entry : entries) print_line(false, entry_line(entry));
    return {};
}

Result<void, CliError> run_automount_run(bool json) {
    auto loaded = load_config();
    if (!loaded) return fail(std::move(loaded).error());
    const std::vector<Entry>& entries = *loaded;
    auto drives = read_drives();
    if (!drives) return fail(std::move(drives).error());
    const ApfsSupport apfs = check_apfs_support();

    // As in `automount list`: in text the file's and the device's texts reach a terminal or the
    // journal, so their controls are made visible.
    auto shown = [json](const std::string& text) { return json ? text : escape_controls(text); };
    std::size_t failures = 0;
    for (const Entry& entry : entries) {
        const std::string target = shown(entry.target);
        const Partition* partition = find_partition(*drives, entry.uuid);
        if (!partition) {
            print_line(json, target + ": skipped, UUID " + shown(entry.uuid) + " isn't connected");
            continue;
        }
        const auto& points = partition->mountpoints;
        if (std::find(points.begin(), points.end(), entry.target) != points.end()) {
            print_line(json, target + ": already mounted");
            continue;
        }
        auto mounted = mount_entry(json, *partition, entry, apfs);
        if (mounted) {
            print_line(json, target + ": mounted " + shown(partition->path));
        } else {
            print_line(json, target + ": not mounted: " + mounted.error());
            ++failures;
        }
    }

    if (failures > 0)
        return fail(cli_error("some-failed",
                              std::to_string(failures) + " of " + std::to_string(entries.size()) +
                                  " startup mounts failed",
                              5));
    print_success(json, "");
    return {};
}

}  // namespace tuvrek
