// automount add|remove|list|run: the startup mounts of automount.toml.
#include "automount.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "external_commands.hpp"
#include "interruption.hpp"
#include "mount.hpp"
#include "mount_steps.hpp"
#include "partition_arg.hpp"
#include "reply.hpp"
#include "startup_config.hpp"
#include "tuvrek/apfs.hpp"
#include "tuvrek/config.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/folder_path.hpp"
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

constexpr std::string_view kNoEntryAdded = "No startup entry was added.";

// Mounts one entry's partition at its canonical target; the error is the reason shown in its "not
// mounted" line.
Result<void, std::string> mount_entry(bool json, const Partition& partition, const Entry& entry,
                                      const std::string& target, const ApfsSupport& apfs) {
    // Planned from the entry alone: whoever runs this at startup plays no part.
    MountRequest request{.folder = target,
                         .read_write = entry.read_write,
                         .volume = entry.volume,
                         .uid = entry.uid,
                         .gid = entry.gid};
    auto plan = plan_mount(partition, request, apfs);
    if (!plan) return fail(plan_error_message(plan.error()).message);
    if (!plan->missing_packages.empty())
        return fail("needs " + join(plan->missing_packages, " ") + "; add it again in Brevane to install them");
    // Checked before the module is loaded; execute_mount_plan checks again right before the mount.
    auto folder = check_mount_folder(target);
    if (!folder) return fail(plan_error_message(folder.error()).message);
    auto mounted = execute_mount_plan(json, *plan);
    if (!mounted) return fail(interrupted() ? std::string("interrupted") : std::move(mounted).error().message);
    return {};
}

// The entries of a folder as typed (trailing "/" aside) or of its UUID, and those whose folder resolves
// to the same one as the argument. The others keep their order.
std::size_t remove_entries_of(std::vector<Entry>& entries, const std::string& argument) {
    std::size_t removed = 0;
    if (argument.starts_with('/')) {
        const std::string canonical = canonical_folder(argument);
        removed = std::erase_if(entries, [&](const Entry& e) { return canonical_folder(e.target) == canonical; });
    }
    return removed + remove_matching_entries(entries, argument);
}

// A partition as this run sees it: mounted also where this run mounted it, so that a second entry of
// the same UUID (a hand-edited file) is refused as already mounted instead of mounting it twice.
struct MountedHere {
    std::vector<std::pair<std::string, std::string>> mounts;  // device path, target

    Partition seen(const Partition& partition) const {
        Partition copy = partition;
        for (const auto& [device, target] : mounts)
            if (device == partition.path) copy.mountpoints.push_back(target);
        return copy;
    }
};

}  // namespace

Result<void, CliError> run_automount_add(bool json, const MountArgs& args) {
    auto found = find_partition_arg(args.partition);
    if (!found) return fail(unless_interrupted(std::move(found).error(), kNoEntryAdded));
    const Partition& partition = *found;

    if (has_system_mountpoint(partition.mountpoints))
        return fail(plan_error_message(
            PlanError{PlanError::Kind::SystemPartition, join(partition.mountpoints, ", "), {}}));

    MountRequest request = build_mount_request(partition, args);
    auto planned = plan_request(partition, request);
    if (!planned) return fail(unless_interrupted(std::move(planned).error(), kNoEntryAdded));
    const MountPlan& plan = *planned;

    if (args.dry_run) {
        print_success(json, "Would mount " + partition.path + " at " + plan.target + " at startup.");
        return {};
    }
    auto ready = confirm_and_install(json, plan, args.yes);
    if (!ready) return fail(unless_interrupted(std::move(ready).error(), kNoEntryAdded));
    if (auto stop = stop_if_interrupted(kNoEntryAdded); !stop) return stop;
    auto added = add_startup_entry(json, partition, request, plan);
    if (!added) return fail(std::move(added).error());

    const std::string message = partition.path + " will be mounted at " + plan.target + " at startup, " +
                                std::string(mode_text(args.rw)) + ".";
    if (auto stop = stop_if_interrupted(message); !stop) return stop;
    print_success(json, message, nlohmann::json{{"target", plan.target}});
    return {};
}

Result<void, CliError> run_automount_remove(bool json, const std::string& target) {
    auto loaded = load_config();
    if (!loaded) return fail(std::move(loaded).error());
    std::vector<Entry> entries = std::move(loaded).value();

    if (remove_entries_of(entries, target) == 0)
        return fail(cli_error("not-found", target + " isn't mounted at startup.", 1));
    if (auto stop = stop_if_interrupted("Nothing was changed."); !stop) return stop;
    auto saved = save_config(entries);
    if (!saved) return fail(std::move(saved).error());

    if (entries.empty()) {
        const std::string unit(kStartupUnit);
        // Even once interrupted: the entries are gone, and the service would start for nothing.
        auto disabled = run_command(json, {"systemctl", "disable", unit}, true, AfterSignal::Run);
        if (!disabled) print_warning("Disabling " + unit + " failed: " + disabled.error());
    }

    const std::string message =
        target + " won't be mounted at startup any more. It stays mounted until you unmount it or restart.";
    if (auto stop = stop_if_interrupted(message); !stop) return stop;
    print_success(json, message, nlohmann::json{{"target", target}});
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
    if (!drives) return fail(unless_interrupted(std::move(drives).error(), "Nothing was mounted."));
    const ApfsSupport apfs = check_apfs_support();

    // As in `automount list`: in text the file's and the device's texts reach a terminal or the
    // journal, so their controls are made visible.
    auto shown = [json](const std::string& text) { return json ? text : escape_controls(text); };
    MountedHere mounted_here;
    std::size_t failures = 0;
    std::size_t tried = 0;
    for (const Entry& entry : entries) {
        if (interrupted()) break;
        ++tried;
        const std::string line_start = shown(entry.target) + ": ";
        const Partition* found = find_partition(*drives, entry.uuid);
        if (!found) {
            print_line(json, line_start + "skipped, UUID " + shown(entry.uuid) + " isn't connected");
            continue;
        }
        const std::string target = canonical_folder(entry.target);
        const Partition partition = mounted_here.seen(*found);
        if (std::find(partition.mountpoints.begin(), partition.mountpoints.end(), target) !=
            partition.mountpoints.end()) {
            print_line(json, line_start + "already mounted");
            continue;
        }
        auto mounted = mount_entry(json, partition, entry, target, apfs);
        if (mounted) {
            mounted_here.mounts.emplace_back(partition.path, target);
            print_line(json, line_start + "mounted " + shown(partition.path));
        } else {
            print_line(json, line_start + "not mounted: " + mounted.error());
            ++failures;
        }
    }

    if (interrupted())
        return fail(interrupted_error(std::to_string(entries.size() - tried) + " of " +
                                      std::to_string(entries.size()) + " startup mounts were not tried."));
    if (failures > 0)
        return fail(cli_error("some-failed",
                              std::to_string(failures) + " of " + std::to_string(entries.size()) +
                                  " startup mounts failed",
                              5));
    print_success(json, "");
    return {};
}

}  // namespace tuvrek
