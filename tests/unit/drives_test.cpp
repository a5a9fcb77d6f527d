#include "tuvrek/drives.hpp"

#include <pthread.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lsblk_node.hpp"
#include "support.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {
namespace {

using nlohmann::json;

// One line per drive: "name: part/kind/fs part/kind/fs", fs "-" when absent.
std::string outline(const std::vector<Drive>& drives) {
    std::string text;
    for (const auto& drive : drives) {
        text += drive.name + ":";
        for (const auto& p : drive.partitions) {
            text += " " + p.name + "/" + p.kind + "/" + (p.fs ? display_name(*p.fs) : "-");
        }
        text += "\n";
    }
    return text;
}

std::vector<Drive> parsed(const std::string& document) {
    auto drives = parse_lsblk_document(document);
    if (!drives) ADD_FAILURE() << drives.error() << "\n" << document;
    return drives ? std::move(drives).value() : std::vector<Drive>{};
}

TEST(LsblkTree, WalkOrderAndWhatIsListed) {
    const struct {
        const char* what;
        std::string document;
        std::string outline;
    } cases[] = {
        {"empty list", R"({"blockdevices":[]})", ""},
        {"rom skipped even with a filesystem",
         R"({"blockdevices":[{"name":"sr0","type":"rom","fstype":"iso9660"},{"name":"sda","type":"disk"}]})",
         "sda:\n"},
        {"rom with blanks around its type is still rom", R"({"blockdevices":[{"name":"sr0","type":" rom "}]})", ""},
        {"empty loop dropped, loop with filesystem kept",
         R"({"blockdevices":[{"name":"loop1","type":"loop"},{"name":"loop0","type":"loop","fstype":"squashfs"}]})",
         "loop0: loop0/loop/squashfs\n"},
        {"loop with a partition table kept",
         R"({"blockdevices":[{"name":"loop2","type":"loop","children":[{"name":"loop2p1","type":"part","fstype":"ext4"}]}]})",
         "loop2: loop2p1/part/ext4\n"},
        {"loop whose children are all containers is dropped",
         R"({"blockdevices":[{"name":"loop3","type":"loop","children":[{"name":"x","type":"disk"}]}]})", ""},
        {"disk without children or filesystem is kept empty", R"({"blockdevices":[{"name":"sdz","type":"disk"}]})",
         "sdz:\n"},
        {"whole disk with a filesystem", R"({"blockdevices":[{"name":"sdb","type":"disk","fstype":"vfat"}]})",
         "sdb: sdb/disk/FAT\n"},
        {"LUKS then its unlocked child",
         R"({"blockdevices":[{"name":"sda","type":"disk","children":[
              {"name":"sda1","type":"part","fstype":"crypto_LUKS","children":[
                {"name":"luks-1","type":"crypt","fstype":"ext4"}]}]}]})",
         "sda: sda1/part/LUKS luks-1/crypt/ext4\n"},
        {"depth-first pre-order",
         R"({"blockdevices":[{"name":"d","type":"disk","children":[
              {"name":"a","type":"part","children":[
                {"name":"a1","type":"lvm","fstype":"xfs","children":[{"name":"a1x","type":"crypt"}]},
                {"name":"a2","type":"lvm","fstype":"btrfs"}]},
              {"name":"b","type":"part","fstype":"ntfs"}]}]})",
         "d: a/part/- a1/lvm/XFS a1x/crypt/- a2/lvm/Btrfs b/part/NTFS\n"},
        {"partition without filesystem is still listed",
         R"({"blockdevices":[{"name":"nvme0n1","type":"disk","children":[{"name":"nvme0n1p2","type":"part"}]}]})",
         "nvme0n1: nvme0n1p2/part/-\n"},
        {"children that is not an array is ignored",
         R"({"blockdevices":[{"name":"sda","type":"disk","children":{"name":"sda1","type":"part"}}]})", "sda:\n"},
        {"a node that is not an object has no keys",
         R"({"blockdevices":[{"name":"sda","type":"disk","children":[7,null]}]})", "sda: //- //-\n"},
        {"several drives keep document order",
         R"({"blockdevices":[{"name":"sdb","type":"disk"},{"name":"nvme0n1","type":"disk"},{"name":"sda","type":"disk"}]})",
         "sdb:\nnvme0n1:\nsda:\n"},
        {"keys beyond the table are ignored",
         R"({"other":1,"blockdevices":[{"name":"sda","type":"disk","hotplug":true,"maj:min":"8:0"}]})", "sda:\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(outline(parsed(c.document)), c.outline) << c.what;
}

