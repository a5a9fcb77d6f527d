#include "tuvrek/planner.hpp"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/filesystem.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

constexpr std::string_view kWarnApfsWrite =
    "Writing to APFS from Linux is experimental and can damage the drive. Back it up first, and shut "
    "macOS down fully (not sleep) before mounting.";
constexpr std::string_view kWarnFileVault =
    "FileVault-encrypted volumes can't be mounted read/write; mount them read-only.";
constexpr std::string_view kWarnHfs =
    "Linux writes to HFS+ only when its journal is off. If it mounts read-only, turn journaling off in "
    "macOS with: diskutil disableJournal <volume>";
constexpr std::string_view kWarnOwners =
    "Files keep the owners they have on this filesystem; you may need sudo to change ones your user "
    "doesn't own.";

constexpr std::string_view kApfsModule = "apfs";

// The one rule telling the experimental warning from the others: it says so.
bool is_experimental(std::string_view warning) { return warning.find("experimental") != std::string_view::npos; }

std::string fuse_root_warning(std::string_view trimmed_target) {
    std::string out = "With apfs-fuse your files are under ";
    out += trimmed_target;
    out += "/root (for example ";
    out += trimmed_target;
    out += "/root/Users).";
    return out;
}

void plan_apfs(MountPlan& plan, const MountRequest& request, const ApfsSupport& apfs,
               std::string_view device, const std::string& owner) {
    std::string vol;
    if (request.volume) vol = ",vol=" + std::to_string(*request.volume);

    if (request.read_write) {
        // Writing needs the kernel driver; its packages only matter while the module is missing.
        if (!apfs.module_available) {
            static const std::string kDriverPackages[] = {"linux-apfs-rw-dkms-git", "dkms"};
            for (const std::string& name : kDriverPackages) {
                if (!apfs.installed.contains(name)) plan.missing_packages.push_back(name);
            }
            if (!apfs.installed.contains(apfs.headers_package)) {
                plan.missing_packages.push_back(apfs.headers_package);
            }
        }
        plan.load_module = std::string(kApfsModule);
        plan.command = mount_command(device, plan.target, "apfs", "readwrite," + owner + vol);
        plan.experimental = true;
        plan.warnings.emplace_back(kWarnApfsWrite);
        plan.warnings.emplace_back(kWarnFileVault);
        return;
    }

    if (!apfs.fuse_available && apfs.module_available) {
        plan.load_module = std::string(kApfsModule);
        plan.command = mount_command(device, plan.target, "apfs", "ro," + owner + vol);
        return;
    }

    // Reading goes through apfs-fuse whenever it is on the path, even with the module there.
    static const std::string kFusePackage = "apfs-fuse-git";
    if (!apfs.fuse_available && !apfs.installed.contains(kFusePackage)) {
        plan.missing_packages.push_back(kFusePackage);
    }
    plan.command.reserve(8);
    plan.command.emplace_back("apfs-fuse");
    plan.command.emplace_back("-o");
    plan.command.push_back("allow_other," + owner);
    if (request.volume) {
        plan.command.emplace_back("-v");
        plan.command.push_back(std::to_string(*request.volume));
    }
    plan.command.emplace_back(device);
    plan.command.push_back(plan.target);
    plan.warnings.push_back(fuse_root_warning(strip_trailing_slashes(plan.target)));
}

}  // namespace

std::string_view PlanError::code() const {
    switch (kind) {
        case Kind::NoFilesystem: return "no-filesystem";
        case Kind::SystemPartition: return "system-partition";
        case Kind::AlreadyMounted: return "already-mounted";
        case Kind::Encrypted: return "encrypted";
        case Kind::Unsupported: return "unsupported";
        case Kind::VolumeNotApfs: return "volume-not-apfs";
        case Kind::FolderNotAbsolute: return "folder-not-absolute";
        case Kind::FolderNotAFolder: return "folder-not-a-folder";
        case Kind::FolderNotEmpty: return "folder-not-empty";
        case Kind::FolderInUse: return "folder-in-use";
    }
    return "unknown";
}

std::vector<std::string> mount_command(std::string_view device, std::string_view target,
                                       std::string_view fstype, std::string options) {
    std::vector<std::string> command;
    command.reserve(7);
    command.emplace_back("mount");
    command.emplace_back("-t");
    command.emplace_back(fstype);
    command.emplace_back("-o");
    command.push_back(std::move(options));
    command.emplace_back(device);
    command.emplace_back(target);
    return command;
}

