// plan and mount: find the partition, plan its mount, then show the plan or carry it out.
#include "mount.hpp"

#include <string>

#include "interruption.hpp"
#include "mount_steps.hpp"
#include "partition_arg.hpp"
#include "reply.hpp"
#include "startup_config.hpp"
#include "tuvrek/apfs.hpp"
#include "tuvrek/folder_path.hpp"
#include "tuvrek/folders.hpp"
#include "tuvrek/owner.hpp"

namespace tuvrek {

namespace {

constexpr std::string_view kNothingMounted = "Nothing was mounted.";

struct Planned {
    Partition partition;
    MountRequest request;
    MountPlan plan;
};

Result<Planned, CliError> find_and_plan(const MountArgs& args) {
    auto partition = find_partition_arg(args.partition);
    if (!partition) return fail(std::move(partition.error()));
    MountRequest request = build_mount_request(*partition, args);
    auto plan = plan_request(*partition, request);
    if (!plan) return fail(std::move(plan.error()));
    return Planned{std::move(*partition), std::move(request), std::move(*plan)};
}

void print_plan_and_warnings(const MountPlan& plan) {
    print_dry_run_plan(plan);
    for (const auto& warning : plan.warnings) print_warning(warning);
}

// The questions and the installation; the packages may change the plan, so it is made again after them.
Result<MountPlan, CliError> ready_to_mount(bool json, const Partition& partition, const MountRequest& request,
                                           MountPlan plan, bool yes) {
    auto ready = confirm_and_install(json, plan, yes);
    if (!ready) return fail(std::move(ready).error());
    if (plan.missing_packages.empty()) return plan;
    return plan_request(partition, request);
}

// After the mount landed: the warnings left, the startup entry, and the reply. A signal that came
// meanwhile is told, with all that was done.
Result<void, CliError> report_mount(bool json, const MountArgs& args, const Partition& partition,
                                    const MountRequest& request, const MountPlan& plan, bool read_write) {
    for (const auto& warning : warnings_after_mount(plan)) print_warning(warning);

    std::string message = "Mounted " + plan.device + " at " + plan.target + " (";
    message += mode_text(read_write);
    message += ").";
    if (args.startup) {
        auto added = add_startup_entry(json, partition, request, plan);
        if (!added) return fail(unless_interrupted(std::move(added).error(), message));
        message += " It will be mounted at startup too.";
    }
    if (auto stop = stop_if_interrupted(message); !stop) return stop;
    print_success(json, message, nlohmann::json{{"target", plan.target}, {"read_write", read_write}});
    return {};
}

}  // namespace

MountRequest build_mount_request(const Partition& partition, const MountArgs& args) {
    const UserIdentity owner = user_identity();
    MountRequest request;
    // Resolved once, here: every guard, the record, the commands and the reply use this one path.
    request.folder = canonical_folder(args.dir ? *args.dir : default_mount_folder(partition));
    request.read_write = args.rw;
    request.volume = args.volume;
    request.uid = args.uid.value_or(owner.uid);
    request.gid = args.gid.value_or(owner.gid);
    return request;
}

Result<MountPlan, CliError> plan_request(const Partition& partition, const MountRequest& request) {
    // Gathered afresh for every plan: an installation in between may have changed the answer.
    ApfsSupport apfs = check_apfs_support();
    auto planned = plan_mount(partition, request, apfs);
    if (!planned) return fail(plan_error_message(planned.error()));
    return std::move(*planned);
}

std::string_view mode_text(bool read_write) { return read_write ? "read/write" : "read-only"; }

Result<void, CliError> run_plan(bool json, const MountArgs& args) {
    auto planned = find_and_plan(args);
    if (!planned) return fail(std::move(planned.error()));
    if (json) {
        print_success(true, "", nlohmann::json{{"plan", plan_to_json(planned->plan)}});
    } else {
        print_plan_and_warnings(planned->plan);
    }
    return {};
}

Result<void, CliError> run_mount(bool json, const MountArgs& args) {
    auto planned = find_and_plan(args);
    if (!planned) return fail(unless_interrupted(std::move(planned).error(), kNothingMounted));
    const Partition& partition = planned->partition;
    const MountRequest& request = planned->request;

    // A dry run shows the commands only, and prints them even under --json.
    if (args.dry_run) {
        print_plan_and_warnings(planned->plan);
        return {};
    }

    // Refused before anything is asked or installed; checked again right before the mount.
    auto folder = check_mount_folder(request.folder);
    if (!folder) return fail(plan_error_message(folder.error()));

    auto plan = ready_to_mount(json, partition, request, std::move(planned->plan), args.yes);
    if (!plan) return fail(unless_interrupted(std::move(plan).error(), kNothingMounted));
    auto done = execute_mount_plan(json, *plan);
    if (!done) return fail(unless_interrupted(std::move(done).error(), kNothingMounted));
    return report_mount(json, args, partition, request, *plan, *done);
}

}  // namespace tuvrek
