// Carrying a mount plan out: the questions, the packages, then module, folder, mount and record.
#include "mount_steps.hpp"

#include <unistd.h>

#include "external_commands.hpp"
#include "interruption.hpp"
#include "reply.hpp"
#include "tuvrek/folders.hpp"
#include "tuvrek/mountinfo.hpp"
#include "tuvrek/ntfs_driver.hpp"
#include "tuvrek/records.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {

namespace {

constexpr std::string_view kFileVaultHint =
    "\nIf the volume is FileVault-encrypted, mount it read-only from a terminal (apfs-fuse asks for the "
    "password). If macOS is asleep or hibernated, shut it down fully first.";
constexpr std::string_view kNoNtfsDriverHint =
    "\nThis kernel has no NTFS driver (ntfs3 or ntfs), so Windows partitions can't be mounted until you start "
    "a kernel that has one.";

// The folder checked again right before the mount, after any installation or module load, and made
// when missing: what was checked before the questions may have changed meanwhile (a file written into
// it, a symbolic link swapped in). Gives whether this run made it.
Result<bool, CliError> prepare_folder(const std::string& target) {
    auto checked = check_mount_folder(target);
    if (!checked) return fail(plan_error_message(checked.error()));
    if (checked->exists) return false;
    auto made = create_mount_folder(target);
    if (!made) return fail(cli_error("mkdir", target + ": " + os_error_text(made.error()), 5));
    return *made;
}

Result<void, CliError> load_module(bool json, const MountPlan& plan) {
    if (!plan.load_module) return {};
    auto loaded = run_command(json, {"modprobe", *plan.load_module}, true);
    if (loaded) return {};
    return fail(cli_error("module",
                          "The " + *plan.load_module + " driver didn't load (" + loaded.error() +
                              "). If it was just installed, restart once and try again.",
                          5));
}

CliError mount_failed_error(const MountPlan& plan, const std::string& reason) {
    std::string message = "Mounting " + plan.device + " failed: " + reason;
    if (plan.filesystem == "APFS") message += kFileVaultHint;
    if (plan.filesystem == "NTFS" && !ntfs_driver()) message += kNoNtfsDriverHint;
    return cli_error("mount-failed", std::move(message), 5);
}

// The mount stands even when it can't be recorded, but then unmounting won't find the record.
void record_mount(const MountPlan& plan, bool created_dir) {
    std::vector<Record> records = read_mount_records();
    std::erase_if(records, [&](const Record& r) { return r.target == plan.target; });
    records.push_back(Record{plan.device, plan.target, created_dir});
    auto written = write_mount_records(records);
    if (!written) {
        print_warning(plan.device + " is mounted at " + plan.target + ", but the mount couldn't be recorded in " +
                      records_path() + ": " + written.error());
    }
}

// Any filesystem asked for writing may come up read-only (a journaled HFS+ volume, a Windows volume
// left hibernated, one with errors), and mount still succeeds: only the kernel's table tells.
bool kept_read_only(const MountPlan& plan) {
    auto entry = mount_at(plan.target);
    if (!entry || !entry->read_only()) return false;
    if (plan.may_fall_back_to_read_only) {
        print_warning(plan.device +
                      " was mounted read-only: its journal is on. Turn it off in macOS with "
                      "`diskutil disableJournal`, then mount it again.");
    } else {
        print_warning(plan.device +
                      " was mounted read-only: the kernel kept it from writing, and `dmesg` says why (a "
                      "Windows volume left hibernated or with Fast Startup on is the usual case).");
    }
    return true;
}

}  // namespace

Result<void, CliError> install_missing_packages(bool json, const std::vector<std::string>& packages, bool yes) {
    const std::string joined = join(packages, " ");
    if (!yes) {
        print_line(json, "Mounting this needs packages that aren't installed: " + joined);
        if (!confirm("Install them now?")) {
            return fail(needs_packages_error(packages, "Not mounted: it needs " + joined +
                                                           ". Install them with `sudo pacman -S " + joined +
                                                           "`, or run again and answer yes."));
        }
    }
    std::vector<std::string> argv{"pacman", "-S", "--needed", "--noconfirm"};
    argv.insert(argv.end(), packages.begin(), packages.end());
    // pacman talks to the terminal itself: its progress and questions are its own.
    auto ran = run_command(json, argv, false);
    if (!ran) return fail(needs_packages_error(packages, "Installing " + joined + " failed: " + ran.error()));
    return {};
}

Result<void, CliError> confirm_and_install(bool json, const MountPlan& plan, bool yes) {
    if (!yes && plan.experimental) {
        if (const std::string* warning = experimental_warning(plan)) print_warning(*warning);
        if (!confirm("Mount it read/write anyway?")) return fail(not_confirmed_error());
    }
    if (plan.missing_packages.empty()) return {};
    return install_missing_packages(json, plan.missing_packages, yes);
}

Result<bool, CliError> execute_mount_plan(bool json, const MountPlan& plan) {
    if (auto loaded = load_module(json, plan); !loaded) return fail(std::move(loaded).error());
    if (auto stop = stop_if_interrupted("Nothing was mounted."); !stop) return fail(std::move(stop).error());

    auto folder = prepare_folder(plan.target);
    if (!folder) return fail(std::move(folder).error());
    const bool created_dir = *folder;

    auto mounted = run_command(json, plan.command, true);
    // A signal may end the command after the kernel took the mount; nothing else mounts here meanwhile
    // (the folder was checked under the lock), so the table tells whether it landed.
    const bool landed = mounted || (interrupted() && mount_at(plan.target));
    if (!landed) {
        // Only the last component goes: parents may hold other mounts' folders.
        if (created_dir) (void)::rmdir(plan.target.c_str());
        return fail(mount_failed_error(plan, mounted.error()));
    }

    record_mount(plan, created_dir);
    return plan.read_write && !kept_read_only(plan);
}

void print_dry_run_plan(const MountPlan& plan) {
    if (!plan.missing_packages.empty())
        print_line(false, "sudo pacman -S --needed " + join(plan.missing_packages, " "));
    if (plan.load_module) print_line(false, "sudo modprobe " + *plan.load_module);
    print_line(false, "sudo mkdir -p " + shell_join({plan.target}));
    print_line(false, "sudo " + shell_join(plan.command));
}

}  // namespace tuvrek
