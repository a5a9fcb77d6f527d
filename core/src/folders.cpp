#include "tuvrek/folders.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dir_handle.hpp"
#include "tuvrek/guards.hpp"
#include "tuvrek/listing.hpp"
#include "tuvrek/mountinfo.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

// A label as one path component: blanks become "-", separators and punctuation are dropped.
std::string sanitise_label(std::string_view label) {
    const std::string text = lossy_utf8(label);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        const char32_t c = next_code_point(text, i);
        if (is_white_space(c)) {
            out += '-';
        } else if (c == '-' || c == '_' || c == '.' || is_alphanumeric(c)) {
            out.append(text, start, i - start);
        }
    }
    const std::size_t first = out.find_first_not_of('.');
    if (first == std::string::npos) return {};
    const std::size_t last = out.find_last_not_of('.');
    return out.substr(first, last - first + 1);
}

Failure<PlanError> refuse(PlanError::Kind kind) { return fail(PlanError{kind, {}, {}}); }

}  // namespace

std::string default_mount_folder(const Partition& partition) {
    std::string name = sanitise_label(partition_display_label(partition));
    if (name.empty()) name = partition.name;
    return "/mnt/" + name;
}

bool is_folder_empty(DIR* listing) {
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(listing);
        if (entry == nullptr) return errno == 0;  // an error reading counts as not empty
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) return false;
    }
}

Result<FolderCheck, PlanError> check_mount_folder(std::string_view folder) {
    using E = PlanError::Kind;

    if (folder.empty() || folder.front() != '/') return refuse(E::FolderNotAbsolute);

    const std::string text = lossy_utf8(folder);
    const std::string_view trimmed = strip_trailing_slashes(text);
    if (text == "/" || std::find(SYSTEM_FOLDERS.begin(), SYSTEM_FOLDERS.end(), trimmed) != SYSTEM_FOLDERS.end()) {
        return refuse(E::FolderNotEmpty);
    }

    // A path with a NUL byte names nothing on disk; the C calls would see only its first part.
    if (holds_nul(folder)) return FolderCheck{false};
    const std::string path(folder);

    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return FolderCheck{false};
    if (!S_ISDIR(info.st_mode)) return refuse(E::FolderNotAFolder);

    if (mount_at(folder)) return refuse(E::FolderInUse);

    const DirHandle listing(opendir(path.c_str()));
    if (!listing) return refuse(E::FolderNotEmpty);
    if (!is_folder_empty(listing.get())) return refuse(E::FolderNotEmpty);
    return FolderCheck{true};
}

}  // namespace tuvrek
