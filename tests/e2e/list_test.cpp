// `tuvrek-disk list`: the text table and the JSON reply, on a captured machine and on this one.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support.hpp"
#include "texts.hpp"

namespace tuvrek::test {
namespace {

using nlohmann::json;

const std::string kBold = "\x1b[1m";
const std::string kPlain = "\x1b[0m";

// One uuid written in upper case although lsblk reports it in lower case.
const std::string kConfig = kConfigHeader + R"([[mount]]
uuid = "1B2C3D4E-5F60-4718-8293-A4B5C6D7E8F9"
target = "/mnt/mac"
read_write = false
uid = 1000
gid = 1000
filesystem = "apfs"

[[mount]]
uuid = "aa11bb22-cc33-4d44-8e55-ff6677889900"
target = "/mnt/backup"
read_write = true
uid = 1000
gid = 1000
filesystem = "ext4"
)";

// The machine state next to the lsblk document: an empty mount table and run folder, and a configuration.
class ListCommand : public testing::Test {
protected:
    void SetUp() override {
        write_file(dir / "mountinfo", "");
        fs::create_directories(dir / "run");
        write_file(dir / "automount.toml", kConfig);
    }

    test::Run list(const std::vector<std::string>& args, const std::string& lsblk = fixture_path("lsblk-list-machine.json")) {
        RunOptions options = hermetic_options(dir.path());
        options.env["TUVREK_DISK_LSBLK_JSON"] = lsblk;
        return run_cli(args, options);
    }

