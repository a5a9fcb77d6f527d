// plan and mount: find the partition, plan its mount, then show the plan or carry it out.
#include "mount.hpp"

#include <string>

#include "mount_steps.hpp"
#include "partition_arg.hpp"
#include "reply.hpp"
#include "startup_config.hpp"
#include "tuvrek/apfs.hpp"
#include "tuvrek/folders.hpp"
#include "tuvrek/owner.hpp"

namespace tuvrek {

namespace {

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

}  // namespace

MountRequest build_mount_request(const Partition& partition, const MountArgs& args) {
    const UserIdentity owner = user_identity();
    MountRequest request;
    request.folder = args.dir ? *args.dir : default_mount_folder(partition);
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
    if (!planned) return fail(std::move(planned.error()));
    const Partition& partition = planned->partition;
    const MountRequest& request = planned->request;
    MountPlan plan = std::move(planned->plan);

    // A dry run shows the commands only, and prints them even under --json.
    if (args.dry_run) {
        print_plan_and_warnings(plan);
        return {};
    }

    auto folder = check_mount_folder(request.folder);
    if (!folder) return fail(plan_error_message(folder.error()));
    const bool exists = folder->exists;

    auto ready = confirm_and_install(json, plan, args.yes);
    if (!ready) return fail(std::move(ready.error()));
    if (!plan.missing_packages.empty()) {
        auto replanned = plan_request(partition, request);
        if (!replanned) return fail(std::move(replanned.error()));
        plan = std::move(*replanned);
    }

    auto done = execute_mount_plan(json, plan, exists);
    if (!done) return fail(std::move(done.error()));
    const bool read_write = *done;

    for (const auto& warning : warnings_after_mount(plan)) print_warning(warning);

    std::string message = "Mounted " + plan.device + " at " + plan.target + " (";
    message += mode_text(read_write);
    message += ").";
    if (args.startup) {
        auto added = add_startup_entry(json, partition, request, plan);
        if (!added) return fail(std::move(added.error()));
        message += " It will be mounted at startup too.";
    }
    print_success(json, message, nlohmann::json{{"target", plan.target}, {"read_write", read_write}});
    return {};
}

}  // namespace tuvrek
