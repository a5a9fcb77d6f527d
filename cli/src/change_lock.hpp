#pragma once
// One change at a time: every run that changes the machine or the state files holds the state lock
// from before it reads the drives to its reply, so check, mount and record are one step for the others.

#include <optional>

#include "tuvrek/cli_error.hpp"
#include "tuvrek/result.hpp"
#include "tuvrek/state_lock.hpp"

namespace tuvrek {

// Waits for the lock, saying so in one line on standard error when another run holds it. Where it
// can't be had at all (the run folder can't be made, as for --elevated without root) the run goes on
// without it, with a warning: its own steps then fail with their own errors. The error is the
// interruption of the wait.
Result<std::optional<StateLock>, CliError> lock_for_change();

}  // namespace tuvrek