    TempDir dir;
};

const std::string kTable =
    kBold + "Samsung SSD 980 PRO 1TB" + kPlain + "  /dev/nvme0n1  1.0 TB\n" +
    "  /dev/nvme0n1p2      999.7 GB  ext4     Linux    tuvrek               / (system)\n" +
    kBold + "Samsung Portable SSD T7" + kPlain + "  /dev/sda  2.0 TB  (removable)\n" +
    "  /dev/sda2             1.0 TB  APFS     macOS    Macintosh HD         -  [startup: /mnt/mac]\n" +
    "  /dev/sda3           500.0 GB  NTFS     Windows  Größe Daten          /mnt/win\n" +
    kBold + "WD Elements 25A2" + kPlain + "  /dev/sdd  4.0 TB\n" +
    "  /dev/sdd1             4.0 TB  LUKS     Linux    sdd1                 -\n" +
    "  /dev/mapper/luks-f3e2d1c0    4.0 TB  ext4     Linux    backup               /mnt/backup  [startup: /mnt/backup]\n";

const std::string kTableAll =
    kBold + "Samsung SSD 980 PRO 1TB" + kPlain + "  /dev/nvme0n1  1.0 TB\n" +
    "  /dev/nvme0n1p1      536.9 MB  FAT      Shared   EFI System Partition /boot/efi, /efi (system)\n" +
    "  /dev/nvme0n1p2      999.7 GB  ext4     Linux    tuvrek               / (system)\n" +
    kBold + "Samsung Portable SSD T7" + kPlain + "  /dev/sda  2.0 TB  (removable)\n" +
    "  /dev/sda1           209.7 MB  FAT      Shared   EFI                  -\n" +
    "  /dev/sda2             1.0 TB  APFS     macOS    Macintosh HD         -  [startup: /mnt/mac]\n" +
    "  /dev/sda3           500.0 GB  NTFS     Windows  Größe Daten          /mnt/win\n" +
    "  /dev/sda4             8.6 GB  swap     Linux    sda4                 [SWAP] (system)\n" +
    "  /dev/sda5            16.8 MB  -        -        Microsoft reserved partition -\n" +
    kBold + "Generic Flash Disk" + kPlain + "  /dev/sdb  31.9 GB  (removable)\n" +
    "  /dev/sdb1            31.9 GB  FAT      Shared   sdb1                 -\n" +
    kBold + "WD Elements 25A2" + kPlain + "  /dev/sdd  4.0 TB\n" +
    "  /dev/sdd1             4.0 TB  LUKS     Linux    sdd1                 -\n" +
    "  /dev/mapper/luks-f3e2d1c0    4.0 TB  ext4     Linux    backup               /mnt/backup  [startup: /mnt/backup]\n";

json partition(const std::string& path, const std::string& name, std::uint64_t size, json uuid, json filesystem,
               json origin, std::vector<std::string> mountpoints, bool system, json startup) {
    return {{"path", path},         {"name", name},         {"size", size},
            {"uuid", uuid},         {"filesystem", filesystem}, {"origin", origin},
            {"mountpoints", mountpoints}, {"system", system}, {"startup", startup}};
}

json drive(const std::string& path, const std::string& name, std::uint64_t size, bool removable, json partitions) {
    return {{"path", path}, {"name", name}, {"size", size}, {"removable", removable}, {"partitions", partitions}};
}

// The reply of `list --json` (all: with --all).
json expected_reply(bool all) {
    json nvme = json::array();
    if (all)
        nvme.push_back(partition("/dev/nvme0n1p1", "EFI System Partition", 536870912, "3C4D-9A1F", "FAT", "Shared",
                                 {"/boot/efi", "/efi"}, true, nullptr));
    nvme.push_back(partition("/dev/nvme0n1p2", "tuvrek", 999667146752, "8d2f6a1e-4b7c-4e0f-9a3d-5c6b7e8f9a01", "ext4",
                             "Linux", {"/"}, true, nullptr));
    json sda = json::array();
    if (all)
        sda.push_back(
            partition("/dev/sda1", "EFI", 209715200, "67E3-17ED", "FAT", "Shared", {}, false, nullptr));
    sda.push_back(partition("/dev/sda2", "Macintosh HD", 1000000000000, "1b2c3d4e-5f60-4718-8293-a4b5c6d7e8f9", "APFS",
                            "macOS", {}, false, "/mnt/mac"));
    sda.push_back(partition("/dev/sda3", "Größe Daten", 500000000000, "0A1B2C3D4E5F6071", "NTFS", "Windows",
                            {"/mnt/win"}, false, nullptr));
    if (all) {
        sda.push_back(partition("/dev/sda4", "sda4", 8589934592, "5e6f7a8b-9c0d-4e1f-a2b3-c4d5e6f7a8b9", "swap",
                                "Linux", {"[SWAP]"}, true, nullptr));
        sda.push_back(partition("/dev/sda5", "Microsoft reserved partition", 16777216, nullptr, nullptr, nullptr, {},
                                false, nullptr));
    }
    json sdb = json::array();
    if (all) sdb.push_back(partition("/dev/sdb1", "sdb1", 31913934848, "B0B0-1234", "FAT", "Shared", {}, false, nullptr));
    json sdd = json::array({
        partition("/dev/sdd1", "sdd1", 4000785104896, "f3e2d1c0-b9a8-4776-8554-433221100fed", "LUKS", "Linux", {},
                  false, nullptr),
        partition("/dev/mapper/luks-f3e2d1c0", "backup", 4000768327680, "aa11bb22-cc33-4d44-8e55-ff6677889900", "ext4",
                  "Linux", {"/mnt/backup"}, false, "/mnt/backup"),
    });
    return {{"ok", true},
            {"message", ""},
            {"drives", json::array({
                           drive("/dev/nvme0n1", "Samsung SSD 980 PRO 1TB", 1000204886016, false, nvme),
                           drive("/dev/sda", "Samsung Portable SSD T7", 2000398934016, true, sda),
                           drive("/dev/sdb", "Generic Flash Disk", 31914983424, true, sdb),
                           drive("/dev/sdc", "sdc", 1000, false, json::array()),
                           drive("/dev/sdd", "WD Elements 25A2", 4000787030016, false, sdd),
                       })}};
}

TEST_F(ListCommand, TextTable) {
    auto r = list({"list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kTable);
    EXPECT_EQ(r.err, "");
}

TEST_F(ListCommand, TextTableWithAll) {
    auto r = list({"list", "--all"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kTableAll);
    EXPECT_EQ(r.err, "");
}

TEST_F(ListCommand, JsonReplyIsOneSortedCompactLine) {
    for (bool all : {false, true}) {
        std::vector<std::string> args{"list", "--json"};
        if (all) args.push_back("--all");
        auto r = list(args);
        EXPECT_EQ(r.status, 0);
        // A sorted object dumps in ascending key order, compactly: the exact bytes of the reply.
        EXPECT_EQ(r.out, expected_reply(all).dump() + "\n") << "all=" << all;
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(ListCommand, JsonFlagBeforeOrAfterTheSubcommand) {
    auto before = list({"--json", "list"});
    auto after = list({"list", "--json"});
    EXPECT_EQ(before.status, 0);
    EXPECT_EQ(before.out, after.out);
    EXPECT_EQ(before.out, expected_reply(false).dump() + "\n");
}

TEST_F(ListCommand, BrokenConfigurationOnlyDropsTheStartupMarks) {
    for (const std::string& broken : {std::string("[[mount]]\nuuid = \"x\"\n"), std::string("mount = 5"),
                                      std::string("not toml at all ]]"), std::string("\xff\xfe")}) {
        write_file(dir / "automount.toml", broken);
        auto text = list({"list"});
        EXPECT_EQ(text.status, 0);
        EXPECT_EQ(text.err, "");
        std::string unmarked = kTable;
        for (const std::string mark : {"  [startup: /mnt/mac]", "  [startup: /mnt/backup]"})
            unmarked.erase(unmarked.find(mark), mark.size());
        EXPECT_EQ(text.out, unmarked);

        auto reply = list({"list", "--json"});
        EXPECT_EQ(reply.status, 0);
        json expected = expected_reply(false);
        for (auto& d : expected["drives"])
            for (auto& p : d["partitions"]) p["startup"] = nullptr;
        EXPECT_EQ(reply.out, expected.dump() + "\n");
    }
}

TEST_F(ListCommand, UnreadableDriveListFailsWithLsblk) {
    write_file(dir / "broken.json", R"({"blockdevices": [)");
    write_file(dir / "trailing.json", R"({"blockdevices": []} x)");
    write_file(dir / "no-devices.json", R"({"devices": []})");
    struct Case {
        std::string file;
        std::string message_start;
    };
    const Case cases[] = {
        {(dir / "broken.json").string(), "lsblk output: "},
        {(dir / "trailing.json").string(), "lsblk output: "},
        {(dir / "no-devices.json").string(), "lsblk output has no blockdevices"},
        {(dir / "missing.json").string(), (dir / "missing.json").string() + ": "},
    };
    for (const Case& c : cases) {
        auto text = list({"list"}, c.file);
        EXPECT_EQ(text.status, 1) << c.file;
        EXPECT_EQ(text.out, "");
        EXPECT_EQ(text.err.rfind("\x1b[31mError:\x1b[0m " + c.message_start, 0), 0u) << text.err;
        EXPECT_EQ(text.err.back(), '\n');

        auto reply = list({"--json", "list", "--all"}, c.file);
        EXPECT_EQ(reply.status, 1);
        EXPECT_EQ(reply.err, "");
        json parsed = json::parse(reply.out, nullptr, false);
        ASSERT_TRUE(parsed.is_object()) << reply.out;
        EXPECT_EQ(parsed.size(), 3u);
        EXPECT_EQ(parsed["ok"], false);
        EXPECT_EQ(parsed["error"], "lsblk");
        EXPECT_EQ(parsed["message"].get<std::string>().rfind(c.message_start, 0), 0u) << reply.out;
        EXPECT_EQ(reply.out, parsed.dump() + "\n");
    }
}

TEST_F(ListCommand, NoDrivesAtAll) {
    write_file(dir / "empty.json", "{\"blockdevices\": []}\n");
    auto text = list({"list", "--all"}, (dir / "empty.json").string());
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out, "");
    auto reply = list({"list", "--json"}, (dir / "empty.json").string());
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.out, "{\"drives\":[],\"message\":\"\",\"ok\":true}\n");
}

// The captured machine shared with the disk core's tests: a snap loop device, an unused one, an optical
// drive, an encrypted disk, a stick, a Mac disk and the system disk.
TEST_F(ListCommand, SharedMachine) {
    const std::string machine = fixture_path("lsblk-machine.json");
    auto text = list({"list"}, machine);
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out,
              kBold + "loop0" + kPlain + "  /dev/loop0  77.7 MB\n" +
                  "  /dev/loop0           77.7 MB  squashfs Unknown  loop0                /var/lib/snapd/snap/core22/1380\n" +
                  kBold + "ATA WDC WD20EZAZ-00L5HB0" + kPlain + "  /dev/sda  2.0 TB\n" +
                  "  /dev/sda1             2.0 TB  LUKS     Linux    archive              -\n" +
                  "  /dev/mapper/luks-3f6c1a2e-8b4d-4e0a-9c7f-5d2b1e6a9f30    2.0 TB  ext4     Linux    Archive    "
                  "          /mnt/archive\n" +
                  kBold + "SanDisk Cruzer Blade" + kPlain + "  /dev/sdb  30.8 GB  (removable)\n" +
                  "  /dev/sdb1            30.8 GB  exFAT    Shared   STICK                /run/media/anna/STICK\n" +
                  kBold + "Samsung Portable SSD T5" + kPlain + "  /dev/sdc  500.1 GB\n" +
                  "  /dev/sdc2           499.8 GB  APFS     macOS    sdc2                 -\n" +
                  kBold + "Samsung SSD 980 PRO 1TB" + kPlain + "  /dev/nvme0n1  1.0 TB\n" +
                  "  /dev/nvme0n1p3      511.7 GB  NTFS     Windows  Windows              -\n" +
                  "  /dev/nvme0n1p4      681.6 MB  NTFS     Windows  nvme0n1p4            -\n" +
                  "  /dev/nvme0n1p5      470.3 GB  ext4     Linux    tuvrek               /, /home (system)\n");

    auto reply = list({"list", "--json"}, machine);
    EXPECT_EQ(reply.status, 0);
    json parsed = json::parse(reply.out);
    std::vector<std::string> drives;
    for (const json& d : parsed["drives"]) drives.push_back(d["path"]);
    EXPECT_EQ(drives, (std::vector<std::string>{"/dev/loop0", "/dev/sda", "/dev/sdb", "/dev/sdc", "/dev/nvme0n1"}));
    EXPECT_EQ(parsed["drives"][3]["partitions"].size(), 1u) << "the EFI partition of the Mac disk stays hidden";
}

// Whoever formats a drive chooses its label and model: the terminal must see them, not obey them.
TEST_F(ListCommand, ControlCharactersInDeviceDataAreShownEscaped) {
    const std::string label = "A\x1b[2J\nB";
    const std::string document = R"({"blockdevices": [{"name": "sdx", "path": "/dev/sdx", "type": "disk",
        "size": 1000, "model": "Evil\u0007Disk", "vendor": null, "rm": true, "children": [
        {"name": "sdx1", "path": "/dev/sdx1", "type": "part", "size": 999, "fstype": "exfat",
         "label": "A\u001b[2J\nB", "uuid": "AB-\u007f", "mountpoints": ["/mnt/\u001b]0;owned\u0007"]}]}]})";
    write_file(dir / "hostile.json", document);
    write_file(dir / "automount.toml",
               "[[mount]]\nuuid = \"ab-\\u007f\"\ntarget = \"/mnt/\\u001b[31mred\"\nuid = 0\ngid = 0\n");

    auto text = list({"list"}, (dir / "hostile.json").string());
    EXPECT_EQ(text.status, 0);
    // Widths are counted on what is shown: the escaped label takes 13 of its 20 characters.
    EXPECT_EQ(text.out, kBold + "Evil\\x07Disk" + kPlain + "  /dev/sdx  1.0 KB  (removable)\n" +
                            "  /dev/sdx1              999 B  exFAT    Shared   A\\x1b[2J\\x0aB        "
                            "/mnt/\\x1b]0;owned\\x07  [startup: /mnt/\\x1b[31mred]\n");

    auto reply = list({"list", "--json"}, (dir / "hostile.json").string());
    EXPECT_EQ(reply.status, 0);
    json parsed = json::parse(reply.out);
    const json& drive = parsed["drives"][0];
    EXPECT_EQ(drive["name"], "Evil\x07" "Disk");
    EXPECT_EQ(drive["partitions"][0]["name"], label);
    EXPECT_EQ(drive["partitions"][0]["mountpoints"][0], "/mnt/\x1b]0;owned\x07");
    EXPECT_EQ(drive["partitions"][0]["startup"], "/mnt/\x1b[31mred");
    EXPECT_EQ(reply.out.find('\x1b'), std::string::npos) << "JSON escapes control characters itself";
}