Result<MountPlan, PlanError> plan_mount(const Partition& partition, const MountRequest& request,
                                        const ApfsSupport& apfs) {
    using Kind = Filesystem::Kind;
    using E = PlanError::Kind;

    if (!partition.fs) return fail(PlanError{E::NoFilesystem, {}, {}});
    const Filesystem& fs = *partition.fs;

    if (has_system_mountpoint(partition.mountpoints)) {
        return fail(PlanError{E::SystemPartition, join(partition.mountpoints, ", "), {}});
    }
    if (!partition.mountpoints.empty()) {
        return fail(PlanError{E::AlreadyMounted, {}, partition.mountpoints});
    }
    if (request.volume && fs.kind != Kind::Apfs) return fail(PlanError{E::VolumeNotApfs, {}, {}});
    if (request.folder.empty() || request.folder.front() != '/') {
        return fail(PlanError{E::FolderNotAbsolute, {}, {}});
    }

    MountPlan plan;
    plan.device = partition.path;
    plan.target = lossy_utf8(request.folder);
    plan.filesystem = display_name(fs);
    plan.read_write = request.read_write;

    if (!is_mountable(fs.kind)) {
        const bool encrypted = fs.kind == Kind::Luks || fs.kind == Kind::BitLocker;
        return fail(PlanError{encrypted ? E::Encrypted : E::Unsupported, std::move(plan.filesystem), {}});
    }

    const std::string owner =
        "uid=" + std::to_string(request.uid) + ",gid=" + std::to_string(request.gid);
    const std::string_view access = request.read_write ? "rw" : "ro";

    // Foreign filesystems have no Unix owners: the request's uid and gid stand in for them.
    auto foreign = [&](std::string_view fstype) {
        std::string options(access);
        options += ',';
        options += owner;
        plan.command = mount_command(plan.device, plan.target, fstype, std::move(options));
    };
    auto native = [&](std::string_view fstype) {
        plan.command = mount_command(plan.device, plan.target, fstype, std::string(access));
        if (request.read_write) plan.warnings.emplace_back(kWarnOwners);
    };

    switch (fs.kind) {
        case Kind::HfsPlus:
            foreign("hfsplus");
            plan.may_fall_back_to_read_only = request.read_write;
            if (request.read_write) plan.warnings.emplace_back(kWarnHfs);
            break;
        // A kernel without ntfs3 may have a read/write driver of its own under the name ntfs; with
        // neither, ntfs3 is asked for and the failed mount says why.
        case Kind::Ntfs: foreign(apfs.ntfs_driver.value_or("ntfs3")); break;
        case Kind::Exfat: foreign("exfat"); break;
        case Kind::Vfat: foreign("vfat"); break;
        case Kind::Ext: native(fs.name); break;
        case Kind::Btrfs: native("btrfs"); break;
        case Kind::Xfs: native("xfs"); break;
        case Kind::F2fs: native("f2fs"); break;
        case Kind::Apfs: plan_apfs(plan, request, apfs, plan.device, owner); break;
        case Kind::Luks:
        case Kind::BitLocker:
        case Kind::Swap:
        case Kind::Other: break;  // refused above
    }
    return plan;
}

bool is_mountable(Filesystem::Kind kind) {
    using Kind = Filesystem::Kind;
    switch (kind) {
        case Kind::Apfs:
        case Kind::HfsPlus:
        case Kind::Ntfs:
        case Kind::Exfat:
        case Kind::Vfat:
        case Kind::Ext:
        case Kind::Btrfs:
        case Kind::Xfs:
        case Kind::F2fs:
            return true;
        case Kind::Luks:
        case Kind::BitLocker:
        case Kind::Swap:
        case Kind::Other:
            return false;
    }
    return false;
}

const std::string* experimental_warning(const MountPlan& plan) {
    if (!plan.experimental) return nullptr;
    const auto found = std::find_if(plan.warnings.begin(), plan.warnings.end(),
                                    [](const std::string& warning) { return is_experimental(warning); });
    return found == plan.warnings.end() ? nullptr : &*found;
}

std::vector<std::string> warnings_after_mount(const MountPlan& plan) {
    std::vector<std::string> kept;
    std::copy_if(plan.warnings.begin(), plan.warnings.end(), std::back_inserter(kept),
                 [](const std::string& warning) { return !is_experimental(warning); });
    return kept;
}

CliError plan_error_message(const PlanError& error) {
    using E = PlanError::Kind;
    std::string message;
    switch (error.kind) {
        case E::NoFilesystem: message = "This partition has no filesystem to mount."; break;
        case E::SystemPartition:
            message = "This partition is part of the running system (mounted at " + error.text + ").";
            break;
        case E::AlreadyMounted:
            message = "This partition is already mounted at " + join(error.mountpoints, ", ") + ".";
            break;
        case E::Encrypted:
            message = "This partition is encrypted with " + error.text +
                      ". Unlock it first; unlocking isn't supported here yet.";
            break;
        case E::Unsupported: message = "Mounting " + error.text + " partitions isn't supported."; break;
        case E::VolumeNotApfs: message = "A volume number only applies to APFS partitions."; break;
        case E::FolderNotAbsolute: message = "The mount folder must be a full path, such as /mnt/mac."; break;
        case E::FolderNotAFolder: message = "The mount folder exists and isn't a folder."; break;
        case E::FolderNotEmpty:
            message =
                "The mount folder isn't empty. Mounting over it would hide its files; pick an empty or new "
                "folder.";
            break;
        case E::FolderInUse: message = "Something is already mounted on that folder."; break;
    }
    return CliError{std::string(error.code()), std::move(message), nullptr, 3};
}

nlohmann::json plan_to_json(const MountPlan& plan) {
    nlohmann::json out = nlohmann::json::object();
    out["device"] = plan.device;
    out["target"] = plan.target;
    out["filesystem"] = plan.filesystem;
    out["read_write"] = plan.read_write;
    out["missing_packages"] = plan.missing_packages;
    out["load_module"] = plan.load_module ? nlohmann::json(*plan.load_module) : nlohmann::json(nullptr);
    out["command"] = plan.command;
    out["experimental"] = plan.experimental;
    out["may_fall_back_to_read_only"] = plan.may_fall_back_to_read_only;
    out["warnings"] = plan.warnings;
    return out;
}

}  // namespace tuvrek
