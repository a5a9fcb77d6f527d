// The page's fingerprint: equal data gives an equal fingerprint; a change in any one field gives a
// different one.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "page.hpp"

namespace {

tuvrek::Partition sample_partition() {
    tuvrek::Partition p;
    p.path = "/dev/sdb1";
    p.name = "sdb1";
    p.kind = "part";
    p.size = 31000000000;
    p.fs = tuvrek::Filesystem{tuvrek::Filesystem::Kind::Ext, "ext4"};
    p.fs_version = "1.0";
    p.label = "Data";
    p.part_label = "Primary";
    p.part_type = "Linux filesystem";
    p.uuid = "3C5E-91A4";
    p.mountpoints = {"/mnt/a", "/mnt/b"};
    p.read_only = false;
    return p;
}

tuvrek::Drive sample_drive() {
    tuvrek::Drive d;
    d.path = "/dev/sdb";
    d.name = "sdb";
    d.model = "Example SSD";
    d.vendor = "ATA";
    d.size = 32000000000;
    d.removable = true;
    d.partitions = {sample_partition()};
    return d;
}

tuvrek::Entry sample_entry() {
    return tuvrek::Entry{"3C5E-91A4", "/mnt/usb", true, 2u, 1000, 1001, std::string("exfat")};
}

struct Data {
    brevane::DriveListing listing = std::vector<tuvrek::Drive>{sample_drive()};
    std::vector<tuvrek::Entry> entries = {sample_entry()};
};

brevane::PageData fingerprint(const Data& data) { return brevane::page_fingerprint(data.listing, data.entries); }

TEST(PageFingerprint, EqualDataGivesAnEqualFingerprint) {
    EXPECT_EQ(fingerprint(Data{}), fingerprint(Data{}));
}

TEST(PageFingerprint, EveryFieldChangeGivesADifferentFingerprint) {
    using Change = std::function<void(Data&)>;
    auto part = [](Data& d) -> tuvrek::Partition& { return d.listing->front().partitions.front(); };
    auto entry = [](Data& d) -> tuvrek::Entry& { return d.entries.front(); };
    const std::vector<std::pair<const char*, Change>> changes = {
        {"drive path", [](Data& d) { d.listing->front().path = "/dev/sdc"; }},
        {"drive name", [](Data& d) { d.listing->front().name = "sdc"; }},
        {"drive model", [](Data& d) { d.listing->front().model = "Other SSD"; }},
        {"drive model none", [](Data& d) { d.listing->front().model.reset(); }},
        {"drive vendor empty", [](Data& d) { d.listing->front().vendor = ""; }},
        {"drive size", [](Data& d) { d.listing->front().size += 1; }},
        {"drive removable", [](Data& d) { d.listing->front().removable = false; }},
        {"no partitions", [](Data& d) { d.listing->front().partitions.clear(); }},
        {"another partition", [&](Data& d) { d.listing->front().partitions.push_back(sample_partition()); }},
        {"another drive", [](Data& d) { d.listing->push_back(sample_drive()); }},
        {"no drives", [](Data& d) { d.listing->clear(); }},
        {"listing error", [](Data& d) { d.listing = tuvrek::fail(std::string("lsblk: failed")); }},
        {"part path", [&](Data& d) { part(d).path = "/dev/sdb2"; }},
        {"part name", [&](Data& d) { part(d).name = "sdb2"; }},
        {"part kind", [&](Data& d) { part(d).kind = "crypt"; }},
        {"part size", [&](Data& d) { part(d).size -= 1; }},
        {"part fs kind", [&](Data& d) { part(d).fs = tuvrek::Filesystem{tuvrek::Filesystem::Kind::Other, "ext4"}; }},
        {"part fs name", [&](Data& d) { part(d).fs->name = "ext3"; }},
        {"part fs none", [&](Data& d) { part(d).fs.reset(); }},
        {"part fs version", [&](Data& d) { part(d).fs_version = "1.1"; }},
        {"part label", [&](Data& d) { part(d).label = "Date"; }},
        {"part label none", [&](Data& d) { part(d).label.reset(); }},
        {"part partlabel", [&](Data& d) { part(d).part_label = "Secondary"; }},
        {"part type", [&](Data& d) { part(d).part_type = "EFI System"; }},
        {"part uuid", [&](Data& d) { part(d).uuid = "3C5E-91A5"; }},
        {"part uuid none", [&](Data& d) { part(d).uuid.reset(); }},
        {"part mountpoint", [&](Data& d) { part(d).mountpoints[1] = "/mnt/c"; }},
        {"part mountpoints joined", [&](Data& d) { part(d).mountpoints = {"/mnt/a/mnt/b"}; }},
        {"part mountpoint removed", [&](Data& d) { part(d).mountpoints.pop_back(); }},
        {"part read only", [&](Data& d) { part(d).read_only = true; }},
        {"entry uuid", [&](Data& d) { entry(d).uuid = "3c5e-91a4"; }},
        {"entry target", [&](Data& d) { entry(d).target = "/mnt/usb2"; }},
        {"entry read write", [&](Data& d) { entry(d).read_write = false; }},
        {"entry volume", [&](Data& d) { entry(d).volume = 3u; }},
        {"entry volume none", [&](Data& d) { entry(d).volume.reset(); }},
        {"entry uid", [&](Data& d) { entry(d).uid = 0; }},
        {"entry gid", [&](Data& d) { entry(d).gid = 1000; }},
        {"entry filesystem", [&](Data& d) { entry(d).filesystem = "vfat"; }},
        {"entry filesystem none", [&](Data& d) { entry(d).filesystem.reset(); }},
        {"no entries", [](Data& d) { d.entries.clear(); }},
        {"another entry", [](Data& d) { d.entries.push_back(sample_entry()); }},
    };
    const brevane::PageData base = fingerprint(Data{});
    std::vector<brevane::PageData> seen = {base};
    for (const auto& [name, change] : changes) {
        Data data;
        change(data);
        const brevane::PageData changed = fingerprint(data);
        EXPECT_NE(changed, base) << name;
        EXPECT_EQ(std::find(seen.begin(), seen.end(), changed), seen.end()) << name << " reads like another change";
        seen.push_back(changed);
    }
}

TEST(PageFingerprint, TextsCannotRunIntoTheirNeighbours) {
    // Moving characters from one field into the next must not give the same fingerprint.
    Data a;
    Data b;
    a.listing->front().name = "sd";
    a.listing->front().path = "/dev/sdbx";
    b.listing->front().name = "xsd";
    b.listing->front().path = "/dev/sdb";
    EXPECT_NE(fingerprint(a), fingerprint(b));

    Data c;
    c.listing = tuvrek::fail(std::string("0:"));
    Data d;
    d.listing = std::vector<tuvrek::Drive>{};
    EXPECT_NE(fingerprint(c), fingerprint(d));
}

}  // namespace
