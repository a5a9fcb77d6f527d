#include "tuvrek/apfs.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "dir_handle.hpp"
#include "tuvrek/ntfs_driver.hpp"
#include "tuvrek/process.hpp"
#include "tuvrek/text.hpp"
#include "whole_file.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;

// A whole file as UTF-8 text; nothing when it can't be read (a folder named pkgbase, say) or isn't UTF-8.
std::optional<std::string> read_text(const fs::path& path) {
    auto content = read_whole_file(path.string());
    if (!content || !is_valid_utf8(*content)) return std::nullopt;
    return std::move(*content);
}

// The variable's value when set (even empty), else the default.
fs::path env_path(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? fs::path(value) : fs::path(fallback);
}

// One step over a modules folder: the content of the next entry's pkgbase file that can be read.
std::optional<std::string> read_kernel_pkgbase(DIR* dir, const fs::path& folder) {
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (auto content = read_text(folder / name / "pkgbase")) return content;
    }
    return std::nullopt;
}

std::string headers_package_for(const fs::path& modules, const std::string& release) {
    std::optional<std::string> chosen = read_text(modules / release / "pkgbase");
    if (!chosen) {
        // No folder for the running release (a kernel updated but not yet rebooted, say):
        // take the greatest package base among the installed kernels.
        std::vector<std::string> candidates;
        if (DirHandle dir{opendir(modules.c_str())}) {
            while (auto content = read_kernel_pkgbase(dir.get(), modules)) candidates.push_back(std::move(*content));
        }
        if (!candidates.empty()) chosen = *std::max_element(candidates.begin(), candidates.end());
    }
    const std::string base = chosen ? trim_white_space(*chosen) : std::string();
    return base.empty() ? "linux-headers" : base + "-headers";
}

bool module_available() {
    const fs::path folder = env_path("TUVREK_DISK_SYS_MODULE_DIR", "/sys/module");
    struct stat st{};
    if (::stat((folder / "apfs").c_str(), &st) == 0) return true;
    SpawnOptions options;
    options.out = Stream::Null;
    options.err = Stream::Null;
    const auto ran = run_process({"modinfo", "apfs"}, options);
    return ran && ran->status.success();
}

bool fuse_available() {
    const char* search = std::getenv("PATH");
    if (search == nullptr) return false;
    std::string_view rest = search;
    while (true) {
        const auto colon = rest.find(':');
        // An empty piece is the current folder: path("") / name is just name.
        const fs::path candidate = fs::path(std::string(rest.substr(0, colon))) / "apfs-fuse";
        struct stat st{};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

// The first white-space separated word of a line, white space in the Unicode sense.
std::optional<std::string> first_word(std::string_view line) {
    std::size_t i = 0;
    std::optional<std::size_t> begin;
    while (i < line.size()) {
        const std::size_t start = i;
        const bool blank = is_white_space(next_code_point(line, i));
        if (!begin && !blank) begin = start;
        if (begin && blank) return std::string(line.substr(*begin, start - *begin));
    }
    if (!begin) return std::nullopt;
    return std::string(line.substr(*begin));
}

std::set<std::string> installed_packages(const std::string& headers_package) {
    SpawnOptions options;
    options.out = Stream::Capture;
    options.err = Stream::Null;
    // pacman -Q exits non-zero when any one is missing but still lists the others.
    const auto ran =
        run_process({"pacman", "-Q", "apfs-fuse-git", "linux-apfs-rw-dkms-git", "dkms", headers_package}, options);
    std::set<std::string> installed;
    if (!ran) return installed;
    const std::string text = lossy_utf8(ran->out);
    for (const std::string_view line : split_lines(text)) {
        if (auto word = first_word(line)) installed.insert(std::move(*word));
    }
    return installed;
}

}  // namespace

ApfsSupport check_apfs_support() {
    ApfsSupport support;
    const auto osrelease = read_text("/proc/sys/kernel/osrelease");
    const std::string release = osrelease ? trim_white_space(*osrelease) : std::string();
    support.headers_package = headers_package_for(env_path("TUVREK_MODULES_DIR", "/usr/lib/modules"), release);
    support.module_available = module_available();
    support.fuse_available = fuse_available();
    support.installed = installed_packages(support.headers_package);
    support.ntfs_driver = ntfs_driver();
    return support;
}

}  // namespace tuvrek
