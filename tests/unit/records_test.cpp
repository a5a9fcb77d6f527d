#include "tuvrek/records.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support.hpp"

namespace tuvrek {
namespace {

namespace fs = std::filesystem;

class RecordsFile : public testing::Test {
protected:
    void SetUp() override { env_.set("TUVREK_DISK_RUN_DIR", run_dir().string()); }
    fs::path run_dir() const { return dir_ / "run"; }
    fs::path file() const { return run_dir() / "mounts.json"; }
    void store(const std::string& content) { test::write_file(file(), content); }

    test::TempDir dir_;
    test::ScopedEnv env_;
};

TEST(RecordsSerialize, ExactLayout) {
    EXPECT_EQ(serialize_mount_records({}), "[]\n");
    EXPECT_EQ(serialize_mount_records({{"/dev/sdb2", "/mnt/mac", true}}),
              "[\n"
              "  {\n"
              "    \"device\": \"/dev/sdb2\",\n"
              "    \"target\": \"/mnt/mac\",\n"
              "    \"created_dir\": true\n"
              "  }\n"
              "]\n");
    EXPECT_EQ(serialize_mount_records({{"/dev/a", "/mnt/\"q\"\\", false}, {"/dev/b", "/mnt/caf\xC3\xA9", true}}),
              "[\n"
              "  {\n"
              "    \"device\": \"/dev/a\",\n"
              "    \"target\": \"/mnt/\\\"q\\\"\\\\\",\n"
              "    \"created_dir\": false\n"
              "  },\n"
              "  {\n"
              "    \"device\": \"/dev/b\",\n"
              "    \"target\": \"/mnt/caf\xC3\xA9\",\n"
              "    \"created_dir\": true\n"
              "  }\n"
              "]\n");
}

TEST(RecordsSerialize, InvalidUtf8IsWrittenAsReplacement) {
    // The library would throw on these bytes; the file must still be written.
    EXPECT_EQ(parse_mount_records(serialize_mount_records({{"/dev/a", "/mnt/\xFF", true}})),
              (std::vector<Record>{{"/dev/a", "/mnt/\xEF\xBF\xBD", true}}));
}

TEST(RecordsParse, ShapesThatReadAndShapesThatEmptyTheList) {
    const std::vector<Record> one = {{"/dev/sdb2", "/mnt/mac", true}};
    const struct {
        const char* what;
        std::string text;
        std::vector<Record> records;
    } cases[] = {
        {"empty array", "[]\n", {}},
        {"object form", R"([{"device":"/dev/sdb2","target":"/mnt/mac","created_dir":true}])", one},
        {"array form", R"([["/dev/sdb2","/mnt/mac",true]])", one},
        {"extra keys ignored", R"([{"created_dir":true,"x":1,"target":"/mnt/mac","device":"/dev/sdb2"}])", one},
        {"trailing white space", "[[\"/dev/sdb2\",\"/mnt/mac\",true]] \t\r\n\n", one},
        {"mixed forms keep order",
         R"([["/dev/a","/a",false],{"device":"/dev/b","target":"/b","created_dir":true}])",
         {{"/dev/a", "/a", false}, {"/dev/b", "/b", true}}},
        {"trailing comma", R"([["/dev/sdb2","/mnt/mac",true],])", {}},
        {"missing created_dir", R"([["/dev/a","/a",false],{"device":"/dev/b","target":"/b"}])", {}},
        {"created_dir as text", R"([{"device":"/dev/b","target":"/b","created_dir":"true"}])", {}},
        {"created_dir as number", R"([["/dev/b","/b",1]])", {}},
        {"device not text", R"([[7,"/b",true]])", {}},
        {"array of two", R"([["/dev/b","/b"]])", {}},
        {"array of four", R"([["/dev/b","/b",true,true]])", {}},
        {"element not a container", R"([["/dev/a","/a",false],"x"])", {}},
        {"object at the top", R"({"device":"/dev/b","target":"/b","created_dir":true})", {}},
        {"text after the array", "[[\"/dev/sdb2\",\"/mnt/mac\",true]] x", {}},
        {"two arrays", "[] []", {}},
        {"not JSON", "records", {}},
        {"empty file", "", {}},
        {"invalid UTF-8", "[[\"/dev/sdb2\",\"/mnt/\xFF\",true]]", {}},
        {"a NUL in the target", R"([["/dev/a","/a",false],["/dev/sdb2","/mnt/full\u0000/x",true]])", {}},
        {"a NUL in the device", R"([{"device":"/dev/sdb2\u0000","target":"/mnt/mac","created_dir":true}])", {}},
        {"huge number", "[1e400]", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_mount_records(c.text), c.records) << c.what;
}

TEST(RecordsPath, RunFolderJoining) {
    test::ScopedEnv env;
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, "/run/tuvrek-disk/mounts.json"},
        {"/tmp/run", "/tmp/run/mounts.json"},
        {"/tmp/run/", "/tmp/run/mounts.json"},
        {"", "mounts.json"},
    };
    for (const auto& [value, path] : cases) {
        env.set("TUVREK_DISK_RUN_DIR", value);
        EXPECT_EQ(records_path(), path) << value.value_or("(unset)");
    }
}

TEST_F(RecordsFile, WriteCreatesTheRunFolderAndRoundTrips) {
    const std::vector<Record> records = {{"/dev/sdb2", "/mnt/mac", true}, {"/dev/sda1", "/mnt/My Disk", false}};
    ASSERT_FALSE(fs::exists(run_dir()));
    env_.set("TUVREK_DISK_RUN_DIR", (run_dir() / "deeper" / "still").string());
    ASSERT_TRUE(write_mount_records(records));
    EXPECT_EQ(test::read_file(run_dir() / "deeper" / "still" / "mounts.json"), serialize_mount_records(records));
    EXPECT_EQ(read_mount_records(), records);

    ASSERT_TRUE(write_mount_records({}));
    EXPECT_EQ(test::read_file(run_dir() / "deeper" / "still" / "mounts.json"), "[]\n");
}

TEST_F(RecordsFile, WriteReplacesTheFileWholeThroughATemporaryOne) {
    ASSERT_TRUE(write_mount_records({{"/dev/a", "/a", true}}));
    const std::string old_content = test::read_file(file());
    // A second name for the old file: rewriting in place would change what it shows.
    ASSERT_EQ(::link(file().c_str(), (dir_ / "old-mounts.json").c_str()), 0);
    ASSERT_TRUE(write_mount_records({{"/dev/b", "/b", false}}));
    EXPECT_EQ(test::read_file(dir_ / "old-mounts.json"), old_content);
    EXPECT_EQ(read_mount_records(), (std::vector<Record>{{"/dev/b", "/b", false}}));
    EXPECT_FALSE(fs::exists(run_dir() / "mounts.json.new"));
}

TEST_F(RecordsFile, WriteHonoursTheUmask) {
    const mode_t old = ::umask(022);
    auto written = write_mount_records({{"/dev/a", "/a", false}});
    ::umask(old);
    ASSERT_TRUE(written);
    EXPECT_EQ(fs::status(run_dir()).permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(file()).permissions(), fs::perms(0644));
}

TEST_F(RecordsFile, WriteFailureIsTheSystemError) {
    test::write_file(dir_ / "plain", "not a folder");
    env_.set("TUVREK_DISK_RUN_DIR", (dir_ / "plain" / "run").string());
    auto written = write_mount_records({});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Not a directory (os error 20)");

    fs::create_directories(file());  // mounts.json itself is a folder: the rename fails
    env_.set("TUVREK_DISK_RUN_DIR", run_dir().string());
    written = write_mount_records({});
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(), "Is a directory (os error 21)");
    EXPECT_FALSE(fs::exists(run_dir() / "mounts.json.new"));
}

