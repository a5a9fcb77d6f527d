// The window plans on every keystroke in the folder field; one plan should stay well under 5 µs.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "tuvrek/planner.hpp"

namespace {

using tuvrek::ApfsSupport;
using tuvrek::Filesystem;
using tuvrek::MountRequest;
using tuvrek::Partition;
using FsKind = Filesystem::Kind;

struct Case {
    Partition partition;
    MountRequest request;
};

Partition part(Filesystem::Kind kind, std::string name = {}, std::vector<std::string> mountpoints = {}) {
    Partition p;
    p.path = "/dev/nvme0n1p2";
    p.name = "nvme0n1p2";
    p.fs = Filesystem{kind, std::move(name)};
    p.label = "Macintosh HD";
    p.mountpoints = std::move(mountpoints);
    return p;
}

MountRequest req(bool read_write, std::optional<std::uint32_t> volume = std::nullopt,
                 std::string folder = "/mnt/Macintosh-HD") {
    return MountRequest{std::move(folder), read_write, volume, 1000, 1000};
}

// Plans of every shape, and the refusals the dialog meets while a folder is being typed.
std::vector<Case> mix() {
    return {
        {part(FsKind::Apfs), req(false)},
        {part(FsKind::Apfs), req(true, 1)},
        {part(FsKind::Apfs), req(false, 0, "/mnt/Macintosh-HD///")},
        {part(FsKind::HfsPlus), req(true)},
        {part(FsKind::Ntfs), req(false)},
        {part(FsKind::Exfat), req(true)},
        {part(FsKind::Vfat), req(false)},
        {part(FsKind::Ext, "ext4"), req(true)},
        {part(FsKind::Btrfs), req(false)},
        {part(FsKind::Ext, "ext4"), req(false, std::nullopt, "mnt/Mac")},
        {part(FsKind::Luks), req(false)},
        {part(FsKind::Ext, "ext4", {"/mnt/x", "/media/y"}), req(false)},
    };
}

void BM_PlanMountMix(benchmark::State& state) {
    const std::vector<Case> cases = mix();
    ApfsSupport support;
    support.headers_package = "linux-headers";
    support.installed = {"dkms", "apfs-fuse-git"};
    support.fuse_available = true;
    std::size_t i = 0;
    for (auto _ : state) {
        const Case& c = cases[i];
        auto result = tuvrek::plan_mount(c.partition, c.request, support);
        benchmark::DoNotOptimize(result);
        i = (i + 1 == cases.size()) ? 0 : i + 1;
    }
}
BENCHMARK(BM_PlanMountMix);

void BM_PlanMountApfsWrite(benchmark::State& state) {
    const Partition p = part(FsKind::Apfs);
    const MountRequest r = req(true, 3);
    ApfsSupport support;
    for (auto _ : state) {
        auto result = tuvrek::plan_mount(p, r, support);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_PlanMountApfsWrite);

}  // namespace

BENCHMARK_MAIN();
