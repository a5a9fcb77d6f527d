#pragma once
// Running external commands: the "$ " echo, the judgement of their ending, and yes/no questions.

#include <string>
#include <string_view>
#include <vector>

#include "tuvrek/result.hpp"

namespace tuvrek {

// One line a POSIX shell reads back into the same words.
std::string shell_join(const std::vector<std::string>& argv);
// Whether a command still starts once the run was interrupted: only one that finishes a change already
// made (the startup service's state after the entry was saved) does.
enum class AfterSignal { Skip, Run };

// The error is a line for the caller to embed in its own message. A command skipped because of a
// signal is neither echoed nor started.
Result<void, std::string> run_command(bool json, const std::vector<std::string>& argv, bool capture_stderr,
                                      AfterSignal after_signal = AfterSignal::Skip);
// Answers no at once when standard input is not a terminal, and when a signal ends the wait.
bool confirm(std::string_view question);

}  // namespace tuvrek
