// Device data and state files that anyone can shape: each ends in a clear answer, never a crash or a hang.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support.hpp"

namespace tuvrek::test {
namespace {

std::string partition_json(const std::string& name, const std::string& label_json) {
    return R"({"name":")" + name + R"(","path":"/dev/)" + name +
           R"(","type":"part","size":1000000,"fstype":"ext4","label":)" + label_json +
           R"(,"uuid":"u-)" + name + R"(","mountpoints":[null]})";
}

std::string document(const std::string& children) {
    return R"({"blockdevices":[{"name":"sdx","path":"/dev/sdx","type":"disk","size":2000000,"model":"Disk","rm":false,"children":[)" +
           children + "]}]}";
}

std::string many_partitions(int count) {
    std::string children;
    for (int i = 0; i < count; ++i) {
        if (i) children += ",";
        children += partition_json("sdx" + std::to_string(i), "\"p" + std::to_string(i) + "\"");
    }
    return document(children);
}

std::string deeply_nested(int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        open += R"({"name":"n","type":"part","fstype":"ext4","children":[)";
        close += "]}";
    }
    return R"({"blockdevices":[{"name":"sdx","path":"/dev/sdx","type":"disk","children":[)" + open + close + "]}]}";
}

struct Hostile {
    const char* name;
    std::function<std::string()> lsblk;             // the document handed over as a file
    std::vector<std::string> args;
    int status;
    std::function<void(const Run&)> check;
    std::string mountinfo = "";
    std::string records = "";
    std::string config = "";
};

void PrintTo(const Hostile& c, std::ostream* os) { *os << c.name; }

class HostileInput : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, EndsWithTheCautiousAnswer) {
    const Hostile& c = GetParam();
    TempDir dir;
    write_file(dir / "lsblk.json", c.lsblk());
    write_file(dir / "mountinfo", c.mountinfo);
    if (!c.records.empty()) write_file(dir / "run" / "mounts.json", c.records);
    if (!c.config.empty()) write_file(dir / "automount.toml", c.config);
    test::Run run = run_cli(c.args, hermetic_options(dir.path()));
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.check) c.check(run);
}

const std::string kEsc = "\\u001b";

