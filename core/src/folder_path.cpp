#include "tuvrek/folder_path.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tuvrek/guards.hpp"
#include "tuvrek/text.hpp"
#include "tuvrek/unique_fd.hpp"

namespace tuvrek {
namespace {

// The kernel gives up a lookup after this many symbolic links (ELOOP).
constexpr int kMaxLinks = 40;

// A component still to walk, and the typed component it comes from (itself, or a link it led to).
struct Step {
    std::string name;
    std::size_t typed;
};

// The components of a path but the empty ones and ".", in order.
std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t end = std::min(path.find('/', i), path.size());
        const std::string_view part = path.substr(i, end - i);
        if (!part.empty() && part != ".") out.push_back(part);
        i = end + 1;
    }
    return out;
}

void append(std::string& path, std::string_view name) {
    if (path != "/") path += '/';
    path += name;
}

void drop_last(std::string& path) {
    const std::size_t slash = path.rfind('/');
    path.resize(slash == 0 || slash == std::string::npos ? 1 : slash);
}

// Pushed last first, so that the back of the stack is the next component to walk.
void push_reversed(std::vector<Step>& stack, const std::vector<std::string_view>& parts, std::size_t typed) {
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) stack.push_back(Step{std::string(*it), typed});
}

// A link's target, or nothing when it can't be read. Linux keeps targets below PATH_MAX bytes.
std::optional<std::string> link_target(int link_fd) {
    std::array<char, PATH_MAX + 1> buffer{};
    const ssize_t length = ::readlinkat(link_fd, "", buffer.data(), buffer.size());
    if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

UniqueFd open_root() { return UniqueFd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)); }

}  // namespace

std::string canonical_folder(std::string_view folder) {
    if (folder.empty() || folder.front() != '/') return std::string(folder);

    const std::vector<std::string_view> typed = components(folder);
    std::vector<Step> stack;
    stack.reserve(typed.size());
    push_reversed(stack, typed, 0);
    for (std::size_t i = 0; i < stack.size(); ++i) stack[stack.size() - 1 - i].typed = i;

    // The path walked so far: a directory open at each step (dir), then `unwalked` components past what
    // exists, taken as mkdir -p would make them.
    std::string path = "/";
    // Should an open fail, every later lookup through it fails too, and the rest is taken as written.
    UniqueFd dir = open_root();
    std::size_t unwalked = 0;
    int links = 0;
    std::size_t current = 0;
    std::string before_current = path;

    // From typed component `from` on, the components as the user gave them.
    auto rest_as_typed = [&](std::size_t from) {
        std::string out = before_current;
        for (std::size_t i = from; i < typed.size(); ++i) append(out, typed[i]);
        return out;
    };

    while (!stack.empty()) {
        Step step = std::move(stack.back());
        stack.pop_back();
        if (step.typed != current) {
            current = step.typed;
            before_current = path;
        }
        // A C call would see the path cut at the NUL: nothing past it is looked up.
        if (holds_nul(step.name)) return rest_as_typed(current);

        if (step.name == "..") {
            if (path == "/") continue;  // "/.." is "/"
            drop_last(path);
            if (unwalked > 0) {
                --unwalked;
                continue;
            }
            dir = UniqueFd(::openat(dir.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            continue;
        }
        if (unwalked > 0) {
            append(path, step.name);
            ++unwalked;
            continue;
        }

        UniqueFd entry(::openat(dir.get(), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (!entry || ::fstat(entry.get(), &info) != 0) {
            // Absent, unreachable or a name too long: what follows would be made below it.
            append(path, step.name);
            ++unwalked;
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            append(path, step.name);
            dir = std::move(entry);
            continue;
        }
        if (!S_ISLNK(info.st_mode)) {
            // A file: nothing is below it, but a later ".." still comes back here.
            append(path, step.name);
            ++unwalked;
            continue;
        }

        if (++links > kMaxLinks) return rest_as_typed(current);
        const std::optional<std::string> target = link_target(entry.get());
        if (!target || target->empty()) {
            append(path, step.name);
            ++unwalked;
            continue;
        }
        if (target->front() == '/') {
            path.assign(1, '/');  // not = "/", which g++ 12 wrongly warns may overlap
            dir = open_root();
        }
        push_reversed(stack, components(*target), step.typed);
    }
    return path;
}

bool is_system_folder(std::string_view canonical) {
    if (canonical.empty() || canonical.front() != '/') return false;
    if (std::find(SYSTEM_FOLDERS.begin(), SYSTEM_FOLDERS.end(), canonical) != SYSTEM_FOLDERS.end()) return true;
    for (std::string_view kernel : {"/proc", "/sys", "/dev", "/run"}) {
        if (canonical == kernel) return true;
    }
    // Virtual filesystems all the way down; /run only holds the machine's own mounts at its top.
    for (std::string_view below : {"/proc/", "/sys/", "/dev/"}) {
        if (canonical.starts_with(below)) return true;
    }
    return false;
}

}  // namespace tuvrek