TEST_F(RecordsFile, MissingOrUnreadableFileReadsEmpty) {
    EXPECT_TRUE(read_mount_records().empty());
    fs::create_directories(file());
    EXPECT_TRUE(read_mount_records().empty());
}

TEST_F(RecordsFile, TakeWithoutFileCreatesNothing) {
    auto taken = take_record("/mnt/mac");
    ASSERT_TRUE(taken);
    EXPECT_FALSE(*taken);
    EXPECT_FALSE(fs::exists(run_dir()));
}

TEST_F(RecordsFile, TakeRemovesOnlyTheFirstExactMatch) {
    const std::vector<Record> records = {
        {"/dev/sda1", "/mnt/mac", false}, {"/dev/sdb1", "/mnt/win", true}, {"/dev/sdc1", "/mnt/mac", true}};
    ASSERT_TRUE(write_mount_records(records));

    auto miss = take_record("/mnt/mac/");
    ASSERT_TRUE(miss);
    EXPECT_FALSE(*miss);
    EXPECT_EQ(read_mount_records(), records);

    auto hit = take_record("/mnt/mac");
    ASSERT_TRUE(hit);
    ASSERT_TRUE(*hit);
    EXPECT_EQ(**hit, records[0]);
    EXPECT_EQ(read_mount_records(), (std::vector<Record>{records[1], records[2]}));
}

TEST_F(RecordsFile, TakeReportsAFailedWrite) {
    ASSERT_TRUE(write_mount_records({{"/dev/a", "/a", true}, {"/dev/b", "/b", true}}));
    const std::string before = test::read_file(file());
    auto taken = [] {
        test::ScopedFileSizeLimit limit(1);
        return take_record("/a");
    }();
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.error(), "File too large (os error 27)");
    EXPECT_EQ(test::read_file(file()), before) << "a failed write keeps the old records whole";
    EXPECT_FALSE(fs::exists(run_dir() / "mounts.json.new"));
}

}  // namespace
}  // namespace tuvrek
