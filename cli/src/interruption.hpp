#pragma once
// Interruptions: INT, TERM or HUP while a run changes the machine. The child running then is sent the
// signal too and waited for; the run stops at the next step boundary, after its bookkeeping (a mount
// that landed is recorded, a folder made for one that didn't is removed), with status 128+N and the
// "interrupted" reply.

#include <string_view>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/result.hpp"

namespace tuvrek {

// Installs the handlers. A signal the caller ignores (nohup's HUP) stays ignored.
void catch_interruptions();
bool interrupted();
// Code "interrupted", exit 128+N, and the message "Interrupted by SIGTERM." followed by what stands
// now, such as "Nothing was mounted." or the success message of a change that was done.
CliError interrupted_error(std::string_view outcome);
// At a step boundary: the interrupted error once a signal came.
Result<void, CliError> stop_if_interrupted(std::string_view outcome);
// A step that failed once a signal came failed because of it, most likely: the interruption is told.
CliError unless_interrupted(CliError error, std::string_view outcome);

}  // namespace tuvrek
