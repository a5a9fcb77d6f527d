#include "tuvrek/text.hpp"

#include <unicode/uchar.h>
#include <unicode/ucasemap.h>
#include <unicode/utf8.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tuvrek {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

struct CaseMapCloser {
    void operator()(UCaseMap* map) const { ucasemap_close(map); }
};

}  // namespace

// U+FFFD for each maximal invalid subpart is what every other decoder the user might compare with
// does too.
char32_t next_code_point(std::string_view bytes, std::size_t& i) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<std::int64_t>(bytes.size());
    auto at = static_cast<std::int64_t>(i);
    UChar32 c = 0;
    U8_NEXT_OR_FFFD(s, at, length, c);
    i = static_cast<std::size_t>(at);
    return static_cast<char32_t>(c);
}

bool holds_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

std::string lossy_utf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t start = i;
        const char32_t c = next_code_point(bytes, i);
        if (c == 0xFFFD) {
            text += kReplacement;  // a real U+FFFD has these same bytes
        } else {
            text.append(bytes.substr(start, i - start));
        }
    }
    return text;
}

bool is_valid_utf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<std::int64_t>(bytes.size());
    std::int64_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

bool is_white_space(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)) != 0; }

bool is_alphanumeric(char32_t c) {
    const auto cp = static_cast<UChar32>(c);
    return u_isUAlphabetic(cp) != 0 || (U_GET_GC_MASK(cp) & U_GC_N_MASK) != 0;
}

std::string trim_white_space(std::string_view text) {
    // Ill-formed bytes count as U+FFFD, which is not white space, so they are never cut.
    std::size_t i = 0;
    std::size_t begin = text.size();
    std::size_t end = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        if (!is_white_space(next_code_point(text, i))) {
            if (begin == text.size()) begin = start;
            end = i;
        }
    }
    if (begin >= end) return {};
    return std::string(text.substr(begin, end - begin));
}

std::string to_lower_full(std::string_view text) {
    const std::string source = lossy_utf8(text);
    if (source.empty()) return {};
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCaseMap, CaseMapCloser> map(ucasemap_open("", 0, &status));
    if (U_FAILURE(status) || !map) return source;
    const auto source_length = static_cast<int32_t>(source.size());
    std::string lowered(source.size() + 16, '\0');
    int32_t needed = ucasemap_utf8ToLower(map.get(), lowered.data(), static_cast<int32_t>(lowered.size()),
                                          source.data(), source_length, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        lowered.assign(static_cast<std::size_t>(needed), '\0');
        needed = ucasemap_utf8ToLower(map.get(), lowered.data(), needed, source.data(), source_length, &status);
    }
    if (U_FAILURE(status)) return source;
    lowered.resize(static_cast<std::size_t>(needed));
    return lowered;
}

bool ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

std::string_view strip_trailing_slashes(std::string_view text) {
    while (!text.empty() && text.back() == '/') text.remove_suffix(1);
    return text;
}

std::optional<std::uint32_t> parse_decimal_u32(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end == std::string_view::npos) {
            text = {};
        } else {
            text.remove_prefix(end + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        }
        lines.push_back(line);
    }
    return lines;
}

std::string join(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i != 0) out += separator;
        out += items[i];
    }
    return out;
}

std::string os_error_text(int errnum) {
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* description = strerror_r(errnum, buffer, sizeof buffer);
    return std::string(description) + " (os error " + std::to_string(errnum) + ")";
}

std::string escape_controls(std::string_view text) {
    const std::string decoded = lossy_utf8(text);
    std::string escaped;
    escaped.reserve(decoded.size());
    std::size_t i = 0;
    while (i < decoded.size()) {
        const std::size_t start = i;
        const char32_t c = next_code_point(decoded, i);
        char buffer[8];
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
            escaped += buffer;
        } else if (c >= 0x80 && c <= 0x9F) {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            escaped += buffer;
        } else {
            escaped.append(decoded, start, i - start);
        }
    }
    return escaped;
}

}  // namespace tuvrek
