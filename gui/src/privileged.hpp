#pragma once
// Runs tuvrek-disk through pkexec without blocking the window, and shows what it answered.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "window_state.hpp"

namespace brevane {

struct CliResult {
    bool ok = false;
    std::string text;
    bool operator==(const CliResult&) const = default;
};
using ResultCallback = std::shared_ptr<std::function<void(const CliResult&)>>;

std::string cli_path();
// The lookup behind cli_path, for a given path of the running executable.
std::string cli_path_beside(std::string_view executable);
CliResult parse_cli_reply(std::string_view out, std::string_view err, int status);
// on_result comes exactly once: at once when the child can't start, else later on the main loop.
void run_cli_privileged(std::vector<std::string> args, ResultCallback on_result);
// The same, with show_cli_result as the completion.
void run_cli_privileged(const WindowStateRef& state, std::vector<std::string> args);
void show_toast(const WindowStateRef& state, std::string_view text);
void show_cli_result(const WindowStateRef& state, const CliResult& result);

}  // namespace brevane
