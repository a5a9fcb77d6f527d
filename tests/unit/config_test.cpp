#include "tuvrek/config.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "texts.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::write_file;

using test::kConfigHeader;

// Two entries: an APFS volume read-only, an exFAT partition read/write.
const std::string kWorkedExample = kConfigHeader +
    "[[mount]]\n"
    "uuid = \"6F1D2C3B-8A47-4E55-9B20-D41C7E9A0B13\"\n"
    "target = \"/mnt/mac\"\n"
    "read_write = false\n"
    "volume = 2\n"
    "uid = 1000\n"
    "gid = 1000\n"
    "filesystem = \"apfs\"\n"
    "\n"
    "[[mount]]\n"
    "uuid = \"3C5E-91A4\"\n"
    "target = \"/mnt/usb\"\n"
    "read_write = true\n"
    "uid = 1000\n"
    "gid = 1000\n"
    "filesystem = \"exfat\"\n";

const std::vector<Entry> kWorkedEntries = {
    {"6F1D2C3B-8A47-4E55-9B20-D41C7E9A0B13", "/mnt/mac", false, 2u, 1000, 1000, "apfs"},
    {"3C5E-91A4", "/mnt/usb", true, std::nullopt, 1000, 1000, "exfat"},
};

// text is prefix, ".", six letters or digits (the temporary file's own part), then rest.
bool is_temporary_name(std::string_view text, std::string_view prefix, std::string_view rest) {
    if (text.size() != prefix.size() + 7 + rest.size() || !text.starts_with(prefix) || !text.ends_with(rest))
        return false;
    const std::string_view own = text.substr(prefix.size(), 7);
    return own[0] == '.' && std::all_of(own.begin() + 1, own.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

Entry entry(std::string uuid, std::string target) {
    return {std::move(uuid), std::move(target), false, std::nullopt, 1000, 1000, std::nullopt};
}

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override { use(dir_ / "automount.toml"); }
    void use(const fs::path& file) {
        path_ = file.string();
        env_.set("TUVREK_DISK_AUTOMOUNT_CONF", path_);
    }
    std::vector<Entry> load_ok() {
        auto loaded = load_automount_config();
        EXPECT_TRUE(loaded.has_value()) << loaded.error();
        return loaded ? *loaded : std::vector<Entry>{};
    }
    std::string load_error() {
        auto loaded = load_automount_config();
        EXPECT_FALSE(loaded.has_value());
        return loaded ? std::string() : loaded.error();
    }
    test::TempDir dir_;
    test::ScopedEnv env_;
    std::string path_;
};

TEST_F(ConfigFile, PathFollowsTheVariableEvenWhenEmpty) {
    EXPECT_EQ(automount_config_path(), path_);
    env_.set("TUVREK_DISK_AUTOMOUNT_CONF", "");
    EXPECT_EQ(automount_config_path(), "");
    env_.unset("TUVREK_DISK_AUTOMOUNT_CONF");
    EXPECT_EQ(automount_config_path(), "/etc/tuvrek-disk/automount.toml");
}

TEST_F(ConfigFile, MissingFileIsAnEmptyList) { EXPECT_THAT(load_ok(), ::testing::IsEmpty()); }

TEST_F(ConfigFile, AcceptedDocuments) {
    struct Case {
        const char* what;
        const char* text;
        std::vector<Entry> expected;
    };
    const Case cases[] = {
        {"empty file", "", {}},
        {"only comments", "# nothing yet\n\n# really\n", {}},
        {"an empty inline array", "mount = []\n", {}},
        {"the written form", kWorkedExample.c_str(), kWorkedEntries},
        {"keys in any order, extra keys and tables ignored",
         "title = \"mine\"\n[other]\nx = [1, 2]\n\n[[mount]]\ngid = 7\nlabel = \"x\"\nuid = 4294967295\n"
         "target = '/mnt/a'\nuuid = \"A\"\n",
         {{"A", "/mnt/a", false, std::nullopt, 4294967295u, 7, std::nullopt}}},
        {"inline tables and positional arrays",
         "mount = [ { uuid = \"A\", target = \"/a\", uid = 1, gid = 2, read_write = true },\n"
         "  [\"B\", \"/b\", false, 3, 4, 5],\n"
         "  [\"C\", \"/c\", true, 0, 6, 7, \"ntfs3\"] ]\n",
         {{"A", "/a", true, std::nullopt, 1, 2, std::nullopt},
          {"B", "/b", false, 3u, 4, 5, std::nullopt},
          {"C", "/c", true, 0u, 6, 7, "ntfs3"}}},
        {"a byte-order mark and CRLF line ends", "\xEF\xBB\xBF[[mount]]\r\nuuid = \"A\"\r\ntarget = \"/a\"\r\n"
                                                 "uid = 1\r\ngid = 2\r\n",
         {{"A", "/a", false, std::nullopt, 1, 2, std::nullopt}}},
        {"letters beyond ASCII in comments and strings",
         "# \xC3\xA9\n[[mount]]\nuuid = \"A\" # \xD0\x94\ntarget = '/mnt/\xD0\x94'\nuid = 1\ngid = 2\n"
         "label = \"\"\"x\\\n  \xC3\xA9\"\"\"\n",
         {{"A", "/mnt/\xD0\x94", false, std::nullopt, 1, 2, std::nullopt}}},
    };
    for (const Case& c : cases) {
        write_file(path_, c.text);
        EXPECT_EQ(load_ok(), c.expected) << c.what;
    }
}

TEST_F(ConfigFile, RefusedDocumentsNameTheLineColumnAndReason) {
    struct Case {
        const char* what;
        const char* text;
        const char* error;  // after "<path>: "
    };
    const Case cases[] = {
        {"missing uid", "[[mount]]\nuuid = \"A\"\ntarget = \"/a\"\ngid = 1\n",
         "TOML parse error at line 1, column 1\n"
         "1 | [[mount]]\n"
         "  | ^^^^^^^^^\n"
         "missing field `uid`"},
        {"the first missing field in order", "# c\n\n[[mount]]\nuuid = \"A\"\nuid = 1\n",
         "TOML parse error at line 3, column 1\n"
         "3 | [[mount]]\n"
         "  | ^^^^^^^^^\n"
         "missing field `target`"},
        {"a text where a number belongs", "[[mount]]\nuuid = \"A\"\ntarget = \"/a\"\nuid = \"1000\"\ngid = 1\n",
         "TOML parse error at line 4, column 7\n"
         "4 | uid = \"1000\"\n"
         "  |       ^^^^^^\n"
         "invalid type: string \"1000\", expected u32"},
        {"negative id", "[[mount]]\nuuid = \"A\"\ntarget = \"/a\"\nuid = -1\ngid = 1\n",
         "TOML parse error at line 4, column 7\n"
         "4 | uid = -1\n"
         "  |       ^^\n"
         "invalid value: integer `-1`, expected u32"},
        {"id past 32 bits", "[[mount]]\nuuid = \"A\"\ntarget = \"/a\"\nuid = 1\ngid = 4294967296\n",
         "TOML parse error at line 5, column 7\n"
         "5 | gid = 4294967296\n"
         "  |       ^^^^^^^^^^\n"
         "invalid value: integer `4294967296`, expected u32"},
        {"a float is no integer", "mount = [{uuid = \"A\", target = \"/a\", uid = 1.0, gid = 1}]\n",
         "TOML parse error at line 1, column 44\n"
         "1 | mount = [{uuid = \"A\", target = \"/a\", uid = 1.0, gid = 1}]\n"
         "  |                                            ^^^\n"
         "invalid type: float `1.0`, expected u32"},
        {"a number for a flag", "[[mount]]\nuuid = \"A\"\ntarget = \"/a\"\nread_write = 1\nuid = 1\ngid = 1\n",
         "TOML parse error at line 4, column 14\n"
         "4 | read_write = 1\n"
         "  |              ^\n"
         "invalid type: integer `1`, expected a boolean"},
        {"the fault of the second table", "[[mount]]\nuuid = \"A\"\ntarget = \"/a\"\nuid = 1\ngid = 1\n\n"
                                          "[[mount]]\nuuid = 5\n",
         "TOML parse error at line 8, column 8\n"
         "8 | uuid = 5\n"
         "  |        ^\n"
         "invalid type: integer `5`, expected a string"},
        {"a table instead of an array of tables", "[mount]\nuuid = \"A\"\n",
         "TOML parse error at line 1, column 1\n"
         "1 | [mount]\n"
         "  | ^^^^^^^\n"
         "invalid type: table, expected an array"},
        {"an element that is no entry", "mount = [\"A\"]\n",
         "TOML parse error at line 1, column 10\n"
         "1 | mount = [\"A\"]\n"
         "  |          ^^^\n"
         "invalid type: string \"A\", expected struct Entry"},
        {"a positional array ending before uid", "mount = [[\"A\", \"/a\"]]\n",
         "TOML parse error at line 1, column 10\n"
         "1 | mount = [[\"A\", \"/a\"]]\n"
         "  |          ^^^^^^^^^^^\n"
         "invalid length 4, expected struct Entry with 7 elements"},
        {"a positional array too long", "mount = [[\"A\", \"/a\", false, 0, 1, 2, \"x\", 9]]\n",
         "TOML parse error at line 1, column 10\n"
         "1 | mount = [[\"A\", \"/a\", false, 0, 1, 2, \"x\", 9]]\n"
         "  |          ^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^\n"
         "invalid length 8, expected struct Entry with 7 elements"},
        {"a NUL in the target", "[[mount]]\nuuid = \"A\"\ntarget = \"/mnt/full\\u0000/x\"\nuid = 1\ngid = 1\n",
         "TOML parse error at line 3, column 10\n"
         "3 | target = \"/mnt/full\\u0000/x\"\n"
         "  |          ^^^^^^^^^^^^^^^^^^^\n"
         "invalid value: the target holds a NUL character"},
        {"a NUL in the uuid of a positional array", "mount = [[\"A\\u0000\", \"/a\", false, 0, 1, 2]]\n",
         "TOML parse error at line 1, column 11\n"
         "1 | mount = [[\"A\\u0000\", \"/a\", false, 0, 1, 2]]\n"
         "  |           ^^^^^^^^^\n"
         "invalid value: the uuid holds a NUL character"},
        {"a NUL in the filesystem", "mount = [{uuid = \"A\", target = \"/a\", uid = 1, gid = 1, filesystem = \"\\u0000\"}]\n",
         "TOML parse error at line 1, column 69\n"
         "1 | mount = [{uuid = \"A\", target = \"/a\", uid = 1, gid = 1, filesystem = \"\\u0000\"}]\n"
         "  |                                                                     ^^^^^^^^\n"
         "invalid value: the filesystem holds a NUL character"},
        {"broken syntax, tab kept under the marker", "[[mount]]\n\tuuid = \"A\" x\n",
         "TOML parse error at line 2, column 13\n"
         "2 | \tuuid = \"A\" x\n"
         "  | \t           ^\n"
         "Error while parsing key-value pair: expected a comment or whitespace, saw 'x'"},
        {"a letter beyond ASCII ending a number", "[[mount]]\nuid = 1\xC3\xA9\n",
         "TOML parse error at line 2, column 8\n"
         "2 | uid = 1\xC3\xA9\n"
         "  |        ^\n"
         "Error while parsing decimal integer: expected digit, saw '\xC3\xA9'"},
    };
    for (const Case& c : cases) {
        write_file(path_, c.text);
        EXPECT_EQ(load_error(), path_ + ": " + c.error) << c.what;
    }
}

TEST_F(ConfigFile, UnreadableFilesGiveThePathAndTheSystemError) {
    write_file(path_, "mount = []\n# caf\xe9\n");
    EXPECT_EQ(load_error(), path_ + ": stream did not contain valid UTF-8");

    fs::remove(path_);
    fs::create_directory(path_);
    EXPECT_EQ(load_error(), path_ + ": Is a directory (os error 21)");
}

TEST_F(ConfigFile, PathWithInvalidUtf8IsShownReplaced) {
    use(dir_ / "caf\xe9");
    fs::create_directory(path_);
    EXPECT_EQ(load_error(), (dir_ / "caf\xEF\xBF\xBD").string() + ": Is a directory (os error 21)");
}

TEST(RenderAutomountConfig, WorkedExampleByteForByte) {
    EXPECT_EQ(render_automount_config(kWorkedEntries), kWorkedExample);
    EXPECT_EQ(render_automount_config({}), kConfigHeader + "mount = []\n");
}

TEST(RenderAutomountConfig, AwkwardTextsComeBackUnchanged) {
    const std::vector<Entry> entries = {
        {"q\"uote\\back", "/mnt/new\nline\ttab", true, 4294967295u, 0, 4294967295u, std::string("\x01\x7f\x1b[31m")},
        {"'single'", "/mnt/caf\xc3\xa9 \xe2\x80\xa8", false, std::nullopt, 1, 2, std::nullopt},
    };
    const std::string text = render_automount_config(entries);
    EXPECT_THAT(text, ::testing::HasSubstr("uuid = \"q\\\"uote\\\\back\"\n"));
    EXPECT_THAT(text, ::testing::HasSubstr("target = \"/mnt/caf\xc3\xa9 \\u2028\"\n"));
    auto back = parse_automount_config(text, "automount.toml");
    ASSERT_TRUE(back.has_value()) << back.error();
    EXPECT_EQ(*back, entries);
}

TEST_F(ConfigFile, SaveReplacesTheFileWithOnlyTheEntries) {
    write_file(path_, "# mine\ntitle = \"x\"\n[[mount]]\nuuid = \"A\"\ntarget = \"/a\"\nuid = 1\ngid = 2\nlabel = \"x\"\n");
    std::vector<Entry> entries = load_ok();
    ASSERT_TRUE(save_automount_config(entries).has_value());
    EXPECT_EQ(read_file(path_), kConfigHeader + "[[mount]]\nuuid = \"A\"\ntarget = \"/a\"\n"
                                                       "read_write = false\nuid = 1\ngid = 2\n");
    EXPECT_THAT(test::names_starting(dir_.path(), "automount.toml.new"), ::testing::IsEmpty());

    ASSERT_TRUE(save_automount_config({}).has_value());
    EXPECT_EQ(read_file(path_), kConfigHeader + "mount = []\n");
    EXPECT_THAT(load_ok(), ::testing::IsEmpty());
}

TEST_F(ConfigFile, SaveCreatesTheMissingFolderChain) {
    use(dir_ / "etc" / "tuvrek-disk" / "deeper" / "automount.toml");
    ASSERT_TRUE(save_automount_config(kWorkedEntries).has_value());
    EXPECT_EQ(read_file(path_), kWorkedExample);
    EXPECT_EQ(load_ok(), kWorkedEntries);
}

TEST_F(ConfigFile, SaveFailsWhenTheFolderCannotBeMade) {
    write_file(dir_ / "plain", "not a folder");
    use(dir_ / "plain" / "sub" / "automount.toml");
    auto saved = save_automount_config(kWorkedEntries);
    ASSERT_FALSE(saved.has_value());
    EXPECT_EQ(saved.error(), (dir_ / "plain" / "sub").string() + ": Not a directory (os error 20)");
}

// The temporary file is the configuration with its extension replaced by "toml.new", then "." and six
// letters or digits of its own; it is seen in the message of a write cut short by the file-size limit.
TEST_F(ConfigFile, TemporaryFileReplacesTheExtensionBesideTheConfiguration) {
    struct Case {
        const char* name;
        const char* temporary;
    };
    const Case cases[] = {
        {"automount.toml", "automount.toml.new"},
        {"config", "config.toml.new"},
        {"config.conf", "config.toml.new"},
        {"a.b.c", "a.b.toml.new"},
        {".hidden", ".hidden.toml.new"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        use(dir / c.name);
        write_file(path_, "mount = []\n");
        auto saved = [] {
            test::ScopedFileSizeLimit limit(1);
            return save_automount_config(kWorkedEntries);
        }();
        ASSERT_FALSE(saved.has_value());
        EXPECT_TRUE(is_temporary_name(saved.error(), (dir / c.temporary).string(), ": File too large (os error 27)"))
            << saved.error();
        EXPECT_EQ(read_file(path_), "mount = []\n") << "the old configuration is untouched";
        EXPECT_THAT(test::names_starting(dir.path(), c.temporary), ::testing::IsEmpty());
    }
}

// What sits at the name the temporary file once had, or at its start, is never written through,
// removed or in the way; runs saving at the same time never share one.
TEST_F(ConfigFile, PlantedLinksAndFilesAtTemporaryNamesAreLeftAlone) {
    test::TempDir elsewhere;
    write_file(elsewhere / "victim", "keep me\n");
    fs::create_symlink(elsewhere / "victim", path_ + ".new");
    fs::create_symlink(elsewhere / "victim", dir_ / "automount.toml.new.XXXXXX");
    fs::create_symlink(elsewhere / "created", dir_ / "automount.toml.new.");
    fs::create_directory(dir_ / "automount.toml.new.folder");
    write_file(path_, "mount = []\n");

    ASSERT_TRUE(save_automount_config(kWorkedEntries).has_value());
    EXPECT_EQ(read_file(path_), kWorkedExample);
    EXPECT_FALSE(fs::is_symlink(path_));
    EXPECT_EQ(read_file(elsewhere / "victim"), "keep me\n");
    EXPECT_FALSE(fs::exists(elsewhere / "created"));
    EXPECT_THAT(test::names_starting(dir_.path(), "automount.toml.new"),
                ::testing::UnorderedElementsAre("automount.toml.new", "automount.toml.new.XXXXXX",
                                                "automount.toml.new.", "automount.toml.new.folder"));
}

TEST_F(ConfigFile, FailedRenameNamesTheConfigurationAndRemovesTheTemporaryFile) {
    fs::create_directories(fs::path(path_) / "occupied");
    auto saved = save_automount_config(kWorkedEntries);
    ASSERT_FALSE(saved.has_value());
    EXPECT_EQ(saved.error(), path_ + ": Is a directory (os error 21)");
    EXPECT_THAT(test::names_starting(dir_.path(), "automount.toml.new"), ::testing::IsEmpty());
}

TEST_F(ConfigFile, FailedWriteNamesTheTemporaryFileAndRemovesIt) {
    write_file(path_, "mount = []\n");
    auto saved = [] {
        test::ScopedFileSizeLimit limit(1);
        return save_automount_config(kWorkedEntries);
    }();
    ASSERT_FALSE(saved.has_value());
    EXPECT_TRUE(is_temporary_name(saved.error(), path_ + ".new", ": File too large (os error 27)")) << saved.error();
    EXPECT_THAT(test::names_starting(dir_.path(), "automount.toml.new"), ::testing::IsEmpty());
    EXPECT_EQ(read_file(path_), "mount = []\n");
}

TEST_F(ConfigFile, PathNamingAFolderWritesNothing) {
    for (const std::string& path :
         std::vector<std::string>{(dir_ / "sub" / ".").string(), dir_.path().string() + "/sub/..", "/"}) {
        SCOPED_TRACE(path);
        fs::create_directories(dir_ / "sub");
        env_.set("TUVREK_DISK_AUTOMOUNT_CONF", path);
        auto saved = save_automount_config(kWorkedEntries);
        ASSERT_FALSE(saved.has_value());
        EXPECT_EQ(saved.error(), path + ": Is a directory (os error 21)");
        EXPECT_TRUE(fs::is_empty(dir_ / "sub"));
    }
    EXPECT_THAT(test::names_starting(dir_.path(), ""), ::testing::ElementsAre("sub"));
}

// Root writes the configuration at startup from what it holds: under umask 000 any local user could
// otherwise add a mount. Under 077 no one could read it.
TEST_F(ConfigFile, FileIs0644AndNewFoldersAre0755WhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        test::TempDir dir;
        use(dir / "etc" / "tuvrek-disk" / "automount.toml");
        const mode_t old = umask(mask);
        auto saved = save_automount_config(kWorkedEntries);
        auto again = save_automount_config({});
        umask(old);
        ASSERT_TRUE(saved.has_value()) << saved.error();
        ASSERT_TRUE(again.has_value()) << again.error();
        EXPECT_EQ(fs::status(path_).permissions(), fs::perms(0644));
        EXPECT_EQ(fs::status(dir / "etc" / "tuvrek-disk").permissions(), fs::perms(0755));
        EXPECT_EQ(fs::status(dir / "etc").permissions(), fs::perms(0755));
    }
}

TEST(AddOrReplaceEntry, DropsSameUuidInAnyCaseAndSameFolderThenAppends) {
    std::vector<Entry> entries = {entry("abcd-1234", "/mnt/old"), entry("X", "/mnt/keep"),
                                  entry("Y", "/mnt/mac"), entry("Z", "/mnt/mac/")};
    Entry added = entry("ABCD-1234", "/mnt/mac");
    added.read_write = true;
    add_or_replace_entry(entries, added);
    EXPECT_EQ(entries, (std::vector<Entry>{entry("X", "/mnt/keep"), entry("Z", "/mnt/mac/"), added}));
}

TEST(RemoveMatchingEntries, MatchesFolderWithoutTrailingSlashesOrUuidInAnyCase) {
    const std::vector<Entry> start = {entry("A-1", "/mnt/mac"), entry("B-2", "/mnt/mac/"), entry("C-3", "/mnt/usb"),
                                      entry("D-4", "/mnt/macintosh")};
    struct Case {
        const char* text;
        std::size_t removed;
        std::vector<std::string> left;  // uuids
    };
    const Case cases[] = {
        {"/mnt/mac", 2, {"C-3", "D-4"}},
        {"/mnt/mac//", 2, {"C-3", "D-4"}},
        {"c-3", 1, {"A-1", "B-2", "D-4"}},
        {"c-3/", 0, {"A-1", "B-2", "C-3", "D-4"}},  // a UUID is compared untrimmed
        {"/mnt/MAC", 0, {"A-1", "B-2", "C-3", "D-4"}},
        {"nothing", 0, {"A-1", "B-2", "C-3", "D-4"}},
    };
    for (const Case& c : cases) {
        std::vector<Entry> entries = start;
        EXPECT_EQ(remove_matching_entries(entries, c.text), c.removed) << c.text;
        std::vector<std::string> left;
        for (const Entry& e : entries) left.push_back(e.uuid);
        EXPECT_EQ(left, c.left) << c.text;
    }
}

TEST(StartupEntryForUuid, FirstMatchFoldingAsciiOnly) {
    const std::vector<Entry> entries = {entry("3c5e-91a4", "/mnt/first"), entry("3C5E-91A4", "/mnt/second"),
                                        entry("\xc3\xa9", "/mnt/accent")};
    const Entry* found = startup_entry_for_uuid(entries, "3C5E-91a4");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, &entries[0]);
    EXPECT_EQ(startup_entry_for_uuid(entries, "3C5E-91A"), nullptr);
    EXPECT_EQ(startup_entry_for_uuid(entries, "\xc3\x89"), nullptr);  // É is not folded
}

TEST(EntryToJson, SortedKeysAndOptionalKeysLeftOut) {
    EXPECT_EQ(entry_to_json(kWorkedEntries).dump(),
              "[{\"filesystem\":\"apfs\",\"gid\":1000,\"read_write\":false,\"target\":\"/mnt/mac\",\"uid\":1000,"
              "\"uuid\":\"6F1D2C3B-8A47-4E55-9B20-D41C7E9A0B13\",\"volume\":2},"
              "{\"filesystem\":\"exfat\",\"gid\":1000,\"read_write\":true,\"target\":\"/mnt/usb\",\"uid\":1000,"
              "\"uuid\":\"3C5E-91A4\"}]");
    EXPECT_EQ(entry_to_json({entry("A", "/a")}).dump(),
              "[{\"gid\":1000,\"read_write\":false,\"target\":\"/a\",\"uid\":1000,\"uuid\":\"A\"}]");
    EXPECT_EQ(entry_to_json({}).dump(), "[]");
}

}  // namespace
}  // namespace tuvrek
