// The privileged runner end to end in the real window: a stand-in pkexec first on PATH, then the
// toast, the alert and the rebuilt page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>

#include "compat_inspection.hpp"
#include "privileged.hpp"
#include "window.hpp"
#include "gui_support.hpp"

namespace {

using namespace brevane::test;
using testing::ElementsAre;
using testing::IsEmpty;
namespace fs = std::filesystem;

constexpr const char* kStartupOnWin =
    "[[mount]]\n"
    "uuid = \"ABCD1234EF567890\"\n"
    "target = \"/mnt/win\"\n"
    "uid = 1000\n"
    "gid = 1000\n";

class RunnerTest : public testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        saved_path = path != nullptr ? path : "";
        fixture = std::make_unique<Fixture>("lsblk-gui-drives.json", kStartupOnWin);
        stand_ins = std::make_unique<tuvrek::test::StandIns>(fixture->dir() / "stand-ins");
        setenv("PATH", stand_ins->path_env().c_str(), 1);
        window = open_main_window();
        ASSERT_NE(window, nullptr);
        state = brevane::window_state(window);
        ASSERT_NE(state, nullptr);
    }
    void TearDown() override {
        if (window != nullptr) {
            while (GtkWidget* dialog = visible_dialog(GTK_WIDGET(window))) {
                alert_dialog_choose_response(dialog, "ok");
            }
        }
        state.reset();
        close_main_window(window);
        setenv("PATH", saved_path.c_str(), 1);
    }

    // Runs the arguments with show_cli_result as the completion, as the row actions do, and waits
    // until the result has been shown. (Unforced rebuilds may come meanwhile, so a new page alone
    // doesn't mean the run is over.)
    void run(std::vector<std::string> args) {
        bool shown = false;
        GtkWidget* page_at_result = nullptr;
        brevane::run_cli_privileged(std::move(args),
                                    std::make_shared<std::function<void(const brevane::CliResult&)>>(
                                        [&, state = state](const brevane::CliResult& result) {
                                            GtkWidget* before = current_page(window);
                                            brevane::show_cli_result(state, result);
                                            page_at_result = before;
                                            shown = true;
                                        }));
        EXPECT_FALSE(shown) << "the result came before the main loop turned";
        ASSERT_TRUE(pump_until([&] { return shown; }, std::chrono::seconds(30))) << "no result";
        EXPECT_NE(current_page(window), page_at_result) << "every result rebuilds the page";
    }

    GtkWidget* alert() { return visible_dialog(GTK_WIDGET(window)); }

    std::string saved_path;
    std::unique_ptr<Fixture> fixture;
    std::unique_ptr<tuvrek::test::StandIns> stand_ins;
    GtkWindow* window = nullptr;
    brevane::WindowStateRef state;
};

// A pkexec that runs the command it is given, as the real one does once authorised.
constexpr const char* kExecPkexec = "exec \"$@\"";

TEST_F(RunnerTest, RunsTheBuiltCliAndShowsItsSuccessAsAToast) {
    stand_ins->add_script("pkexec", kExecPkexec);
    // The stand-in umount also makes the listing show /mnt/a gone, as the kernel would.
    std::string after = fixture->lsblk_path() + ".after";
    std::string listing = tuvrek::test::read_file(fixture->lsblk_path());
    const std::string both = "\"mountpoints\":[\"/mnt/a\", \"/mnt/b\"]";
    ASSERT_NE(listing.find(both), std::string::npos);
    listing.replace(listing.find(both), both.size(), "\"mountpoints\":[\"/mnt/b\"]");
    tuvrek::test::write_file(after, listing);
    stand_ins->add_script("umount", "cp '" + after + "' \"$TUVREK_DISK_LSBLK_JSON\"");

    // The form whose completion is show_cli_result itself.
    brevane::run_cli_privileged(state, {"unmount", "/mnt/a"});
    ASSERT_TRUE(pump_until([&] { return !toast_titles(window).empty(); }, std::chrono::seconds(30)));

    ASSERT_THAT(stand_ins->calls("pkexec"), ElementsAre(ElementsAre(brevane::cli_path(), "--elevated", "--json",
                                                                     "unmount", "/mnt/a")));
    EXPECT_EQ(fs::canonical(brevane::cli_path()), fs::canonical(tuvrek::test::cli_binary()));
    EXPECT_THAT(stand_ins->calls("umount"), ElementsAre(ElementsAre("/mnt/a")));
    EXPECT_THAT(toast_titles(window), ElementsAre("Unmounted /mnt/a."));
    EXPECT_EQ(alert(), nullptr);

    auto groups = page_groups(current_page(window));
    ASSERT_FALSE(groups.empty());
    ASSERT_EQ(groups[0].rows.size(), 3u);
    EXPECT_EQ(groups[0].rows[1].subtitle, "NTFS \u00b7 250.0 GB \u00b7 /dev/sda3 \u00b7 mounted at /mnt/b");
}

