#pragma once
// The one reply of every run: text for a person, or one sorted JSON object with --json.

#include <cstdint>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tuvrek/cli_error.hpp"

namespace tuvrek {

void print_success(bool json, std::string_view message, const nlohmann::json& extra = nullptr);
// Prints the failure and gives the exit status it carries.
std::uint8_t print_error(bool json, CliError error);
void print_line(bool to_stderr, std::string_view line);
void print_warning(std::string_view text);

}  // namespace tuvrek
