#include "tuvrek/config.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <utility>

#include <unicode/utf8.h>

#include <toml++/toml.h>

#include "tuvrek/text.hpp"
#include "whole_file.hpp"

namespace tuvrek {
namespace {

constexpr std::string_view kDefaultPath = "/etc/tuvrek-disk/automount.toml";
constexpr std::string_view kHeader =
    "# Partitions Tuvrek mounts at startup (tuvrek-disk-automount.service).\n"
    "# Change them with Brevane or `tuvrek-disk automount add|remove`.\n"
    "\n";

// ---- Reading the document into entries --------------------------------------------------------

// Why the document does not map to the list, and where.
struct Fault {
    toml::source_region where;
    std::string reason;
};

enum Field : std::size_t { Uuid, Target, ReadWrite, Volume, Uid, Gid, FsType, FieldCount };
constexpr std::array<std::string_view, FieldCount> kFieldNames{"uuid",     "target", "read_write", "volume",
                                                               "uid",      "gid",    "filesystem"};
// Required fields in the order a missing one is looked for.
constexpr std::array<Field, 4> kRequired{Uuid, Target, Uid, Gid};

bool is_required(std::size_t field) {
    return std::find(kRequired.begin(), kRequired.end(), static_cast<Field>(field)) != kRequired.end();
}

std::string render_string(std::string_view text) {
    std::ostringstream out;
    out << toml::toml_formatter{toml::value<std::string>{lossy_utf8(text)}, toml::format_flags::allow_unicode_strings};
    return out.str();
}

// The found value as the messages name it: its kind, and its text for a scalar.
std::string describe(const toml::node& node) {
    if (node.is_table()) return "table";
    if (node.is_array()) return "array";
    if (const auto* text = node.as_string()) return "string " + render_string(text->get());
    std::string_view kind = "value";
    if (node.is_integer()) kind = "integer";
    else if (node.is_floating_point()) kind = "float";
    else if (node.is_boolean()) kind = "boolean";
    else if (node.is_date()) kind = "date";
    else if (node.is_time()) kind = "time";
    else if (node.is_date_time()) kind = "date-time";
    std::ostringstream out;
    out << toml::toml_formatter{node, toml::format_flags::none};
    return std::string(kind) + " `" + out.str() + "`";
}

Fault invalid_type(const toml::node& node, std::string_view expected) {
    return {node.source(), "invalid type: " + describe(node) + ", expected " + std::string(expected)};
}

std::optional<Fault> read_text(const toml::node& node, std::string& out) {
    const auto* text = node.as_string();
    if (text == nullptr) return invalid_type(node, "a string");
    out = text->get();
    return std::nullopt;
}

std::optional<Fault> read_bool(const toml::node& node, bool& out) {
    const auto* flag = node.as_boolean();
    if (flag == nullptr) return invalid_type(node, "a boolean");
    out = flag->get();
    return std::nullopt;
}

// TOML integers are 64-bit: ids outside 0..4294967295 are refused, never clamped.
std::optional<Fault> read_u32(const toml::node& node, std::uint32_t& out) {
    const auto* number = node.as_integer();
    if (number == nullptr) return invalid_type(node, "u32");
    const std::int64_t value = number->get();
    if (value < 0 || value > std::int64_t{std::numeric_limits<std::uint32_t>::max()})
        return Fault{node.source(), "invalid value: integer `" + std::to_string(value) + "`, expected u32"};
    out = static_cast<std::uint32_t>(value);
    return std::nullopt;
}

std::optional<Fault> read_field(Entry& entry, std::size_t field, const toml::node& node) {
    switch (field) {
        case Uuid:
            return read_text(node, entry.uuid);
        case Target:
            return read_text(node, entry.target);
        case ReadWrite:
            return read_bool(node, entry.read_write);
        case Volume: {
            std::uint32_t volume = 0;
            if (auto fault = read_u32(node, volume)) return fault;
            entry.volume = volume;
            return std::nullopt;
        }
        case Uid:
            return read_u32(node, entry.uid);
        case Gid:
            return read_u32(node, entry.gid);
        case FsType: {
            std::string filesystem;
            if (auto fault = read_text(node, filesystem)) return fault;
            entry.filesystem = std::move(filesystem);
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

// Keys by name; other keys are skipped.
std::optional<Fault> read_table_entry(const toml::table& table, Entry& entry) {
    for (std::size_t field = 0; field < FieldCount; ++field) {
        if (const toml::node* node = table.get(kFieldNames[field])) {
            if (auto fault = read_field(entry, field, *node)) return fault;
        }
    }
    for (Field field : kRequired) {
        if (!table.contains(kFieldNames[field]))
            return Fault{table.source(), "missing field `" + std::string(kFieldNames[field]) + "`"};
    }
    return std::nullopt;
}

std::string invalid_length(std::size_t length) {
    return "invalid length " + std::to_string(length) + ", expected struct Entry with 7 elements";
}

// Values by position in field order; a short array may leave out optional fields only.
std::optional<Fault> read_array_entry(const toml::array& array, Entry& entry) {
    for (std::size_t field = 0; field < FieldCount; ++field) {
        if (field < array.size()) {
            if (auto fault = read_field(entry, field, *array.get(field))) return fault;
        } else if (is_required(field)) {
            return Fault{array.source(), invalid_length(field)};
        }
    }
    if (array.size() > FieldCount) return Fault{array.source(), invalid_length(array.size())};
    return std::nullopt;
}

std::optional<Fault> map_document(const toml::table& document, std::vector<Entry>& entries) {
    const toml::node* mount = document.get("mount");
    if (mount == nullptr) return std::nullopt;
    const toml::array* list = mount->as_array();
    if (list == nullptr) return invalid_type(*mount, "an array");
    for (const toml::node& element : *list) {
        Entry entry;
        std::optional<Fault> fault;
        if (const auto* table = element.as_table()) {
            fault = read_table_entry(*table, entry);
        } else if (const auto* array = element.as_array()) {
            fault = read_array_entry(*array, entry);
        } else {
            fault = invalid_type(element, "struct Entry");
        }
        if (fault) return fault;
        entries.push_back(std::move(entry));
    }
    return std::nullopt;
}

// ---- Error text ---------------------------------------------------------------------------------

// Line `number` (1-based) of the document without its line end; empty past the end.
std::string_view line_of(std::string_view document, std::size_t number) {
    for (std::size_t line = 1; line < number; ++line) {
        const auto newline = document.find('\n');
        if (newline == std::string_view::npos) return {};
        document.remove_prefix(newline + 1);
    }
    document = document.substr(0, document.find('\n'));
    if (!document.empty() && document.back() == '\r') document.remove_suffix(1);
    return document;
}

// The line as shown, one character per column: controls other than tab become U+FFFD so the
// message can't drive a terminal and the marker still lines up.
std::vector<std::string> shown_characters(std::string_view line) {
    const std::string text = lossy_utf8(line);
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    std::vector<std::string> characters;
    std::int64_t i = 0;
    while (i < length) {
        const std::int64_t start = i;
        UChar32 c = 0;
        U8_NEXT_OR_FFFD(s, i, length, c);
        if ((c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F)) characters.emplace_back("\xEF\xBF\xBD");
        else characters.emplace_back(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
    return characters;
}

// "TOML parse error at line L, column C", the line, a marker under the fault, then the reason.
std::string toml_error_text(std::string_view document, const toml::source_region& where, std::string_view reason) {
    const std::size_t line = std::max<std::size_t>(where.begin.line, 1);
    const std::size_t column = std::max<std::size_t>(where.begin.column, 1);
    const std::vector<std::string> characters = shown_characters(line_of(document, line));

    std::size_t width = 1;
    if (where.end.line == where.begin.line && where.end.column > where.begin.column) {
        width = where.end.column - where.begin.column;
    } else if (where.end.line > where.begin.line && characters.size() >= column) {
        width = characters.size() - column + 1;  // a region over several lines: mark to the line's end
    }

    std::string shown;
    for (const std::string& c : characters) shown += c;
    std::string marker;
    for (std::size_t i = 0; i + 1 < column; ++i) marker += i < characters.size() && characters[i] == "\t" ? '\t' : ' ';
    marker.append(width, '^');

    const std::string number = std::to_string(line);
    const std::string gutter(number.size(), ' ');
    return "TOML parse error at line " + number + ", column " + std::to_string(column) + "\n" + number + " | " +
           shown + "\n" + gutter + " | " + marker + "\n" + lossy_utf8(reason);
}

// ---- Files --------------------------------------------------------------------------------------

std::string shown_path(std::string_view path) { return lossy_utf8(path); }

std::string io_error(std::string_view path, int errnum) { return shown_path(path) + ": " + os_error_text(errnum); }

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now, so that a failing close is seen; 0 or the errno.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// The folder holding the last component: nothing for a path that has no parent,
// the empty text for a bare file name (nothing to create).
std::optional<std::string> parent_folder(std::string_view path) {
    const std::string_view trimmed = strip_trailing_slashes(path);
    if (trimmed.empty()) return std::nullopt;  // "" or only slashes
    const auto slash = trimmed.rfind('/');
    if (slash == std::string_view::npos) return std::string();
    const std::string_view parent = strip_trailing_slashes(trimmed.substr(0, slash));
    return parent.empty() ? std::string("/") : std::string(parent);
}

bool is_folder(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p: 0 or the errno of the folder that could not be made.
int make_folders(const std::string& folder) {
    if (folder.empty()) return 0;
    if (::mkdir(folder.c_str(), 0777) == 0) return 0;
    int error = errno;
    if (error != ENOENT) return is_folder(folder) ? 0 : error;
    if (const auto parent = parent_folder(folder); parent && *parent != folder) {
        if (const int parent_error = make_folders(*parent)) return parent_error;
    }
    if (::mkdir(folder.c_str(), 0777) == 0) return 0;
    error = errno;
    return is_folder(folder) ? 0 : error;
}

// The extension of the file name replaced by "toml.new" (or added), in the same folder.
std::string temporary_path(std::string_view path) {
    const std::string_view trimmed = strip_trailing_slashes(path);
    const auto slash = trimmed.rfind('/');
    const std::string_view folder = slash == std::string_view::npos ? std::string_view{} : trimmed.substr(0, slash + 1);
    const std::string_view name = slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1);
    // No file name to change: writing to the path itself then fails, as it is a folder.
    if (name.empty() || name == "." || name == "..") return std::string(path);
    const auto dot = name.rfind('.');
    const std::string_view stem = dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
    return std::string(folder) + std::string(stem) + ".toml.new";
}

// 0 or the errno. Synced before the caller renames it into place: after a power loss the
// configuration is then the old one or the new one, never an empty file.
int write_synced(const std::string& path, std::string_view content) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) return errno;
    while (!content.empty()) {
        const ssize_t n = ::write(fd.get(), content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::fsync(fd.get()) != 0) return errno;
    return fd.close();
}

}  // namespace

std::string automount_config_path() {
    const char* value = std::getenv("TUVREK_DISK_AUTOMOUNT_CONF");
    return value != nullptr ? std::string(value) : std::string(kDefaultPath);
}

Result<std::vector<Entry>, std::string> parse_automount_config(std::string_view text, std::string_view path) {
    std::vector<Entry> entries;
    std::optional<Fault> fault;
    try {
        const toml::table document = toml::parse(text);
        fault = map_document(document, entries);
    } catch (const toml::parse_error& error) {
        fault = Fault{error.source(), std::string(error.description())};
    }
    if (fault) return fail(shown_path(path) + ": " + toml_error_text(text, fault->where, fault->reason));
    return entries;
}

Result<std::vector<Entry>, std::string> load_automount_config() {
    const std::string path = automount_config_path();
    auto content = read_whole_file(path);
    if (!content) {
        if (content.error() == ENOENT) return std::vector<Entry>{};
        return fail(io_error(path, content.error()));
    }
    const std::string& text = *content;
    if (!is_valid_utf8(text)) return fail(shown_path(path) + ": stream did not contain valid UTF-8");
    return parse_automount_config(text, path);
}

std::string render_automount_config(const std::vector<Entry>& entries) {
    std::string out(kHeader);
    if (entries.empty()) return out + "mount = []\n";
    auto line = [&out](std::string_view key, const std::string& value) {
        out.append(key).append(" = ").append(value).append("\n");
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (i > 0) out += "\n";
        out += "[[mount]]\n";
        line("uuid", render_string(entry.uuid));
        line("target", render_string(entry.target));
        line("read_write", entry.read_write ? "true" : "false");
        if (entry.volume) line("volume", std::to_string(*entry.volume));
        line("uid", std::to_string(entry.uid));
        line("gid", std::to_string(entry.gid));
        if (entry.filesystem) line("filesystem", render_string(*entry.filesystem));
    }
    return out;
}

Result<void, std::string> save_automount_config(const std::vector<Entry>& entries) {
    const std::string path = automount_config_path();
    if (const auto parent = parent_folder(path)) {
        if (const int error = make_folders(*parent)) return fail(io_error(*parent, error));
    }
    const std::string content = render_automount_config(entries);
    const std::string temporary = temporary_path(path);
    if (const int error = write_synced(temporary, content)) return fail(io_error(temporary, error));
    if (::rename(temporary.c_str(), path.c_str()) != 0) return fail(io_error(path, errno));
    return Ok{};
}

void add_or_replace_entry(std::vector<Entry>& entries, Entry entry) {
    std::erase_if(entries, [&entry](const Entry& old) {
        return ascii_iequal(old.uuid, entry.uuid) || old.target == entry.target;
    });
    entries.push_back(std::move(entry));
}

std::size_t remove_matching_entries(std::vector<Entry>& entries, std::string_view text) {
    const std::string_view folder = strip_trailing_slashes(text);
    return std::erase_if(entries, [&](const Entry& entry) {
        return strip_trailing_slashes(entry.target) == folder || ascii_iequal(entry.uuid, text);
    });
}

const Entry* startup_entry_for_uuid(const std::vector<Entry>& entries, std::string_view uuid) {
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [uuid](const Entry& entry) { return ascii_iequal(entry.uuid, uuid); });
    return found == entries.end() ? nullptr : &*found;
}

nlohmann::json entry_to_json(const std::vector<Entry>& entries) {
    nlohmann::json list = nlohmann::json::array();
    for (const Entry& entry : entries) {
        nlohmann::json object = {
            {"uuid", entry.uuid}, {"target", entry.target}, {"read_write", entry.read_write},
            {"uid", entry.uid},   {"gid", entry.gid},
        };
        if (entry.volume) object["volume"] = *entry.volume;
        if (entry.filesystem) object["filesystem"] = *entry.filesystem;
        list.push_back(std::move(object));
    }
    return list;
}

}  // namespace tuvrek