// The kernel names lsblk reports for this machine's own disks, less optical drives and unused loop devices.
std::set<std::string> machine_disks() {
    auto r = run({"lsblk", "--json", "--output", "PATH,TYPE,FSTYPE"});
    std::set<std::string> paths;
    if (r.status != 0) return paths;
    const json document = json::parse(r.out);
    for (const json& device : document["blockdevices"]) {
        std::string type = device.value("type", "");
        if (type == "rom") continue;
        bool empty = !device["fstype"].is_string() && !device.contains("children");
        if (type == "loop" && empty) continue;
        paths.insert(device.value("path", ""));
    }
    return paths;
}

TEST(ListOnThisMachine, ListsTheRealDisks) {
    auto lsblk = run({"lsblk", "-d", "-n", "-o", "PATH"});
    if (lsblk.status != 0) GTEST_SKIP() << "lsblk does not run here: " << lsblk.err;

    RunOptions options;
    options.unset = {"TUVREK_DISK_LSBLK_JSON", "TUVREK_DISK_MOUNTINFO", "TUVREK_DISK_RUN_DIR",
                     "TUVREK_DISK_AUTOMOUNT_CONF"};
    auto text = run_cli({"list"}, options);
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.err, "");

    auto reply = run_cli({"list", "--json", "--all"}, options);
    ASSERT_EQ(reply.status, 0) << reply.err;
    json parsed = json::parse(reply.out, nullptr, false);
    ASSERT_TRUE(parsed.is_object()) << reply.out;
    EXPECT_EQ(parsed["ok"], true);

    std::set<std::string> listed;
    for (const json& d : parsed["drives"]) listed.insert(d["path"].get<std::string>());
    std::set<std::string> expected = machine_disks();
    // Every path lsblk names at the top level, bar the excluded kinds.
    std::stringstream lines(lsblk.out);
    for (std::string path; lines >> path;) {
        if (expected.count(path)) {
            EXPECT_TRUE(listed.count(path)) << path;
        }
    }
    EXPECT_EQ(listed, expected);
}

}  // namespace
}  // namespace tuvrek::test
