// ICU's common data for programs that take ICU from its static archives (core/CMakeLists.txt): a
// package with no entries, under ICU's own versioned entry-point name, in place of the 30 MB archive.
// What we ask of ICU (character properties, root-locale case mapping) is compiled into libicuuc; the
// archive was only there because the data loader names this symbol. A call that does need data finds
// none and fails with an error instead of answering.

#include <unicode/putil.h>
#include <unicode/udata.h>
#include <unicode/utypes.h>

#include <cstdint>

namespace tuvrek {

// A common-data header followed by an empty table of contents, laid out as ICU reads a "ToCP" package.
struct EmptyIcuData {
    std::uint16_t header_size;
    std::uint8_t magic1;
    std::uint8_t magic2;
    UDataInfo info;
    std::uint8_t padding[8];
    std::uint32_t count;
    std::uint32_t reserved;
};
static_assert(sizeof(EmptyIcuData) == 40, "the table of contents must follow the 32-byte header");

namespace {

// ICU would look for what the package lacks in data files, in ICU_DATA or its default folder: a file
// that lies on one machine would answer there and not elsewhere. An empty data folder is never searched.
[[gnu::constructor]] void forbid_icu_data_files() { u_setDataDirectory(""); }

}  // namespace
}  // namespace tuvrek

extern "C" const tuvrek::EmptyIcuData U_ICUDATA_ENTRY_POINT;
extern "C" const tuvrek::EmptyIcuData U_ICUDATA_ENTRY_POINT = {
    32,
    0xda,
    0x27,
    {
        sizeof(UDataInfo),
        0,
        U_IS_BIG_ENDIAN,
        U_CHARSET_FAMILY,
        sizeof(UChar),
        0,
        {0x54, 0x6f, 0x43, 0x50},  // "ToCP"
        {1, 0, 0, 0},
        {0, 0, 0, 0},
    },
    {},
    0,
    0,
};