INSTANTIATE_TEST_SUITE_P(
    Table, HostileInput,
    ::testing::Values(
        Hostile{"quotes_blanks_newlines_and_escapes",
                [] { return document(partition_json("sdx1", R"("a \"b\"\n\u001b[2J c")")); },
                {"list"}, 0,
                [](const Run& r) {
                    EXPECT_NE(r.out.find(R"(a "b"\x0a\x1b[2J c)"), std::string::npos) << r.out;
                    EXPECT_EQ(r.out.find("\x1b[2J"), std::string::npos);
                }},
        Hostile{"escapes_stay_as_data_in_json",
                [] { return document(partition_json("sdx1", R"("x\u001b[2Jy")")); },
                {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find(R"("name":"x\u001b[2Jy")"), std::string::npos) << r.out; }},
        Hostile{"c1_controls_and_del",
                [] { return document(partition_json("sdx1", R"("a\u0085b\u009bc\u007fd")")); },
                {"list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find(R"(a\u0085b\u009bc\x7fd)"), std::string::npos) << r.out; }},
        Hostile{"very_long_label",
                [] { return document(partition_json("sdx1", std::string("\"").append(200000, 'L') + "\"")); },
                {"list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find(std::string(200000, 'L')), std::string::npos); }},
        Hostile{"ten_thousand_partitions", [] { return many_partitions(10000); }, {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find("\"/dev/sdx9999\""), std::string::npos); }},
        Hostile{"deeply_nested_children", [] { return deeply_nested(20000); }, {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find("\"ok\":true"), std::string::npos) << r.err; }},
        Hostile{"megabyte_mountinfo_line", [] { return many_partitions(1); }, {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find("\"ok\":true"), std::string::npos); },
                std::string("36 35 98:0 / /").append(1 << 20, 'm') + " rw - ext4 /dev/sdx0 rw\n"},
        Hostile{"mounts_json_of_the_wrong_shape", [] { return many_partitions(1); }, {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find("\"mountpoints\":[]"), std::string::npos) << r.out; },
                "36 35 98:0 / /mnt/x rw - ext4 /dev/sdx0 rw\n", R"({"device":"/dev/sdx0","target":"/mnt/x"})"},
        Hostile{"toml_with_wrong_types", [] { return many_partitions(1); }, {"automount", "list"}, 1,
                [](const Run& r) { EXPECT_NE(r.err.find("TOML parse error at line"), std::string::npos) << r.err; },
                "", "", "[[mount]]\nuuid = 7\ntarget = \"/mnt/x\"\nuid = 1\ngid = 1\n"},
        Hostile{"toml_with_huge_integers", [] { return many_partitions(1); }, {"--json", "automount", "list"}, 1,
                [](const Run& r) { EXPECT_NE(r.out.find("\"error\":\"config\""), std::string::npos) << r.out; },
                "", "", "[[mount]]\nuuid = \"u\"\ntarget = \"/mnt/x\"\nuid = 99999999999999999999\ngid = 1\n"},
        Hostile{"list_ignores_a_broken_config", [] { return many_partitions(1); }, {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find("\"startup\":null"), std::string::npos) << r.out; },
                "", "", "[[mount]]\nuuid = \"u-sdx0\"\ntarget = \"/mnt/x\"\nuid = 4294967296\ngid = 1\n"}),
    [](const ::testing::TestParamInfo<Hostile>& info) { return std::string(info.param.name); });

// A startup folder holding a NUL passes the checks as a folder that does not exist, while mount
// would get it cut at the NUL and mount over the full folder before it: the run stops at the file.
TEST(HostileConfig, ANulInAStartupFolderNeverReachesMount) {
    TempDir dir;
    StandIns standins(dir / "standins");
    for (const char* name : {"mount", "modprobe", "modinfo", "pacman", "systemctl"}) standins.add(name);
    const fs::path full = dir / "full";
    write_file(full / "kept", "the user's file");
    write_file(dir / "lsblk.json", document(partition_json("sdx1", "\"Data\"")));
    write_file(dir / "mountinfo", "");
    write_file(dir / "automount.toml", "[[mount]]\nuuid = \"u-sdx1\"\ntarget = \"" + full.string() +
                                           "\\u0000/x\"\nuid = 1000\ngid = 1000\n");
    const RunOptions options = hermetic_options(dir.path(), standins.bin().string());
    for (const bool json : {false, true}) {
        std::vector<std::string> args = {"--elevated", "automount", "run"};
        if (json) args.insert(args.begin(), "--json");
        test::Run run = run_cli(args, options);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE((json ? run.out : run.err).find("the target holds a NUL character"), std::string::npos)
            << run.out << run.err;
        EXPECT_EQ(run.out.find('\0'), std::string::npos);
        EXPECT_EQ(run.err.find('\0'), std::string::npos);
    }
    EXPECT_TRUE(standins.calls("mount").empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(full), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(dir / "run" / "mounts.json"));
}

// A NUL from a device's data or from what a program says reaches the echo, the reply or a message;
// none of them ever carries it raw, and no program is given a path cut at it.
struct NulCase {
    const char* name;
    std::string mountpoint_json;  // sdx1's mount points in the lsblk document
    std::string mount_script;     // the stand-in mount's body
    std::vector<std::string> args;
    std::string shown;            // the text holding the NUL, as the text replies show it
};
void PrintTo(const NulCase& c, std::ostream* os) { *os << c.name; }

class HostileNul : public ::testing::TestWithParam<NulCase> {};

TEST_P(HostileNul, NeverPrintedRaw) {
    const NulCase& c = GetParam();
    TempDir dir;
    StandIns standins(dir / "standins");
    for (const char* name : {"umount", "lsof", "modprobe", "modinfo", "pacman", "systemctl"}) standins.add(name);
    standins.add_script("mount", c.mount_script);
    write_file(dir / "lsblk.json",
               document(R"({"name":"sdx1","path":"/dev/sdx1","type":"part","size":1000000,"fstype":"ext4",)"
                        R"("uuid":"u-sdx1","mountpoints":)" +
                        c.mountpoint_json + "}"));
    write_file(dir / "mountinfo", "");
    const RunOptions options = hermetic_options(dir.path(), standins.bin().string());
    for (const bool json : {false, true}) {
        std::vector<std::string> args = c.args;
        for (std::string& arg : args)
            if (arg == "@DIR@") arg = (dir / "mnt" / "x").string();
        if (json) args.insert(args.begin(), "--json");
        test::Run run = run_cli(args, options);
        EXPECT_EQ(run.status, 5) << run.out << run.err;
        EXPECT_EQ(run.out.find('\0'), std::string::npos) << run.out;
        EXPECT_EQ(run.err.find('\0'), std::string::npos) << run.err;
        if (!json) {
            EXPECT_NE(run.err.find(c.shown), std::string::npos) << run.err;
        }
    }
    EXPECT_TRUE(standins.calls("umount").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileNul,
    ::testing::Values(
        NulCase{"in_a_mount_point_that_would_be_unmounted", R"(["/mnt/a\u0000b"])", "exit 0",
                {"--elevated", "unmount", "/dev/sdx1"},
                "Unmounting /mnt/a\\x00b failed: umount: an argument holds a NUL character"},
        NulCase{"in_what_mount_says", "[null]", "printf 'mount: bad\\000label\\n' >&2; exit 32",
                {"--elevated", "mount", "-p", "sdx1", "-d", "@DIR@"}, "failed: mount: bad\\x00label"}),
    [](const ::testing::TestParamInfo<NulCase>& info) { return std::string(info.param.name); });

// ---- mounts.json replaced whole ----

// A mount of sdx1 on a machine whose mounts.json already holds a record; the record of the new
// mount is then saved over it.
class RecordsSave : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"mount", "modprobe", "modinfo", "pacman", "systemctl"}) standins_.add(name);
        write_file(dir_ / "lsblk.json", document(partition_json("sdx1", "\"Data\"")));
        write_file(dir_ / "mountinfo", "");
    }
    fs::path records() const { return dir_ / "run" / "mounts.json"; }
    std::string folder() const { return (dir_ / "mnt" / "x").string(); }
    // mounts.json holding records of (device, target), each of a folder this system made.
    static std::string records_text(const std::vector<std::pair<std::string, std::string>>& records) {
        std::vector<std::string> objects;
        for (const auto& [device, target] : records)
            objects.push_back("  {\n    \"device\": \"" + device + "\",\n    \"target\": \"" + target +
                              "\",\n    \"created_dir\": true\n  }");
        std::string text = "[\n";
        for (std::size_t i = 0; i < objects.size(); ++i) text += objects[i] + (i + 1 < objects.size() ? ",\n" : "\n");
        return text + "]\n";
    }
    test::Run mount() const {
        return run_cli({"--elevated", "mount", "-p", "sdx1", "-d", folder()},
                       hermetic_options(dir_.path(), standins_.bin().string()));
    }
    // The run folder holds nothing but the records and the lock the run held: no temporary file was left.
    void expect_only_the_records_file() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_ / "run")) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"lock", "mounts.json"}));
    }

    TempDir dir_;
    StandIns standins_{dir_ / "standins"};
};

