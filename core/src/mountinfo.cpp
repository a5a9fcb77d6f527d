#include "tuvrek/mountinfo.hpp"

#include <cstdlib>

#include "tuvrek/text.hpp"
#include "whole_file.hpp"

namespace tuvrek {
namespace {

// Splits at every single separator: consecutive separators give empty pieces.
std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const auto at = text.find(separator);
        if (at == std::string_view::npos) {
            pieces.push_back(text);
            return pieces;
        }
        pieces.push_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
}

bool is_octal_digit(char c) { return c >= '0' && c <= '7'; }

}  // namespace

std::string unescape_mount_field(std::string_view field) {
    std::string bytes;
    bytes.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && is_octal_digit(field[i + 1]) &&
            is_octal_digit(field[i + 2]) && is_octal_digit(field[i + 3])) {
            const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            bytes += value > 0377 ? '?' : static_cast<char>(value);
            i += 3;
        } else {
            bytes += field[i];
        }
    }
    return lossy_utf8(bytes);
}

std::optional<MountInfoEntry> parse_mountinfo_line(std::string_view line) {
    const auto separator = line.find(" - ");
    if (separator == std::string_view::npos) return std::nullopt;
    const auto left = split(line.substr(0, separator), ' ');
    const auto right = split(line.substr(separator + 3), ' ');
    if (left.size() < 6 || right.size() < 2) return std::nullopt;

    MountInfoEntry entry;
    entry.mount_point = unescape_mount_field(left[4]);
    for (auto option : split(left[5], ',')) entry.options.emplace_back(lossy_utf8(option));
    entry.fs_type = lossy_utf8(right[0]);
    entry.source = unescape_mount_field(right[1]);
    if (right.size() > 2) {
        for (auto option : split(right[2], ',')) entry.super_options.emplace_back(lossy_utf8(option));
    }
    return entry;
}

bool MountInfoEntry::read_only() const {
    const auto begins_ro = [](const std::vector<std::string>& list) { return !list.empty() && list.front() == "ro"; };
    return begins_ro(options) || begins_ro(super_options);
}

std::vector<MountInfoEntry> parse_mountinfo(std::string_view text) {
    std::vector<MountInfoEntry> entries;
    for (const std::string_view line : split_lines(text)) {
        if (auto entry = parse_mountinfo_line(line)) entries.push_back(std::move(*entry));
    }
    return entries;
}

std::vector<MountInfoEntry> read_mountinfo() {
    const char* override_path = std::getenv("TUVREK_DISK_MOUNTINFO");
    auto content = read_whole_file(override_path ? override_path : "/proc/self/mountinfo");
    if (!content || !is_valid_utf8(*content)) return {};
    return parse_mountinfo(*content);
}

std::optional<MountInfoEntry> mount_at(std::string_view folder) {
    const std::string text = lossy_utf8(folder);
    auto table = read_mountinfo();
    for (auto entry = table.rbegin(); entry != table.rend(); ++entry) {
        if (entry->mount_point == text) return std::move(*entry);
    }
    return std::nullopt;
}

}  // namespace tuvrek