// Runs the work on a thread with a small stack, so a walk that recursed per level would overflow
// it at a depth that stays quick to build and parse.
void on_small_stack(void (*work)(void*), void* context) {
    struct Call {
        void (*work)(void*);
        void* context;
    } call{work, context};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* raw) -> void* {
                      auto* c = static_cast<Call*>(raw);
                      c->work(c->context);
                      return nullptr;
                  },
                  &call),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST(LsblkTree, DeepNestingNeitherOverflowsNorReorders) {
    constexpr int kDepth = 20000;
    std::string document = R"({"blockdevices":[{"name":"sda","type":"disk","children":)";
    for (int i = 0; i < kDepth; ++i) document += R"([{"name":"n)" + std::to_string(i) + R"(","type":"crypt","children":)";
    document += "[]";
    for (int i = 0; i < kDepth; ++i) document += "}]";
    document += "}]}";
    const json tree = json::parse(document);
    struct Work {
        const json& tree;
        std::vector<Partition> partitions;
    } work{tree, {}};
    on_small_stack([](void* raw) {
        auto* w = static_cast<Work*>(raw);
        parse_partition(w->tree["blockdevices"][0], w->partitions);
    }, &work);
    ASSERT_EQ(work.partitions.size(), static_cast<std::size_t>(kDepth));
    EXPECT_EQ(work.partitions.front().name, "n0");
    EXPECT_EQ(work.partitions.back().name, "n" + std::to_string(kDepth - 1));
}

