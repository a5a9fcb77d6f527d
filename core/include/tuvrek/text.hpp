#pragma once
// Text helpers shared by both programs: lossy UTF-8, Unicode white space, ASCII folding, system errors.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tuvrek {

// Bytes as UTF-8 text, each maximal invalid subsequence replaced by one U+FFFD.
std::string lossy_utf8(std::string_view bytes);
bool is_valid_utf8(std::string_view bytes);
// The code point at offset i, moving i past it; ill-formed input reads as U+FFFD, one for each
// maximal invalid subsequence, as in lossy_utf8.
char32_t next_code_point(std::string_view bytes, std::size_t& i);

// A NUL byte ends a C string: text holding one names a different file or argument than it shows.
bool holds_nul(std::string_view text);

// Unicode White_Space (not the C locale's isspace).
bool is_white_space(char32_t c);
// Unicode Alphabetic, or a number (general categories Nd, Nl, No).
bool is_alphanumeric(char32_t c);
// Removes Unicode white space at both ends; invalid UTF-8 bytes are kept and never cut.
std::string trim_white_space(std::string_view text);
// Full Unicode lower-casing (root locale); invalid UTF-8 becomes U+FFFD first.
std::string to_lower_full(std::string_view text);

// Equal length and equal bytes once ASCII A-Z are folded to lower case.
bool ascii_iequal(std::string_view a, std::string_view b);

// The text without any trailing "/" (so "/" and "//" give the empty text).
std::string_view strip_trailing_slashes(std::string_view text);

// An optional "+" and decimal digits that fit 32 bits; nothing else (no spaces, no other bases).
std::optional<std::uint32_t> parse_decimal_u32(std::string_view text);

// The lines of a text: split at each line feed, with a carriage return just before it dropped; a last
// line without a line feed counts, and a final line feed starts no empty line.
std::vector<std::string_view> split_lines(std::string_view text);

// The items with the separator between each two.
std::string join(const std::vector<std::string>& items, std::string_view separator);

// "<the system's description> (os error N)".
std::string os_error_text(int errnum);

// Device data shown in a terminal: every C0 control and DEL becomes \xNN (two lower-case hex
// digits, e.g. \x1b) and every C1 control \uNNNN (e.g. \u0085), so a hostile label cannot drive the
// terminal. Invalid UTF-8 is replaced by U+FFFD first; everything else is kept as it is.
std::string escape_controls(std::string_view text);

}  // namespace tuvrek
