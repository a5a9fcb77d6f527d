#include "tuvrek/cli_error.hpp"

#include <utility>

namespace tuvrek {

CliError cli_error(std::string code, std::string message, std::uint8_t exit) {
    return CliError{std::move(code), std::move(message), nullptr, exit};
}

CliError not_confirmed_error() {
    return cli_error("not-confirmed", "Not mounted. Mount it read-only (without --rw), or add --yes to accept writing.",
                     3);
}

CliError needs_packages_error(const std::vector<std::string>& packages, std::string message) {
    CliError error = cli_error("needs-packages", std::move(message), 4);
    error.details = nlohmann::json::object();
    error.details["missing_packages"] = packages;
    return error;
}

}  // namespace tuvrek