TEST(Filesystems, ClassifiedByExactFstype) {
    using Kind = Filesystem::Kind;
    const struct {
        std::string fstype;
        std::optional<Filesystem> fs;
        std::string display;
    } cases[] = {
        {"apfs", Filesystem{Kind::Apfs, ""}, "APFS"},
        {" apfs\t", Filesystem{Kind::Apfs, ""}, "APFS"},
        {"Apfs", Filesystem{Kind::Other, "Apfs"}, "Apfs"},
        {"hfs", Filesystem{Kind::HfsPlus, ""}, "HFS+"},
        {"hfsplus", Filesystem{Kind::HfsPlus, ""}, "HFS+"},
        {"ntfs", Filesystem{Kind::Ntfs, ""}, "NTFS"},
        {"ntfs3", Filesystem{Kind::Ntfs, ""}, "NTFS"},
        {"exfat", Filesystem{Kind::Exfat, ""}, "exFAT"},
        {"vfat", Filesystem{Kind::Vfat, ""}, "FAT"},
        {"msdos", Filesystem{Kind::Vfat, ""}, "FAT"},
        {"ext2", Filesystem{Kind::Ext, "ext2"}, "ext2"},
        {"ext3", Filesystem{Kind::Ext, "ext3"}, "ext3"},
        {"ext4", Filesystem{Kind::Ext, "ext4"}, "ext4"},
        {"EXT4", Filesystem{Kind::Other, "EXT4"}, "EXT4"},
        {"btrfs", Filesystem{Kind::Btrfs, ""}, "Btrfs"},
        {"xfs", Filesystem{Kind::Xfs, ""}, "XFS"},
        {"f2fs", Filesystem{Kind::F2fs, ""}, "F2FS"},
        {"crypto_LUKS", Filesystem{Kind::Luks, ""}, "LUKS"},
        {"crypto_luks", Filesystem{Kind::Other, "crypto_luks"}, "crypto_luks"},
        {"BitLocker", Filesystem{Kind::BitLocker, ""}, "BitLocker"},
        {"swap", Filesystem{Kind::Swap, ""}, "swap"},
        {" squashfs ", Filesystem{Kind::Other, "squashfs"}, "squashfs"},
        {"", std::nullopt, ""},
        {" \n", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        const auto fs = classify_filesystem(c.fstype);
        EXPECT_EQ(fs, c.fs) << testing::PrintToString(c.fstype);
        if (fs) {
            EXPECT_EQ(display_name(*fs), c.display) << c.fstype;
        }
    }
}

Partition only_partition(const std::string& keys) {
    auto drives = parsed(R"({"blockdevices":[{"name":"sda","type":"disk","children":[{"type":"part",)" + keys +
                         "}]}]}");
    if (drives.size() != 1 || drives[0].partitions.size() != 1) {
        ADD_FAILURE() << "no single partition for " << keys;
        return {};
    }
    return drives[0].partitions[0];
}

TEST(LsblkValues, TextFieldsAreTrimmedAndBlankIsAbsent) {
    const struct {
        std::string value;
        std::optional<std::string> label;
    } cases[] = {
        {R"("Windows")", "Windows"},
        {R"("  My Disk \t")", "My Disk"},
        {R"("\u00a0Mac\u3000")", "Mac"},
        {R"("")", std::nullopt},
        {R"("   ")", std::nullopt},
        {"null", std::nullopt},
        {"7", std::nullopt},
        {"true", std::nullopt},
        {R"(["x"])", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(only_partition(R"("label":)" + c.value).label, c.label) << c.value;
    }
    const Partition p = only_partition(R"("fstype":7,"path":null,"name":"  sda1 ")");
    EXPECT_EQ(p.fs, std::nullopt);
    EXPECT_EQ(p.path, "");
    EXPECT_EQ(p.name, "sda1");
}

TEST(LsblkValues, EveryPartitionFieldFromItsKey) {
    const Partition p = only_partition(
        R"("name":"sdb2","path":"/dev/sdb2","size":"1024","fstype":"ntfs","fsver":"3.1","label":"Windows",
           "partlabel":"Basic data partition","parttypename":"Microsoft basic data","uuid":"01D9A1B2C3D4E5F6",
           "mountpoints":["/mnt/win"],"ro":"1")");
    Partition expected;
    expected.path = "/dev/sdb2";
    expected.name = "sdb2";
    expected.kind = "part";
    expected.size = 1024;
    expected.fs = Filesystem{Filesystem::Kind::Ntfs, ""};
    expected.fs_version = "3.1";
    expected.label = "Windows";
    expected.part_label = "Basic data partition";
    expected.part_type = "Microsoft basic data";
    expected.uuid = "01D9A1B2C3D4E5F6";
    expected.mountpoints = {"/mnt/win"};
    expected.read_only = true;
    EXPECT_EQ(p, expected);
}

TEST(LsblkValues, Booleans) {
    const struct {
        std::string value;
        bool set;
    } cases[] = {
        {"true", true}, {"1", true},        {R"("1")", true},  {"false", false}, {R"("0")", false},
        {"0", false},   {R"("true")", false}, {R"(" 1")", false}, {"1.0", false},  {"2", false},
        {"null", false}, {"-1", false},
    };
    for (const auto& c : cases) {
        auto drives = parsed(R"({"blockdevices":[{"name":"sdb","type":"disk","fstype":"vfat","rm":)" + c.value +
                             R"(,"ro":)" + c.value + "}]}");
        ASSERT_EQ(drives.size(), 1u);
        EXPECT_EQ(drives[0].removable, c.set) << c.value;
        EXPECT_EQ(drives[0].partitions.at(0).read_only, c.set) << c.value;
    }
    auto missing = parsed(R"({"blockdevices":[{"name":"sdb","type":"disk","fstype":"vfat"}]})");
    EXPECT_FALSE(missing.at(0).removable);
    EXPECT_FALSE(missing.at(0).partitions.at(0).read_only);
}

TEST(LsblkValues, Mountpoints) {
    const struct {
        std::string value;
        std::vector<std::string> mountpoints;
    } cases[] = {
        {"[null]", {}},
        {R"([null,"/mnt/data"])", {"/mnt/data"}},
        {R"(["/", " /home ", ""])", {"/", " /home ", ""}},  // taken as they are
        {R"([1,{"a":"/x"},"/y"])", {"/y"}},
        {R"("/mnt/data")", {}},
        {"null", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(only_partition(R"("mountpoints":)" + c.value).mountpoints, c.mountpoints) << c.value;
    }
    EXPECT_TRUE(only_partition(R"("name":"x")").mountpoints.empty());
}

TEST(LsblkValues, Sizes) {
    const struct {
        std::string value;
        std::uint64_t size;
    } cases[] = {
        {"512", 512},
        {R"("512")", 512},
        {R"("+5")", 5},
        {"18446744073709551615", 18446744073709551615ull},
        {R"("18446744073709551615")", 18446744073709551615ull},
        {R"("18446744073709551616")", 0},
        {"18446744073709551616", 0},  // too large: read as a fraction by the library
        {R"("-5")", 0},
        {R"("5 ")", 0},
        {R"(" 5")", 0},
        {R"("")", 0},
        {R"("+")", 0},
        {R"("-")", 0},
        {R"("++5")", 0},
        {R"("0x10")", 0},
        {"1.5", 0},
        {"-5", 0},
        {"true", 0},
        {"null", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(json_size(json::parse(R"({"size":)" + c.value + "}")), c.size) << c.value;
    EXPECT_EQ(json_size(json::parse("{}")), 0u);
    EXPECT_EQ(json_size(json::parse("[512]")), 0u);
}

TEST(LsblkDocument, Errors) {
    const struct {
        const char* what;
        std::string document;
        std::string error_prefix;
    } cases[] = {
        {"a letter after the value", "{\"blockdevices\":[]}x", "lsblk output: "},
        {"a second value", "{\"blockdevices\":[]} {}", "lsblk output: "},
        {"not JSON", "lsblk: unknown column", "lsblk output: "},
        {"empty", "", "lsblk output: "},
        {"number out of range", "{\"blockdevices\":[{\"size\":1e400}]}", "lsblk output: "},
        {"an array", "[]", "lsblk output has no blockdevices"},
        {"no key", "{\"devices\":[]}", "lsblk output has no blockdevices"},
        {"not an array", "{\"blockdevices\":{}}", "lsblk output has no blockdevices"},
        {"null", "{\"blockdevices\":null}", "lsblk output has no blockdevices"},
    };
    for (const auto& c : cases) {
        auto drives = parse_lsblk_document(c.document);
        ASSERT_FALSE(drives) << c.what;
        EXPECT_TRUE(drives.error().starts_with(c.error_prefix)) << c.what << ": " << drives.error();
        if (c.error_prefix == "lsblk output has no blockdevices") {
            EXPECT_EQ(drives.error(), c.error_prefix);
        }
    }
    EXPECT_TRUE(parse_lsblk_document("{\"blockdevices\":[]}\n\n\r\n\t "));
}

TEST(LsblkDocument, ErrorTextIsValidUtf8EvenWhenTheInputStopsMidCharacter) {
    auto drives = parse_lsblk_document("{\"blockdevices\":[\xC3\xA9]}");
    ASSERT_FALSE(drives);
    EXPECT_TRUE(drives.error().starts_with("lsblk output: "));
    EXPECT_TRUE(is_valid_utf8(drives.error())) << drives.error();
    EXPECT_NO_THROW((void)json(drives.error()).dump());
}

TEST(RecordedMounts, AddedOnlyWhileTheKernelShowsThem) {
    auto make = [] {
        Drive drive;
        drive.name = "sdc";
        Partition apfs;
        apfs.path = "/dev/sdc2";
        apfs.mountpoints = {};
        Partition listed;
        listed.path = "/dev/sdc3";
        listed.mountpoints = {"/mnt/data"};
        drive.partitions = {apfs, listed};
        return std::vector<Drive>{drive};
    };
    const std::vector<MountInfoEntry> table = {
        {"/", "ext4", "/dev/nvme0n1p5", {"rw"}},
        {"/mnt/mac", "fuse.apfs-fuse", "apfs-fuse", {"ro"}},
        {"/mnt/data", "ext4", "/dev/sdc3", {"rw"}},
    };
    const struct {
        const char* what;
        std::vector<Record> records;
        std::vector<std::string> sdc2;
        std::vector<std::string> sdc3;
    } cases[] = {
        {"live record", {{"/dev/sdc2", "/mnt/mac", true}}, {"/mnt/mac"}, {"/mnt/data"}},
        {"gone from the kernel table", {{"/dev/sdc2", "/mnt/old", true}}, {}, {"/mnt/data"}},
        {"already listed", {{"/dev/sdc3", "/mnt/data", false}}, {}, {"/mnt/data"}},
        {"trailing slash is another folder", {{"/dev/sdc2", "/mnt/mac/", true}}, {}, {"/mnt/data"}},
        {"other device", {{"/dev/sdd1", "/mnt/mac", true}}, {}, {"/mnt/data"}},
        {"two live records, file order",
         {{"/dev/sdc3", "/mnt/mac", true}, {"/dev/sdc3", "/", false}, {"/dev/sdc3", "/mnt/mac", true}},
         {},
         {"/mnt/data", "/mnt/mac", "/"}},
    };
    for (const auto& c : cases) {
        auto drives = make();
        add_recorded_mounts(drives, table, c.records);
        EXPECT_EQ(drives[0].partitions[0].mountpoints, c.sdc2) << c.what;
        EXPECT_EQ(drives[0].partitions[1].mountpoints, c.sdc3) << c.what;
    }
}

// list_drives with every input it reads pointed at the test's own files.
class ListDrives : public testing::Test {
protected:
    void SetUp() override {
        env_.set("TUVREK_DISK_MOUNTINFO", (dir_ / "mountinfo").string());
        env_.set("TUVREK_DISK_RUN_DIR", (dir_ / "run").string());
        env_.unset("TUVREK_DISK_LSBLK_JSON");
    }
    void use_document(const std::string& content) {
        test::write_file(dir_ / "lsblk.json", content);
        env_.set("TUVREK_DISK_LSBLK_JSON", (dir_ / "lsblk.json").string());
    }
    // A stand-in lsblk first on PATH, running this shell script body.
    test::StandIns& stand_in_lsblk(const std::string& body) {
        stand_ins_.add_script("lsblk", body);
        env_.set("PATH", stand_ins_.path_env());
        return stand_ins_;
    }
    test::TempDir dir_;
    test::ScopedEnv env_;
    test::StandIns stand_ins_{dir_ / "stand-ins"};
};

TEST_F(ListDrives, MachineFixture) {
    env_.set("TUVREK_DISK_LSBLK_JSON", test::fixture_path("lsblk-machine.json"));
    auto drives = list_drives();
    ASSERT_TRUE(drives) << drives.error();
    EXPECT_EQ(outline(*drives),
              "loop0: loop0/loop/squashfs\n"
              "sda: sda1/part/LUKS luks-3f6c1a2e-8b4d-4e0a-9c7f-5d2b1e6a9f30/crypt/ext4\n"
              "sdb: sdb1/part/exFAT\n"
              "sdc: sdc1/part/FAT sdc2/part/APFS\n"
              "nvme0n1: nvme0n1p1/part/FAT nvme0n1p2/part/- nvme0n1p3/part/NTFS nvme0n1p4/part/NTFS "
              "nvme0n1p5/part/ext4 nvme0n1p6/part/swap\n");
    const Drive& sda = (*drives)[1];
    EXPECT_EQ(sda.path, "/dev/sda");
    EXPECT_EQ(sda.vendor, "ATA");  // lsblk pads vendors with blanks
    EXPECT_EQ(sda.model, "WDC WD20EZAZ-00L5HB0");
    EXPECT_EQ(sda.size, 2000398934016u);
    EXPECT_FALSE(sda.removable);
    EXPECT_TRUE((*drives)[2].removable);
    EXPECT_EQ((*drives)[4].vendor, std::nullopt);
    EXPECT_EQ((*drives)[4].partitions[4].mountpoints, (std::vector<std::string>{"/", "/home"}));
    EXPECT_TRUE((*drives)[0].partitions[0].read_only);
    EXPECT_EQ((*drives)[0].partitions[0].path, "/dev/loop0");
}

TEST_F(ListDrives, RecordedMountsFromTheStateFileAndTheKernelTable) {
    env_.set("TUVREK_DISK_LSBLK_JSON", test::fixture_path("lsblk-machine.json"));
    test::write_file(dir_ / "run" / "mounts.json",
                     R"([{"device":"/dev/sdc2","target":"/mnt/mac","created_dir":true},)"
                     R"({"device":"/dev/sdc1","target":"/mnt/gone","created_dir":true}])");
    test::write_file(dir_ / "mountinfo", "120 30 0:52 / /mnt/mac ro,nosuid - fuse.apfs-fuse apfs-fuse ro\n");
    auto drives = list_drives();
    ASSERT_TRUE(drives) << drives.error();
    const Drive& sdc = (*drives)[3];
    EXPECT_EQ(sdc.partitions[1].mountpoints, (std::vector<std::string>{"/mnt/mac"}));
    EXPECT_TRUE(sdc.partitions[0].mountpoints.empty());
}

TEST_F(ListDrives, OverrideFileErrors) {
    const auto missing = (dir_ / "missing.json").string();
    env_.set("TUVREK_DISK_LSBLK_JSON", missing);
    auto drives = list_drives();
    ASSERT_FALSE(drives);
    EXPECT_EQ(drives.error(), missing + ": No such file or directory (os error 2)");

    env_.set("TUVREK_DISK_LSBLK_JSON", dir_.path().string());
    drives = list_drives();
    ASSERT_FALSE(drives);
    EXPECT_EQ(drives.error(), dir_.path().string() + ": Is a directory (os error 21)");

    env_.set("TUVREK_DISK_LSBLK_JSON", "");  // set, even empty, means no lsblk run
    drives = list_drives();
    ASSERT_FALSE(drives);
    EXPECT_EQ(drives.error(), ": No such file or directory (os error 2)");

    use_document("{\"blockdevices\":[{\"name\":\"sd\xFF\",\"type\":\"disk\"}]}");
    drives = list_drives();
    ASSERT_FALSE(drives);
    EXPECT_EQ(drives.error(), (dir_ / "lsblk.json").string() + ": stream did not contain valid UTF-8");

    use_document("{\"blockdevices\":[]}\nx");
    drives = list_drives();
    ASSERT_FALSE(drives);
    EXPECT_TRUE(drives.error().starts_with("lsblk output: ")) << drives.error();
}

TEST_F(ListDrives, RunsLsblkWithItsFixedArgumentsAndNoInput) {
    auto& stand_ins = stand_in_lsblk(
        "x=$(readlink /proc/$$/fd/0); [ \"$x\" = /dev/null ] || { echo \"stdin is $x\" >&2; exit 9; }\n"
        "printf '%s' '{\"blockdevices\":[{\"name\":\"sdb\",\"type\":\"disk\",\"fstype\":\"vfat\"}]}'");
    auto drives = list_drives();
    ASSERT_TRUE(drives) << drives.error();
    EXPECT_EQ(outline(*drives), "sdb: sdb/disk/FAT\n");
    EXPECT_EQ(stand_ins.calls("lsblk"),
              (std::vector<std::vector<std::string>>{
                  {"--json", "--bytes", "--output",
                   "NAME,PATH,TYPE,SIZE,FSTYPE,FSVER,LABEL,PARTLABEL,PARTTYPENAME,UUID,MOUNTPOINTS,MODEL,VENDOR,RM,RO"}}));
}

TEST_F(ListDrives, LsblkOutputIsDecodedLossily) {
    stand_in_lsblk("printf '{\"blockdevices\":[{\"name\":\"sdb\",\"type\":\"disk\",\"fstype\":\"vfat\","
                   "\"label\":\"caf\\351\"}]}'");
    auto drives = list_drives();
    ASSERT_TRUE(drives) << drives.error();
    ASSERT_EQ(drives->size(), 1u);
    EXPECT_EQ((*drives)[0].partitions.at(0).label, "caf\xEF\xBF\xBD");
}

TEST_F(ListDrives, LsblkFailures) {
    const struct {
        const char* what;
        std::string body;
        std::string error;
    } cases[] = {
        {"standard error, trimmed", "echo out; printf '  lsblk: unknown column: X \\n\\n' >&2; exit 1",
         "lsblk: lsblk: unknown column: X"},
        {"empty standard error", "exit 32", "lsblk: "},
        {"killed by a signal after good output", "printf '{\"blockdevices\":[]}'; echo dying >&2; kill -TERM $$",
         "lsblk: dying"},
        {"invalid UTF-8 on standard error", "printf 'bad \\377 byte' >&2; exit 1", "lsblk: bad \xEF\xBF\xBD byte"},
        {"output that is not JSON", "echo 'NAME PATH'", ""},
    };
    for (const auto& c : cases) {
        stand_in_lsblk(c.body);
        auto drives = list_drives();
        ASSERT_FALSE(drives) << c.what;
        if (c.error.empty()) {
            EXPECT_TRUE(drives.error().starts_with("lsblk output: ")) << c.what << ": " << drives.error();
        } else {
            EXPECT_EQ(drives.error(), c.error) << c.what;
        }
    }
}

TEST_F(ListDrives, LsblkMissingFromThePath) {
    env_.set("PATH", (dir_ / "empty-bin").string());
    auto drives = list_drives();
    ASSERT_FALSE(drives);
    EXPECT_EQ(drives.error(), "lsblk: No such file or directory (os error 2)");
}

TEST(ListDrivesReal, MatchesThisMachinesLsblk) {
    test::ScopedEnv env;
    env.unset("TUVREK_DISK_LSBLK_JSON");
    auto reference = test::run({"lsblk", "-d", "-n", "-o", "PATH,TYPE,FSTYPE"});
    if (reference.status == 127) GTEST_SKIP() << "lsblk is not installed";
    ASSERT_EQ(reference.status, 0) << reference.err;

    auto drives = list_drives();
    ASSERT_TRUE(drives) << drives.error();
    std::vector<std::string> listed;
    for (const auto& drive : *drives) listed.push_back(drive.path);

    // Every top-level device but optical drives and empty loop devices must be there, in order.
    std::vector<std::string> expected;
    std::vector<std::string> all;
    std::istringstream lines(reference.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string path, type, fstype;
        words >> path >> type >> fstype;
        all.push_back(path);
        if (type == "rom" || (type == "loop" && fstype.empty())) continue;
        expected.push_back(path);
    }
    ASSERT_FALSE(all.empty()) << "this machine's lsblk lists no devices";
    std::vector<std::string> required;
    for (const auto& path : listed) {
        EXPECT_NE(std::find(all.begin(), all.end(), path), all.end()) << path << " is not one of lsblk's devices";
        if (std::find(expected.begin(), expected.end(), path) != expected.end()) required.push_back(path);
    }
    EXPECT_EQ(required, expected);
}

}  // namespace
}  // namespace tuvrek
