#pragma once
// Running external commands: the "$ " echo, the judgement of their ending, and yes/no questions.

#include <string>
#include <string_view>
#include <vector>

#include "tuvrek/result.hpp"

namespace tuvrek {

// One line a POSIX shell reads back into the same words.
std::string shell_join(const std::vector<std::string>& argv);
// The error is a line for the caller to embed in its own message.
Result<void, std::string> run_command(bool json, const std::vector<std::string>& argv, bool capture_stderr);
// Answers no at once when standard input is not a terminal.
bool confirm(std::string_view question);

}  // namespace tuvrek
