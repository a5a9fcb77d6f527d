// Times page rebuilds from 20 drives of 10 partitions each, forced and unforced with unchanged data.
// Run by hand: xvfb-run -a -s "-screen 0 1280x900x24" dbus-run-session -- page_bench
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "page.hpp"
#include "window.hpp"
#include "gui_support.hpp"

namespace {

const char* const kFstypes[] = {"ntfs", "exfat", "ext4", "apfs", "vfat", "btrfs", "crypto_LUKS", "xfs", "hfsplus",
                                "iso9660"};

std::string big_listing() {
    nlohmann::json devices = nlohmann::json::array();
    for (int d = 0; d < 20; ++d) {
        const std::string disk = "sd" + std::string(1, char('a' + d));
        nlohmann::json children = nlohmann::json::array();
        for (int p = 1; p <= 10; ++p) {
            const std::string name = disk + std::to_string(p);
            children.push_back({{"name", name},
                                {"path", "/dev/" + name},
                                {"type", "part"},
                                {"size", 1000000000ULL * p},
                                {"fstype", kFstypes[p - 1]},
                                {"label", "Part " + std::to_string(p)},
                                {"uuid", "UUID-" + name},
                                {"mountpoints", p % 3 == 0 ? nlohmann::json::array({"/mnt/" + name})
                                                           : nlohmann::json::array({nullptr})},
                                {"rm", d % 2 == 0},
                                {"ro", false}});
        }
        devices.push_back({{"name", disk},
                           {"path", "/dev/" + disk},
                           {"type", "disk"},
                           {"size", 2000000000000ULL},
                           {"model", "Bench Disk " + std::to_string(d)},
                           {"vendor", "ATA"},
                           {"rm", d % 2 == 0},
                           {"ro", false},
                           {"children", children}});
    }
    return nlohmann::json{{"blockdevices", devices}}.dump();
}

struct Stats {
    double median_ms;
    double min_ms;
    double max_ms;
};

// Each run starts from a quiet main loop: what earlier runs left queued is done first, untimed.
template <typename F>
Stats time_runs(int runs, F&& body) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        const auto start = std::chrono::steady_clock::now();
        body();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

}  // namespace

int main() {
    using namespace brevane::test;
    Fixture fixture("lsblk-gui-system-only.json");
    fixture.set_lsblk(big_listing());
    std::string entries;
    for (int d = 0; d < 20; ++d) {
        const std::string name = "sd" + std::string(1, char('a' + d)) + "1";
        entries += "[[mount]]\nuuid = \"UUID-" + name + "\"\ntarget = \"/mnt/" + name + "\"\nuid = 1000\ngid = 1000\n\n";
    }
    fixture.set_automount(entries);

    GtkWindow* window = open_main_window();
    brevane::WindowStateRef state = brevane::window_state(window);
    pump_for(std::chrono::milliseconds(300));
    std::printf("rows on the page: %zu\n",
                descendants_of_type(current_page(window), ADW_TYPE_ACTION_ROW).size());

    const int runs = 50;
    const Stats forced = time_runs(runs, [&] { brevane::refresh_drive_list(state, true); });
    // The same, with the release of the old page that the rebuild leaves to the main loop.
    const Stats forced_release = time_runs(runs, [&] {
        brevane::refresh_drive_list(state, true);
        while (g_main_context_pending(nullptr) && g_main_context_iteration(nullptr, FALSE)) {
        }
    });
    // With the frame that lays out and draws the new page, as the user waits for it.
    const Stats forced_frame = time_runs(20, [&] {
        brevane::refresh_drive_list(state, true);
        GtkWidget* page = current_page(window);
        pump_until([&] { return gtk_widget_get_mapped(page) && gtk_widget_get_width(page) > 0; });
    });
    GtkWidget* page = current_page(window);
    const Stats unforced = time_runs(runs, [&] { brevane::refresh_drive_list(state, false); });
    const bool untouched = current_page(window) == page;

    std::printf("forced rebuild:            median %.2f ms (min %.2f, max %.2f)\n", forced.median_ms, forced.min_ms,
                forced.max_ms);
    std::printf("forced rebuild + release:  median %.2f ms (min %.2f, max %.2f)\n", forced_release.median_ms,
                forced_release.min_ms, forced_release.max_ms);
    std::printf("forced rebuild + frame:    median %.2f ms (min %.2f, max %.2f)\n", forced_frame.median_ms,
                forced_frame.min_ms, forced_frame.max_ms);
    std::printf("unforced, unchanged data:  median %.3f ms (min %.3f, max %.3f); page kept: %s\n", unforced.median_ms,
                unforced.min_ms, unforced.max_ms, untouched ? "yes" : "NO");
    state.reset();
    close_main_window(window);
    return untouched ? 0 : 1;
}
