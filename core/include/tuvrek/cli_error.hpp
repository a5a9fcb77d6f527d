#pragma once
// The one failure value of the command-line program, built by the disk core too.

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tuvrek {

struct CliError {
    std::string code;
    std::string message;
    nlohmann::json details;  // null, or an object whose entries join the JSON reply
    std::uint8_t exit = 1;
};

CliError cli_error(std::string code, std::string message, std::uint8_t exit);
CliError not_confirmed_error();
CliError needs_packages_error(const std::vector<std::string>& packages, std::string message);

}  // namespace tuvrek
