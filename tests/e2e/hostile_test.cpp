// Device data and state files that anyone can shape: each ends in a clear answer, never a crash or a hang.
#include <gtest/gtest.h>

#include <functional>
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
    RunOptions options;
    options.env = {{"TUVREK_DISK_LSBLK_JSON", (dir / "lsblk.json").string()},
                   {"TUVREK_DISK_MOUNTINFO", (dir / "mountinfo").string()},
                   {"TUVREK_DISK_RUN_DIR", (dir / "run").string()},
                   {"TUVREK_DISK_AUTOMOUNT_CONF", (dir / "automount.toml").string()}};
    options.timeout_seconds = 60;
    test::Run run = run_cli(c.args, options);
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
                [] { return document(partition_json("sdx1", "\"" + std::string(200000, 'L') + "\"")); },
                {"list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find(std::string(200000, 'L')), std::string::npos); }},
        Hostile{"ten_thousand_partitions", [] { return many_partitions(10000); }, {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find("\"/dev/sdx9999\""), std::string::npos); }},
        Hostile{"deeply_nested_children", [] { return deeply_nested(20000); }, {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find("\"ok\":true"), std::string::npos) << r.err; }},
        Hostile{"megabyte_mountinfo_line", [] { return many_partitions(1); }, {"--json", "list"}, 0,
                [](const Run& r) { EXPECT_NE(r.out.find("\"ok\":true"), std::string::npos); },
                "36 35 98:0 / /" + std::string(1 << 20, 'm') + " rw - ext4 /dev/sdx0 rw\n"},
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

// lsblk's own output may hold bytes that are not UTF-8: they become U+FFFD, never a failure.
TEST(HostileLsblk, InvalidUtf8FromTheProgramIsReplaced) {
    TempDir dir;
    StandIns standins(dir / "standins");
    std::string doc = document(partition_json("sdx1", "\"caf\xff\xfe\""));
    write_file(dir / "doc.json", doc);
    standins.add_script("lsblk", "cat '" + (dir / "doc.json").string() + "'");
    write_file(dir / "mountinfo", "");
    RunOptions options;
    options.env = {{"PATH", standins.path_env()},
                   {"TUVREK_DISK_MOUNTINFO", (dir / "mountinfo").string()},
                   {"TUVREK_DISK_RUN_DIR", (dir / "run").string()},
                   {"TUVREK_DISK_AUTOMOUNT_CONF", (dir / "automount.toml").string()}};
    options.unset = {"TUVREK_DISK_LSBLK_JSON"};
    test::Run run = run_cli({"--json", "list"}, options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\"name\":\"caf\xEF\xBF\xBD\xEF\xBF\xBD\""), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tuvrek::test