TEST_F(RecordsSave, ASecondNameForTheOldFileKeepsTheOldRecords) {
    const std::string before = records_text({{"/dev/sdy1", "/mnt/old"}});
    write_file(records(), before);
    ASSERT_EQ(::link(records().c_str(), (dir_ / "old-mounts.json").c_str()), 0);
    test::Run run = mount();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir_ / "old-mounts.json"), before);
    EXPECT_EQ(read_file(records()), records_text({{"/dev/sdy1", "/mnt/old"}, {"/dev/sdx1", folder()}}));
    expect_only_the_records_file();
}

// The mount stands when its record can't be saved, and the file that was there is left whole.
TEST_F(RecordsSave, AFailedWriteLeavesTheOldFileAndNoTemporaryOne) {
    // Longer than the limit once the new record joins it; the stand-ins' own records stay below it.
    const std::string before = records_text({{"/dev/sdy1", std::string("/mnt/").append(600, 'o')}});
    write_file(records(), before);
    test::Run run = [&] {
        test::ScopedFileSizeLimit limit(before.size() + 16);
        return mount();
    }();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(standins_.calls("mount").size(), 1u);
    EXPECT_EQ(read_file(records()), before);
    expect_only_the_records_file();
    // Not silent: unmounting won't find the record, and the user is told.
    EXPECT_NE(run.err.find("\x1b[33mWarning:\x1b[0m /dev/sdx1 is mounted at " + folder() +
                           ", but the mount couldn't be recorded in " + records().string() + ": "),
              std::string::npos)
        << run.err;
}

