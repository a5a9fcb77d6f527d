#include "tuvrek/folders.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "dir_handle.hpp"
#include "state_files.hpp"
#include "tuvrek/folder_path.hpp"
#include "tuvrek/listing.hpp"
#include "tuvrek/mountinfo.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

// The longest name a folder can have (NAME_MAX), in bytes.
constexpr std::size_t kMaxName = 255;

// Cut after the last whole character that fits: a cut inside a UTF-8 sequence would leave a broken one.
void cut_to_name_length(std::string& name) {
    if (name.size() <= kMaxName) return;
    std::size_t end = kMaxName;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name.resize(end);
}

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
    out.erase(0, first);
    cut_to_name_length(out);
    out.erase(out.find_last_not_of('.') + 1);  // a cut may end on a dot, which the rule above removes
    return out;
}

Failure<PlanError> refuse(PlanError::Kind kind) { return fail(PlanError{kind, {}, {}}); }

}  // namespace

std::string default_mount_folder(const Partition& partition) {
    std::string name = sanitise_label(partition_display_label(partition));
    if (name.empty()) {
        name = partition.name;
        cut_to_name_length(name);
    }
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

Result<FolderCheck, PlanError> check_mount_folder(std::string_view canonical) {
    using E = PlanError::Kind;

    if (canonical.empty() || canonical.front() != '/') return refuse(E::FolderNotAbsolute);

    // Resolved again: a system folder is refused however it is spelled or wherever a link now leads.
    const std::string resolved = canonical_folder(canonical);
    if (is_system_folder(resolved)) return refuse(E::FolderNotEmpty);
    // A link swapped in since the caller resolved it: what is checked would not be what gets mounted on.
    if (resolved != canonical) return refuse(E::FolderNotAFolder);

    // A path with a NUL byte names nothing on disk; the C calls would see only its first part.
    if (holds_nul(canonical)) return FolderCheck{false};
    const std::string path(canonical);

    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return FolderCheck{false};
    if (!S_ISDIR(info.st_mode)) return refuse(E::FolderNotAFolder);

    if (mount_at(path)) return refuse(E::FolderInUse);

    const DirHandle listing(opendir(path.c_str()));
    if (!listing) return refuse(E::FolderNotEmpty);
    if (!is_folder_empty(listing.get())) return refuse(E::FolderNotEmpty);
    return FolderCheck{true};
}

Result<bool, int> create_mount_folder(std::string_view canonical) {
    if (canonical.empty() || canonical.front() != '/' || holds_nul(canonical)) return fail(EINVAL);
    return make_folders(canonical, Links::Refuse);
}

}  // namespace tuvrek
