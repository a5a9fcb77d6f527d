#include "tuvrek/ntfs_driver.hpp"

#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <filesystem>

#include "tuvrek/text.hpp"
#include "whole_file.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;

fs::path env_path(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? fs::path(value) : fs::path(fallback);
}

std::string read_or_empty(const fs::path& path) {
    auto content = read_whole_file(path.string());
    return content ? std::move(*content) : std::string();
}

// The last field of a line of /proc/filesystems ("nodev\tsysfs", "\text4").
bool registered(std::string_view fstype) {
    const std::string table = read_or_empty(env_path("TUVREK_DISK_FILESYSTEMS", "/proc/filesystems"));
    for (const std::string_view line : split_lines(table)) {
        const auto tab = line.rfind('\t');
        if (trim_white_space(tab == std::string_view::npos ? line : line.substr(tab + 1)) == fstype) return true;
    }
    return false;
}

bool loaded(std::string_view fstype) {
    struct stat st{};
    return ::stat((env_path("TUVREK_DISK_SYS_MODULE_DIR", "/sys/module") / std::string(fstype)).c_str(), &st) == 0;
}

// A module path of modules.dep or modules.builtin ("kernel/fs/ntfs3/ntfs3.ko.xz") names this module.
bool names_module(std::string_view path, std::string_view module) {
    const auto slash = path.rfind('/');
    std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (!file.starts_with(module)) return false;
    file.remove_prefix(module.size());
    return file == ".ko" || file == ".ko.xz" || file == ".ko.zst" || file == ".ko.gz";
}

// A module of the running kernel, as depmod lists it (modules.dep, and modules.builtin for the ones
// built in), or as the kernel package lays it out where depmod never ran.
bool module_of_running_kernel(std::string_view fstype) {
    const auto release = read_whole_file("/proc/sys/kernel/osrelease");
    if (!release) return false;
    const fs::path folder = env_path("TUVREK_MODULES_DIR", "/usr/lib/modules") / trim_white_space(*release);
    for (const char* list : {"modules.dep", "modules.builtin"}) {
        const std::string modules = read_or_empty(folder / list);
        for (const std::string_view line : split_lines(modules)) {
            if (names_module(line.substr(0, line.find(':')), fstype)) return true;
        }
    }
    for (const char* suffix : {".ko", ".ko.xz", ".ko.zst", ".ko.gz"}) {
        std::error_code error;
        const fs::path file = folder / "kernel" / "fs" / std::string(fstype) / (std::string(fstype) + suffix);
        if (fs::is_regular_file(file, error)) return true;
    }
    return false;
}

}  // namespace

bool kernel_has_filesystem(std::string_view fstype) {
    return registered(fstype) || loaded(fstype) || module_of_running_kernel(fstype);
}

std::optional<std::string> ntfs_driver() {
    for (const char* driver : {"ntfs3", "ntfs"}) {
        if (kernel_has_filesystem(driver)) return std::string(driver);
    }
    return std::nullopt;
}

}  // namespace tuvrek