TEST_F(RecordsSave, AFailedRenameLeavesNoTemporaryFile) {
    // A folder holding something can't be renamed over.
    write_file(records() / "kept", "x");
    test::Run run = mount();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(standins_.calls("mount").size(), 1u);
    EXPECT_EQ(read_file(records() / "kept"), "x");
    expect_only_the_records_file();
}

// ---- state files anyone could reach ----

mode_t mode_of(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

// A mount at startup made from a shell whose umask lets anyone write: no one but root may change what
// root mounts at the next boot.
TEST_F(RecordsSave, UnderUmaskZeroFilesAre0644AndFolders0755) {
    RunOptions options = hermetic_options(dir_.path(), standins_.bin().string());
    const fs::path config = dir_ / "etc" / "tuvrek-disk" / "automount.toml";
    options.env["TUVREK_DISK_AUTOMOUNT_CONF"] = config.string();
    options.umask = 0;
    test::Run run = run_cli({"--elevated", "mount", "--startup", "-p", "sdx1", "-d", folder()}, options);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const fs::path& file : {records(), dir_ / "run" / "lock", config})
        EXPECT_EQ(mode_of(file), 0644u) << file;
    for (const fs::path& folder : {dir_ / "run", dir_ / "etc", config.parent_path(), fs::path(folder()), dir_ / "mnt"})
        EXPECT_EQ(mode_of(folder), 0755u) << folder;
}

// Links planted at the names a writer might use for its temporary file, or at the lock: the write
// never goes through them, and the file they point at is left as it was.
TEST_F(RecordsSave, LinksAtTheTemporaryNamesAreNeverFollowed) {
    const fs::path victim = dir_ / "victim";
    write_file(victim, "precious\n");
    fs::create_directories(dir_ / "run");
    for (const char* name : {"run/mounts.json.new", "run/lock", "automount.toml.new"})
        fs::create_symlink(victim, dir_ / name);
    test::Run run = run_cli({"--elevated", "mount", "--startup", "-p", "sdx1", "-d", folder()},
                            hermetic_options(dir_.path(), standins_.bin().string()));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(victim), "precious\n");
    EXPECT_EQ(read_file(records()), records_text({{"/dev/sdx1", folder()}}));
    EXPECT_NE(read_file(dir_ / "automount.toml").find("uuid = \"u-sdx1\""), std::string::npos);
    // The lock can't be had through a link: the run says so and goes on.
    EXPECT_NE(run.err.find("Going on without the lock " + (dir_ / "run" / "lock").string()), std::string::npos)
        << run.err;
}

// lsblk's own output may hold bytes that are not UTF-8: they become U+FFFD, never a failure.
TEST(HostileLsblk, InvalidUtf8FromTheProgramIsReplaced) {
    TempDir dir;
    StandIns standins(dir / "standins");
    std::string doc = document(partition_json("sdx1", "\"caf\xff\xfe\""));
    write_file(dir / "doc.json", doc);
    standins.add_script("lsblk", "cat '" + (dir / "doc.json").string() + "'");
    write_file(dir / "mountinfo", "");
    RunOptions options = hermetic_options(dir.path(), standins.path_env());
    use_machine(options, "TUVREK_DISK_LSBLK_JSON");
    test::Run run = run_cli({"--json", "list"}, options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"name\":\"caf\xEF\xBF\xBD\xEF\xBF\xBD\""), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tuvrek::test
