#pragma once
// The mount planner: a pure function from a partition, a request and the APFS facts to a plan.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "tuvrek/apfs.hpp"
#include "tuvrek/drives.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

// Defined in cli_error.hpp, which brings the whole JSON library: only the callers of plan_error_message
// need it.
struct CliError;

struct MountRequest {
    std::string folder;  // bytes as given
    bool read_write = false;
    std::optional<std::uint32_t> volume;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
};

struct MountPlan {
    std::string device;
    std::string target;
    std::string filesystem;
    bool read_write = false;
    std::vector<std::string> missing_packages;
    std::optional<std::string> load_module;
    std::vector<std::string> command;
    bool experimental = false;
    bool may_fall_back_to_read_only = false;
    std::vector<std::string> warnings;

    bool operator==(const MountPlan&) const = default;
};

struct PlanError {
    enum class Kind {
        NoFilesystem,
        SystemPartition,
        AlreadyMounted,
        Encrypted,
        Unsupported,
        VolumeNotApfs,
        FolderNotAbsolute,
        FolderNotAFolder,
        FolderNotEmpty,
        FolderInUse,
    };
    Kind kind;
    std::string text;                      // SystemPartition (joined), Encrypted, Unsupported
    std::vector<std::string> mountpoints;  // AlreadyMounted

    // The stable kebab-case code, such as "already-mounted".
    std::string_view code() const;
};

Result<MountPlan, PlanError> plan_mount(const Partition& partition, const MountRequest& request,
                                        const ApfsSupport& apfs);
std::vector<std::string> mount_command(std::string_view device, std::string_view target,
                                       std::string_view fstype, std::string options);
CliError plan_error_message(const PlanError& error);

// Whether partitions of this kind can be mounted at all: encrypted, swap and unknown ones can't.
bool is_mountable(Filesystem::Kind kind);
// The warning a person accepts before an experimental write, or nothing when the plan isn't one.
const std::string* experimental_warning(const MountPlan& plan);
// The plan's warnings but the experimental one: that was accepted before the mount, or with --yes.
std::vector<std::string> warnings_after_mount(const MountPlan& plan);
nlohmann::json plan_to_json(const MountPlan& plan);

}  // namespace tuvrek
