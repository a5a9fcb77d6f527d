#include "tuvrek/text.hpp"

#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/udata.h>
#include <unicode/unorm2.h>

#include <cerrno>
#include <string>

#include "support.hpp"

namespace tuvrek {
namespace {

using test::ScopedEnv;
using test::TempDir;
using test::write_file;

const std::string kFffd = "\xEF\xBF\xBD";

struct Utf8Case {
    std::string bytes;
    std::string lossy;
    bool valid;
};

TEST(Utf8, EachMaximalInvalidSubpartBecomesOneReplacement) {
    const Utf8Case cases[] = {
        {"", "", true},
        {"plain ascii", "plain ascii", true},
        {"caf\xC3\xA9 \xE6\xBC\xA2 \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE6\xBC\xA2 \xF0\x9F\x98\x80", true},
        {std::string("a\0b", 3), std::string("a\0b", 3), true},
        {kFffd, kFffd, true},                                       // a real U+FFFD stays one
        {"\xC3\x28", kFffd + "(", false},                           // lead byte without its trail
        {"\xE2\x82", kFffd, false},                                 // truncated three-byte sequence
        {"\xF0\x9F\x98", kFffd, false},                             // truncated four-byte sequence
        {"x\xF0\x9F\x98y", "x" + kFffd + "y", false},
        {"\xED\xA0\x80", kFffd + kFffd + kFffd, false},             // a surrogate is not a subpart
        {"\xC0\xAF", kFffd + kFffd, false},                         // overlong
        {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd, false}, // above U+10FFFF
        {"\xFF\xFE", kFffd + kFffd, false},
        {"\x80\x80", kFffd + kFffd, false},                         // lone trail bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lossy_utf8(c.bytes), c.lossy) << testing::PrintToString(c.bytes);
        EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
        EXPECT_TRUE(is_valid_utf8(lossy_utf8(c.bytes)));
    }
}

TEST(CharacterClasses, WhiteSpaceIsUnicodeWhiteSpace) {
    for (char32_t c : {U' ', U'\t', U'\n', U'\r', U'\v', U'\f', U'\u0085', U'\u00A0', U'\u2028', U'\u3000'}) {
        EXPECT_TRUE(is_white_space(c)) << static_cast<unsigned>(c);
    }
    for (char32_t c : {U'a', U'\u200B', U'\uFEFF', U'\u001F', U'\uFFFD'}) {
        EXPECT_FALSE(is_white_space(c)) << static_cast<unsigned>(c);
    }
}

TEST(CharacterClasses, AlphanumericCoversLettersAndAllNumbers) {
    // Letters of any script, and the three numeric categories Nd, Nl, No.
    for (char32_t c : {U'a', U'Z', U'\u00E9', U'\u0416', U'\u6F22', U'7', U'\u0663', U'\u216B', U'\u00BD'}) {
        EXPECT_TRUE(is_alphanumeric(c)) << static_cast<unsigned>(c);
    }
    for (char32_t c : {U'-', U'_', U'.', U' ', U'/', U'\'', U'\u00B7', U'\x01'}) {
        EXPECT_FALSE(is_alphanumeric(c)) << static_cast<unsigned>(c);
    }
}

TEST(Trim, RemovesUnicodeWhiteSpaceAtBothEndsOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"  a b  ", "a b"},
        {"\t\r\nsdb2\n", "sdb2"},
        {"\xC2\xA0x\xE3\x80\x80", "x"},  // no-break space and ideographic space
        {" \t\n ", ""},
        {"", ""},
        {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},  // zero-width space is not white space
        {"\xFF ", "\xFF"},                    // an invalid byte is content, never cut
        {" \xE2\x82", "\xE2\x82"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(trim_white_space(in), out) << testing::PrintToString(in);
}

TEST(Lower, FullUnicodeLowerCasing) {
    const std::pair<std::string, std::string> cases[] = {
        {"YES", "yes"},
        {"Y", "y"},
        {"\xC3\x80" "B", "\xC3\xA0" "b"},             // À
        {"\xC4\xB0", "i\xCC\x87"},                     // İ lower-cases to two code points
        {"\xCE\xA3\xCE\x91\xCE\xA3", "\xCF\x83\xCE\xB1\xCF\x82"},  // final sigma
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(to_lower_full(in), out) << in;
}

// The command line's programs carry no ICU data (core/CMakeLists.txt): the answers above come from
// the tables compiled into libicuuc. A call that needs data fails with an error, even where ICU_DATA
// names a folder holding the very item asked for, so no machine answers differently from another.
TEST(IcuData, CallsThatNeedDataFailWithoutIt) {
#ifndef TUVREK_ICU_WITHOUT_DATA
    GTEST_SKIP() << "built with the shared ICU and its data: this machine has no libicuuc.a";
#else
    TempDir data;
    // A data item with a valid header, where ICU looks for single files: ICU_DATA/icudtNNl/probe.icu.
    std::string probe = {32, 0, '\xda', '\x27', 20, 0, 0, 0, U_IS_BIG_ENDIAN, U_CHARSET_FAMILY, 2, 0};
    probe += "Prob";
    probe += std::string("\x01\x00\x00\x00", 4) + std::string(12, '\0');
    write_file(data / U_ICUDATA_NAME / "probe.icu", probe);
    ScopedEnv env;
    env.set("ICU_DATA", data.path().string());

    UErrorCode status = U_ZERO_ERROR;
    UDataMemory* item = udata_open(nullptr, "icu", "probe", &status);
    EXPECT_EQ(item, nullptr);
    EXPECT_TRUE(U_FAILURE(status)) << u_errorName(status);
    if (item != nullptr) udata_close(item);

    status = U_ZERO_ERROR;
    char name[64] = {};
    EXPECT_EQ(u_charName(U'\u00E9', U_UNICODE_CHAR_NAME, name, sizeof name, &status), 0) << name;
    EXPECT_TRUE(U_FAILURE(status)) << u_errorName(status);

    status = U_ZERO_ERROR;
    EXPECT_EQ(unorm2_getNFKCInstance(&status), nullptr);
    EXPECT_TRUE(U_FAILURE(status)) << u_errorName(status);
#endif
}

TEST(AsciiFold, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(ascii_iequal("EFI System", "efi system"));
    EXPECT_TRUE(ascii_iequal("", ""));
    EXPECT_FALSE(ascii_iequal("EFI System Partition", "efi system"));
    EXPECT_FALSE(ascii_iequal("\xC3\x89", "\xC3\xA9"));  // É and é differ
    EXPECT_FALSE(ascii_iequal("[", "{"));                // not folded by a blind 0x20 bit
    EXPECT_FALSE(ascii_iequal("@", "`"));
}

TEST(Slashes, EveryTrailingSlashGoes) {
    const std::pair<std::string, std::string> cases[] = {
        {"/mnt/mac/", "/mnt/mac"}, {"/mnt/mac//", "/mnt/mac"}, {"/", ""}, {"//", ""},
        {"a//b", "a//b"},          {"", ""},                   {"/mnt", "/mnt"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(strip_trailing_slashes(in), out) << in;
}

TEST(OsError, DescriptionThenNumber) {
    EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
    EXPECT_EQ(os_error_text(EACCES), "Permission denied (os error 13)");
    EXPECT_EQ(os_error_text(EBUSY), "Device or resource busy (os error 16)");
}

TEST(EscapeControls, ControlsBecomeVisible) {
    const std::pair<std::string, std::string> cases[] = {
        {"My Disk", "My Disk"},
        {"a\x1b[31mred", "a\\x1b[31mred"},
        {"\t\n\r", "\\x09\\x0a\\x0d"},
        {std::string("\0", 1), "\\x00"},
        {"\x7f", "\\x7f"},
        {"\xC2\x85", "\\u0085"},   // C1 NEXT LINE
        {"\xC2\x9B" "2J", "\\u009b2J"},  // C1 CSI would start a terminal sequence
        {"\xC2\xA0", "\xC2\xA0"},  // no-break space, just past the C1 range
        {"caf\xC3\xA9 \xE6\xBC\xA2", "caf\xC3\xA9 \xE6\xBC\xA2"},
        {"\x9b", kFffd},           // a raw C1 byte is invalid UTF-8, never passed through
        {"\\x1b", "\\x1b"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(escape_controls(in), out) << testing::PrintToString(in);
}

TEST(ParseDecimalU32, AcceptsOnlyAnOptionalPlusAndDecimalDigits) {
    struct Case {
        const char* text;
        std::optional<std::uint32_t> expected;
    };
    const Case cases[] = {
        {"0", 0u},
        {"1000", 1000u},
        {"+1000", 1000u},
        {"007", 7u},
        {"4294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"++1", std::nullopt},
        {"-1", std::nullopt},
        {"-0", std::nullopt},
        {" 1000", std::nullopt},
        {"1000 ", std::nullopt},
        {"10 00", std::nullopt},
        {"0x10", std::nullopt},
        {"1e3", std::nullopt},
        {"\xd9\xa1", std::nullopt},  // ARABIC-INDIC DIGIT ONE is a digit, but not an ASCII one
    };
    for (const Case& c : cases) EXPECT_EQ(parse_decimal_u32(c.text), c.expected) << '"' << c.text << '"';
}

}  // namespace
}  // namespace tuvrek
