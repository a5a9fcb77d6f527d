#include "privilege.hpp"

#include <string>
#include <vector>

#include "interruption.hpp"
#include "reply.hpp"
#include "tuvrek/process.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {

int rerun_with_sudo(bool json, const std::vector<std::string>& original_args) {
    // Without a self path sudo finds the program through its own search path.
    std::vector<std::string> argv{"sudo", "--", self_executable_path().value_or("tuvrek-disk"), "--elevated"};
    if (!original_args.empty()) argv.insert(argv.end(), original_args.begin() + 1, original_args.end());

    // sudo passes a signal on to the run it started; sent here, it reaches sudo, which this run waits for.
    catch_interruptions();
    auto child = run_process(argv);
    if (!child && interrupted()) return print_error(json, interrupted_error("Nothing was changed."));
    if (!child) return print_error(json, cli_error("sudo", "sudo: " + os_error_text(child.error()), 1));
    const WaitStatus& status = child->status;
    return status.exited ? status.code : 1;
}

}  // namespace tuvrek
