// The kernel's mount table holds mount points that users choose; every line must parse safely, and
// an entry written back the kernel's way reads as the same entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tuvrek/mountinfo.hpp"
#include "tuvrek/text.hpp"

namespace {

// The kernel writes space, tab, newline and backslash in octal; a lone "-" would read as the separator
// (the kernel's mount points are absolute, so it never writes one).
std::string escape_field(std::string_view text) {
    if (text == "-") return "\\055";
    std::string out;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            const auto byte = static_cast<unsigned char>(c);
            out += '\\';
            out += static_cast<char>('0' + (byte >> 6));
            out += static_cast<char>('0' + ((byte >> 3) & 7));
            out += static_cast<char>('0' + (byte & 7));
        } else {
            out += c;
        }
    }
    return out;
}

void check(const tuvrek::MountInfoEntry& entry) {
    // Decoded fields are always text that the JSON writer accepts.
    if (!tuvrek::is_valid_utf8(entry.mount_point) || !tuvrek::is_valid_utf8(entry.source)) std::abort();
    // A mount the kernel reports read-only per mount is read-only whatever its superblock says.
    if (!entry.options.empty() && entry.options.front() == "ro" && !entry.read_only()) std::abort();

    std::string line = "36 35 98:0 / " + escape_field(entry.mount_point) + " " + tuvrek::join(entry.options, ",") +
                       " shared:1 - " + entry.fs_type + " " + escape_field(entry.source);
    if (!entry.super_options.empty()) line += " " + tuvrek::join(entry.super_options, ",");
    auto again = tuvrek::parse_mountinfo_line(line);
    if (!again || *again != entry || again->read_only() != entry.read_only()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!tuvrek::is_valid_utf8(bytes)) return 0;  // the reader refuses a table that isn't UTF-8
    for (const auto& entry : tuvrek::parse_mountinfo(bytes)) check(entry);
    if (auto entry = tuvrek::parse_mountinfo_line(bytes)) check(*entry);
    return 0;
}
