#include "tuvrek/records.hpp"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
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
    EXPECT_THAT(test::names_starting(run_dir(), "mounts.json.new"), testing::IsEmpty());
}

// Root writes the records; under umask 000 anyone could otherwise change what unmount removes, and
// under 077 the window, which runs as the user, could not read them.
TEST_F(RecordsFile, FileIs0644AndNewFoldersAre0755WhateverTheUmask) {
    env_.set("TUVREK_DISK_RUN_DIR", (run_dir() / "deeper").string());
    for (const mode_t mask : {mode_t{0}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        fs::remove_all(run_dir());
        const mode_t old = ::umask(mask);
        auto written = write_mount_records({{"/dev/a", "/a", false}});
        auto again = write_mount_records({{"/dev/b", "/b", false}});
        ::umask(old);
        ASSERT_TRUE(written) << written.error();
        ASSERT_TRUE(again) << again.error();
        EXPECT_EQ(fs::status(run_dir()).permissions(), fs::perms(0755));
        EXPECT_EQ(fs::status(run_dir() / "deeper").permissions(), fs::perms(0755));
        EXPECT_EQ(fs::status(run_dir() / "deeper" / "mounts.json").permissions(), fs::perms(0644));
    }
}

// A run folder named through a link (as /var/run leads to /run) is where the link leads.
TEST_F(RecordsFile, RunFolderThroughALinkIsFollowed) {
    fs::create_directories(dir_ / "real");
    fs::create_directory_symlink(dir_ / "real", dir_ / "link");
    env_.set("TUVREK_DISK_RUN_DIR", (dir_ / "link" / "run").string());
    ASSERT_TRUE(write_mount_records({{"/dev/a", "/a", false}}));
    EXPECT_EQ(test::read_file(dir_ / "real" / "run" / "mounts.json"), serialize_mount_records({{"/dev/a", "/a", false}}));
}

// The temporary file is made new under a name of its own: a link planted at the old name or at the
// start of the new ones is never followed, and the file it points to stays as it was (or absent).
TEST_F(RecordsFile, PlantedLinksAtTemporaryNamesAreNeverFollowed) {
    test::TempDir elsewhere;
    test::write_file(elsewhere / "victim", "keep me\n");
    fs::create_directories(run_dir());
    fs::create_symlink(elsewhere / "victim", run_dir() / "mounts.json.new");
    fs::create_symlink(elsewhere / "victim", run_dir() / "mounts.json.new.XXXXXX");
    fs::create_symlink(elsewhere / "created", run_dir() / "mounts.json.new.");

    ASSERT_TRUE(write_mount_records({{"/dev/a", "/a", true}}));
    EXPECT_EQ(read_mount_records(), (std::vector<Record>{{"/dev/a", "/a", true}}));
    EXPECT_FALSE(fs::is_symlink(file()));
    EXPECT_EQ(test::read_file(elsewhere / "victim"), "keep me\n");
    EXPECT_FALSE(fs::exists(elsewhere / "created"));
    EXPECT_THAT(test::names_starting(run_dir(), "mounts.json.new"),
                testing::UnorderedElementsAre("mounts.json.new", "mounts.json.new.XXXXXX", "mounts.json.new."));
}

// Writers that don't wait for each other (a run of an older version, say) each put a whole file in
// place: a reader always sees one of the lists, never a mix such as "]\n]".
TEST_F(RecordsFile, WritersAtOnceEachLeaveAWholeFile) {
    constexpr int kWriters = 6;
    constexpr int kWrites = 40;
    auto list_of = [](int writer) {
        std::vector<Record> records;
        for (int i = 0; i <= writer; ++i) records.push_back({"/dev/w" + std::to_string(writer), "/mnt/" + std::to_string(i), i % 2 == 0});
        return records;
    };
    ASSERT_TRUE(write_mount_records(list_of(0)));
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kWrites; ++i) {
                if (!write_mount_records(list_of(writer))) ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    int torn = 0;
    for (int i = 0; i < 300; ++i) {
        const std::vector<Record> seen = parse_mount_records(test::read_file(file()));
        bool whole = false;
        for (int writer = 0; writer < kWriters; ++writer) whole = whole || seen == list_of(writer);
        if (!whole) ++torn;
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
    }
    EXPECT_EQ(torn, 0);
    EXPECT_THAT(test::names_starting(run_dir(), "mounts.json.new"), testing::IsEmpty());
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
    EXPECT_THAT(test::names_starting(run_dir(), "mounts.json.new"), testing::IsEmpty());
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

// Files written before folders were canonical hold them as typed; the unmount gives the canonical form.
TEST_F(RecordsFile, TakeMatchesATargetStoredInAnotherSpelling) {
    test::TempDir folders;
    const std::string base = fs::canonical(folders.path()).string();
    fs::create_directories(base + "/mnt/new");
    fs::create_directory_symlink(base + "/mnt/new", base + "/link");
    const std::vector<Record> records = {{"/dev/sda1", base + "/mnt/other", true},
                                         {"/dev/sdb1", base + "/mnt/new/", true},
                                         {"/dev/sdc1", base + "//link", false},
                                         {"/dev/sdd1", base + "/mnt/new", true}};
    ASSERT_TRUE(write_mount_records(records));

    auto first = take_record(base + "/mnt/new");
    ASSERT_TRUE(first);
    ASSERT_TRUE(*first);
    EXPECT_EQ(**first, records[1]);
    auto second = take_record(base + "/mnt/new");
    ASSERT_TRUE(second && *second);
    EXPECT_EQ(**second, records[2]);
    EXPECT_EQ(read_mount_records(), (std::vector<Record>{records[0], records[3]}));
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
    EXPECT_THAT(test::names_starting(run_dir(), "mounts.json.new"), testing::IsEmpty());
}

}  // namespace
}  // namespace tuvrek
