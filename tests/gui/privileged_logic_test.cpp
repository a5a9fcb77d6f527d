// The runner's pure pieces: reading tuvrek-disk's reply and finding tuvrek-disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "privileged.hpp"
#include "support.hpp"

namespace {

using brevane::CliResult;
using brevane::parse_cli_reply;
namespace fs = std::filesystem;

struct ReplyCase {
    const char* name;
    std::string out;
    std::string err;
    int status;
    CliResult expected;
};

class ParseCliReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(ParseCliReply, GivesTheResult) {
    const ReplyCase& c = GetParam();
    EXPECT_EQ(parse_cli_reply(c.out, c.err, c.status), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseCliReply,
    testing::Values(
        ReplyCase{"success_with_newline", "{\"message\":\"Mounted /dev/sdb1 at /mnt/usb.\",\"ok\":true}\n", "", 0,
                  {true, "Mounted /dev/sdb1 at /mnt/usb."}},
        ReplyCase{"white_space_around", " \t\r\n{\"ok\":true,\"message\":\"Done.\"}\r\n\t ", "", 0, {true, "Done."}},
        ReplyCase{"success_without_message", "{\"ok\":true}", "", 0, {true, ""}},
        ReplyCase{"message_not_a_string", "{\"ok\":true,\"message\":5}", "", 0, {true, ""}},
        // Anything after the value but white space makes it no reply: the status decides.
        ReplyCase{"trailing_garbage", "{\"ok\":true,\"message\":\"Done.\"}x", "warning\nlast words\n", 5,
                  {false, "last words"}},
        ReplyCase{"two_values", "{\"ok\":true}{\"ok\":true}", "", 0, {false, "tuvrek-disk failed."}},
        ReplyCase{"byte_order_mark", "\xEF\xBB\xBF{\"ok\":true,\"message\":\"Done.\"}", "", 126, {false, "Cancelled."}},
        ReplyCase{"ok_as_string", "{\"ok\":\"true\",\"message\":\"Done.\"}", "", 0, {false, "Done."}},
        ReplyCase{"ok_as_number", "{\"ok\":1,\"message\":\"Done.\"}", "", 0, {false, "Done."}},
        ReplyCase{"ok_missing", "{\"message\":\"Done.\"}", "", 0, {false, "Done."}},
        ReplyCase{"not_an_object", "[true]", "", 0, {false, ""}},
        ReplyCase{"ok_false_with_exit_zero", "{\"error\":\"busy\",\"message\":\"Target is busy.\",\"ok\":false}\n", "",
                  0, {false, "Target is busy."}},
        // A reply wins over pkexec's statuses.
        ReplyCase{"reply_with_126", "{\"ok\":true,\"message\":\"Done.\"}", "", 126, {true, "Done."}},
        ReplyCase{"dismissed", "", "Error executing command as another user: Request dismissed\n", 126,
                  {false, "Cancelled."}},
        ReplyCase{"not_authorized", "", "Error executing command as another user: Not authorized\n", 127,
                  {false, "Not authorized."}},
        ReplyCase{"last_line_of_stderr", "", "first line\nsecond line\n", 1, {false, "second line"}},
        ReplyCase{"last_line_without_final_feed", "", "first\nsecond", 1, {false, "second"}},
        ReplyCase{"crlf_breaks", "", "first\r\nsecond\r\n", 1, {false, "second"}},
        ReplyCase{"two_final_feeds_give_empty", "", "first\nsecond\n\n", 1, {false, ""}},
        ReplyCase{"empty_stderr", "", "", 1, {false, "tuvrek-disk failed."}},
        ReplyCase{"empty_stdout_zero_status", "", "", 0, {false, "tuvrek-disk failed."}},
        ReplyCase{"garbage_stdout", "Segmentation fault", "", 139, {false, "tuvrek-disk failed."}}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

class CliPathBeside : public testing::Test {
protected:
    tuvrek::test::TempDir dir;
    std::string exe() const { return (dir / "brevane").string(); }
};

TEST_F(CliPathBeside, TakesARegularFileNextToTheProgram) {
    tuvrek::test::write_file(dir / "tuvrek-disk", "#!/bin/sh\n");
    EXPECT_EQ(brevane::cli_path_beside(exe()), (dir / "tuvrek-disk").string());
}

TEST_F(CliPathBeside, ASymbolicLinkToAFileCounts) {
    tuvrek::test::write_file(dir / "real-cli", "#!/bin/sh\n");
    fs::create_symlink(dir / "real-cli", dir / "tuvrek-disk");
    EXPECT_EQ(brevane::cli_path_beside(exe()), (dir / "tuvrek-disk").string());
}

TEST_F(CliPathBeside, FallsBackForAFolderADanglingLinkOrNothing) {
    EXPECT_EQ(brevane::cli_path_beside(exe()), "/usr/bin/tuvrek-disk");
    fs::create_symlink(dir / "gone", dir / "tuvrek-disk");
    EXPECT_EQ(brevane::cli_path_beside(exe()), "/usr/bin/tuvrek-disk");
    fs::remove(dir / "tuvrek-disk");
    fs::create_directory(dir / "tuvrek-disk");
    EXPECT_EQ(brevane::cli_path_beside(exe()), "/usr/bin/tuvrek-disk");
}

TEST(CliPath, FallsBackWithoutAParentFolder) {
    EXPECT_EQ(brevane::cli_path_beside("brevane"), "/usr/bin/tuvrek-disk");
    EXPECT_EQ(brevane::cli_path_beside(""), "/usr/bin/tuvrek-disk");
}

TEST(CliPath, FindsTheBuiltProgramBesideThisOne) {
    // Test programs land in the build's bin folder, next to tuvrek-disk.
    EXPECT_EQ(fs::canonical(brevane::cli_path()), fs::canonical(tuvrek::test::cli_binary()));
}

}  // namespace
