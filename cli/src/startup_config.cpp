#include "startup_config.hpp"

#include <string>
#include <utility>

#include "external_commands.hpp"
#include "reply.hpp"

namespace tuvrek {

Result<std::vector<Entry>, CliError> load_config() {
    auto entries = load_automount_config();
    if (!entries) return fail(cli_error("config", std::move(entries).error(), 1));
    return std::move(entries).value();
}

Result<void, CliError> save_config(const std::vector<Entry>& entries) {
    auto saved = save_automount_config(entries);
    if (!saved) return fail(cli_error("config", std::move(saved).error(), 1));
    return {};
}

Result<void, CliError> add_startup_entry(bool json, const Partition& partition, const MountRequest& request,
                                         const MountPlan& plan) {
    if (!partition.uuid) {
        return fail(cli_error("no-uuid", partition.path + " has no UUID to find it by at startup.", 3));
    }
    auto loaded = load_config();
    if (!loaded) return fail(std::move(loaded).error());
    std::vector<Entry> entries = std::move(loaded).value();

    Entry entry;
    entry.uuid = *partition.uuid;
    entry.target = plan.target;
    entry.read_write = request.read_write;
    entry.volume = request.volume;
    entry.uid = request.uid;
    entry.gid = request.gid;
    entry.filesystem = plan.filesystem;
    add_or_replace_entry(entries, std::move(entry));

    auto saved = save_config(entries);
    if (!saved) return fail(std::move(saved).error());

    // The entry is saved either way; a service that won't enable is the user's to sort out. Enabled
    // even once interrupted: the entry is saved, and without the service it would not be mounted.
    auto enabled = run_command(json, {"systemctl", "enable", std::string(kStartupUnit)}, true, AfterSignal::Run);
    if (!enabled) print_warning("Enabling " + std::string(kStartupUnit) + " failed: " + enabled.error());
    return {};
}

}  // namespace tuvrek
