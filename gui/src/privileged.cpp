// Runs tuvrek-disk through pkexec without blocking the window, and shows what it answered.
#include "privileged.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "compat.hpp"
#include "markup.hpp"
#include "owned.hpp"
#include "page.hpp"
#include "tuvrek/process.hpp"
#include "tuvrek/text.hpp"

namespace brevane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFallbackCli = "/usr/bin/tuvrek-disk";

// Everything one run needs until its result has been delivered.
struct Run {
    ObjectRef<GSubprocess> process;
    ResultCallback on_result;
};

void deliver(const ResultCallback& on_result, const CliResult& result) {
    if (on_result && *on_result) (*on_result)(result);
}

// The child's output is read as bytes and made text here, so a stray byte that isn't UTF-8 (from
// the child, pkexec or a library they load) can't turn a reply into a failure.
std::string bytes_text(GBytes* bytes) {
    if (bytes == nullptr) return {};
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    return tuvrek::lossy_utf8(std::string_view(data, size));
}

void on_communicated(GObject* source, GAsyncResult* async_result, gpointer data) {
    const std::unique_ptr<Run> run = take_from_callback<Run>(data);
    g_autoptr(GBytes) out = nullptr;
    g_autoptr(GBytes) err = nullptr;
    g_autoptr(GError) error = nullptr;
    if (!g_subprocess_communicate_finish(G_SUBPROCESS(source), async_result, &out, &err, &error)) {
        deliver(run->on_result, CliResult{false, error->message});
        return;
    }
    GSubprocess* process = run->process.get();
    // A child killed by a signal has no exit status; any status but 126 and 127 reads alike.
    const int status = g_subprocess_get_if_exited(process) ? g_subprocess_get_exit_status(process) : 1;
    deliver(run->on_result, parse_cli_reply(bytes_text(out), bytes_text(err), status));
}

}  // namespace

std::string cli_path_beside(std::string_view executable) {
    const fs::path self(executable);
    if (!self.has_parent_path()) return kFallbackCli;
    const fs::path candidate = self.parent_path() / "tuvrek-disk";
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
    return kFallbackCli;
}

std::string cli_path() {
    const std::optional<std::string> self = tuvrek::self_executable_path();
    return self ? cli_path_beside(*self) : kFallbackCli;
}

CliResult parse_cli_reply(std::string_view out, std::string_view err, int status) {
    // Only blank, tab, line feed and carriage return may surround the value; the parser would also
    // let a byte-order mark through.
    const bool has_bom = out.size() >= 3 && out.substr(0, 3) == "\xEF\xBB\xBF";
    nlohmann::json reply = has_bom ? nlohmann::json(nlohmann::json::value_t::discarded)
                                   : nlohmann::json::parse(out, nullptr, false);
    if (!reply.is_discarded()) {
        CliResult result;
        if (reply.is_object()) {
            auto message = reply.find("message");
            if (message != reply.end() && message->is_string()) result.text = message->get<std::string>();
            auto ok = reply.find("ok");
            result.ok = ok != reply.end() && ok->is_boolean() && ok->get<bool>();
        }
        return result;
    }
    if (status == 126) return {false, "Cancelled."};
    if (status == 127) return {false, "Not authorized."};
    if (err.empty()) return {false, "tuvrek-disk failed."};
    // Not empty, so there is a last line; a final line feed ends it rather than starting another.
    return {false, std::string(tuvrek::split_lines(err).back())};
}

void run_cli_privileged(std::vector<std::string> args, ResultCallback on_result) {
    std::vector<std::string> argv = {"pkexec", cli_path(), "--elevated", "--json"};
    argv.insert(argv.end(), std::make_move_iterator(args.begin()), std::make_move_iterator(args.end()));
    std::vector<const char*> c_argv;
    c_argv.reserve(argv.size() + 1);
    for (const auto& arg : argv) c_argv.push_back(arg.c_str());
    c_argv.push_back(nullptr);

    g_autoptr(GError) error = nullptr;
    // Standard input stays /dev/null, so the child never waits for an answer.
    GSubprocess* process = g_subprocess_newv(
        c_argv.data(), GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE), &error);
    if (process == nullptr) {
        deliver(on_result, CliResult{false, error->message});
        return;
    }

    // The completion comes on this thread's main context, whose loop keeps the window live meanwhile;
    // GIO calls it exactly once, which hands the run back.
    auto run = std::make_unique<Run>(Run{ObjectRef<GSubprocess>::adopt(process), std::move(on_result)});
    g_subprocess_communicate_async(process, nullptr, nullptr, on_communicated, give_to_callback(std::move(run)));
}

void run_cli_privileged(const WindowStateRef& state, std::vector<std::string> args) {
    run_cli_privileged(std::move(args), std::make_shared<std::function<void(const CliResult&)>>(
                                            [state](const CliResult& result) { show_cli_result(state, result); }));
}

void show_toast(const WindowStateRef& state, std::string_view text) {
    if (text.empty() || !state || state->toast_overlay == nullptr) return;
    // A toast's title is markup: a folder named "Tom & Jerry" would otherwise show as nothing.
    adw_toast_overlay_add_toast(state->toast_overlay, adw_toast_new(markup_escaped(text).c_str()));
}

void show_cli_result(const WindowStateRef& state, const CliResult& result) {
    if (!state) return;
    if (result.ok) {
        show_toast(state, result.text);
    } else if (result.text != "Cancelled." && state->toast_overlay != nullptr) {
        GtkWidget* alert = compat::alert_dialog_new("That Didn't Work", result.text.c_str());
        compat::alert_dialog_add_response(alert, "ok", "OK");
        compat::alert_dialog_present(alert, GTK_WIDGET(state->window));
    }
    // Also puts back the controls a caller made insensitive while the command ran.
    refresh_drive_list(state, true);
}

}  // namespace brevane