TEST_F(RunnerTest, ChangesTheStartupFileAndTheRebuiltPageShowsIt) {
    stand_ins->add_script("pkexec", kExecPkexec);
    stand_ins->add("systemctl");
    auto switch_of_win = [&] {
        auto groups = page_groups(current_page(window));
        return groups.empty() || groups[0].rows.size() < 2 ? std::vector<std::string>{}
                                                            : suffix_summary(groups[0].rows[1]);
    };
    ASSERT_THAT(switch_of_win(), testing::Contains("switch:on"));

    run({"automount", "remove", "/mnt/win"});

    EXPECT_EQ(alert(), nullptr) << alert_dialog_get_body(alert());
    EXPECT_EQ(toast_titles(window).size(), 1u);
    EXPECT_EQ(tuvrek::test::read_file(fixture->automount_path()).find("/mnt/win"), std::string::npos);
    EXPECT_THAT(switch_of_win(), testing::Contains("switch:off"));
}

TEST_F(RunnerTest, AFailureReplyShowsItsMessageInTheAlert) {
    stand_ins->add_script("pkexec", kExecPkexec);
    stand_ins->add("umount");

    run({"unmount", "/"});

    EXPECT_THAT(stand_ins->calls("umount"), IsEmpty());
    GtkWidget* shown = alert();
    ASSERT_NE(shown, nullptr);
    ASSERT_TRUE(is_alert_dialog(shown));
    EXPECT_STREQ(alert_dialog_get_heading(shown), "That Didn't Work");
    EXPECT_STREQ(alert_dialog_get_body(shown), "/ is part of the running system.");
    EXPECT_TRUE(alert_dialog_has_response(shown, "ok"));
    EXPECT_STREQ(alert_dialog_get_response_label(shown, "ok"), "OK");
    EXPECT_THAT(toast_titles(window), IsEmpty());

    // Its one response only closes it.
    GtkWidget* page = current_page(window);
    alert_dialog_choose_response(shown, "ok");
    EXPECT_TRUE(pump_until([&] { return alert() == nullptr; }));
    EXPECT_EQ(current_page(window), page);
}

struct PkexecCase {
    const char* name;
    std::string script;                // the stand-in pkexec's body
    std::optional<std::string> alert;  // the alert's body, when one shows
    std::optional<std::string> toast;  // the toast's title, when one shows
};

// A failing case names itself rather than its bytes.
void PrintTo(const PkexecCase& c, std::ostream* os) { *os << c.name; }

class PkexecOutcome : public RunnerTest, public testing::WithParamInterface<PkexecCase> {};

TEST_P(PkexecOutcome, ShowsTheResultAndRebuildsThePage) {
    const PkexecCase& c = GetParam();
    stand_ins->add_script("pkexec", c.script);

    run({"unmount", "/mnt/with blank"});

    // An argument with blanks stays one argument.
    EXPECT_THAT(stand_ins->calls("pkexec"), ElementsAre(ElementsAre(brevane::cli_path(), "--elevated", "--json",
                                                                     "unmount", "/mnt/with blank")));
    GtkWidget* shown = alert();
    if (c.alert) {
        ASSERT_NE(shown, nullptr);
        EXPECT_STREQ(alert_dialog_get_heading(shown), "That Didn't Work");
        EXPECT_EQ(std::string(alert_dialog_get_body(shown)), *c.alert);
    } else {
        EXPECT_EQ(shown, nullptr);
    }
    if (c.toast) {
        EXPECT_THAT(toast_titles(window), ElementsAre(*c.toast));
    } else {
        EXPECT_THAT(toast_titles(window), IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PkexecOutcome,
    testing::Values(
        PkexecCase{"dismissed_shows_nothing",
                   "echo 'Error executing command as another user: Request dismissed' >&2; exit 126", std::nullopt,
                   std::nullopt},
        PkexecCase{"not_authorized", "echo 'Error executing command as another user: Not authorized' >&2; exit 127",
                   "Not authorized.", std::nullopt},
        PkexecCase{"garbage_gives_last_stderr_line", "echo 'not a reply'; printf 'first\\nsecond\\n' >&2; exit 1",
                   "second", std::nullopt},
        PkexecCase{"garbage_without_stderr", "echo '{\"ok\":true} and more'; exit 0", "tuvrek-disk failed.",
                   std::nullopt},
        PkexecCase{"two_final_feeds_give_an_empty_body", "printf 'first\\n\\n' >&2; exit 1", "", std::nullopt},
        PkexecCase{"failure_reply_with_exit_zero", "echo '{\"message\":\"Nope.\",\"ok\":false}'; exit 0", "Nope.",
                   std::nullopt},
        PkexecCase{"success_without_message_shows_nothing", "echo '{\"ok\":true}'", std::nullopt, std::nullopt},
        // Markup characters show literally in the toast.
        PkexecCase{"success_message_as_is", "echo '{\"message\":\"Unmounted /mnt/Tom & <Jerry>.\",\"ok\":true}'",
                   std::nullopt, "Unmounted /mnt/Tom & <Jerry>."},
        // The output is read as bytes: one that isn't UTF-8 never changes the verdict, and shows as U+FFFD.
        PkexecCase{"invalid_byte_on_stderr_keeps_the_success",
                   "echo '{\"message\":\"Unmounted /mnt/a.\",\"ok\":true}'; printf 'note \\377\\n' >&2; exit 0",
                   std::nullopt, "Unmounted /mnt/a."},
        PkexecCase{"invalid_byte_in_the_last_stderr_line", "printf 'first\\nbad \\377 byte\\n' >&2; exit 1",
                   "bad \ufffd byte", std::nullopt},
        PkexecCase{"invalid_byte_in_the_reply_message",
                   "printf '{\"message\":\"Unmounted /mnt/\\377.\",\"ok\":true}\\n'", std::nullopt,
                   "Unmounted /mnt/\ufffd."},
        PkexecCase{"invalid_bytes_instead_of_a_reply", "printf '\\377\\376'; exit 0", "tuvrek-disk failed.",
                   std::nullopt}),
    [](const testing::TestParamInfo<PkexecCase>& info) { return std::string(info.param.name); });

TEST_F(RunnerTest, APkexecThatCantStartFailsAtOnce) {
    setenv("PATH", (fixture->dir() / "empty").c_str(), 1);
    std::optional<brevane::CliResult> got;
    brevane::run_cli_privileged({"unmount", "/mnt/a"},
                                std::make_shared<std::function<void(const brevane::CliResult&)>>(
                                    [&](const brevane::CliResult& result) { got = result; }));
    ASSERT_TRUE(got.has_value()) << "on_result must come before the runner returns";
    EXPECT_FALSE(got->ok);
    EXPECT_THAT(got->text, testing::HasSubstr("pkexec"));

    // The state form shows the same text in the alert, and rebuilds the page.
    GtkWidget* before = current_page(window);
    brevane::run_cli_privileged(state, {"unmount", "/mnt/a"});
    EXPECT_NE(current_page(window), before);
    GtkWidget* shown = alert();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(std::string(alert_dialog_get_body(shown)), got->text);
}

TEST_F(RunnerTest, RunsInFlightTogetherEachReportOnce) {
    // The first run finishes after the second has started; each result arrives once.
    stand_ins->add_script("pkexec", "sleep 0.3; echo \"{\\\"message\\\":\\\"done $5\\\",\\\"ok\\\":true}\"");
    std::vector<std::string> results;
    auto record = std::make_shared<std::function<void(const brevane::CliResult&)>>(
        [&](const brevane::CliResult& result) { results.push_back(result.text); });
    brevane::run_cli_privileged({"unmount", "/mnt/one"}, record);
    brevane::run_cli_privileged({"unmount", "/mnt/two"}, record);
    ASSERT_TRUE(pump_until([&] { return results.size() == 2; }, std::chrono::seconds(30)));
    pump_for(std::chrono::milliseconds(200));
    EXPECT_THAT(results, testing::UnorderedElementsAre("done /mnt/one", "done /mnt/two"));
}

}  // namespace
