#pragma once
// Starting an argument vector as a child process (never through a shell) and waiting for it.

#include <optional>
#include <string>
#include <vector>

#include "tuvrek/result.hpp"

namespace tuvrek {

enum class Stream {
    Inherit,   // the parent's own stream
    Capture,   // a pipe read to its end
    Null,      // /dev/null
    ToStderr,  // standard output only: joined to the parent's standard error
};

// Standard input has nothing to capture or join: any choice but Inherit gives it /dev/null.
// ToStderr for standard error is the same as Inherit.
struct SpawnOptions {
    Stream in = Stream::Inherit;
    Stream out = Stream::Inherit;
    Stream err = Stream::Inherit;
    // Started even once forward_signal_to_child was called: a program that finishes what a change
    // already did (writes the service's state after a mount that landed) still runs.
    bool after_signal = false;
};

struct WaitStatus {
    bool exited = true;        // ended normally (else by a signal)
    int code = 0;              // exit code when exited
    int signal = 0;            // signal number when not exited
    bool core_dumped = false;
    bool success() const { return exited && code == 0; }
};

struct ProcessOutput {
    WaitStatus status;
    std::string out;  // captured standard output (raw bytes)
    std::string err;  // captured standard error (raw bytes)
};

// Runs argv[0] found through PATH with argv[1..], in this environment with messages in the C
// locale (LC_MESSAGES=C, LC_ALL spread over the other categories), with default signal handling;
// captured streams are drained together, so neither pipe can fill up and block the child. The
// error is the errno of a failed start, read or wait (EINVAL for an empty argv or an argument
// holding a NUL, EINTR once a signal was forwarded); the child is always waited for.
Result<ProcessOutput, int> run_process(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// For a program that waits for its children and passes signals on from its own handlers
// (async-signal-safe): the child running now is sent the signal unless it has it already (the terminal
// signals the whole process group), and from then on run_process starts no child (EINTR) unless asked
// to with after_signal. One child runs at a time; its process id is kept until it has been waited for,
// so a signal can't reach another process that was given the same number.
void forward_signal_to_child(int signal, bool child_has_it);

// "exit status: N", or "signal: N (SIGNAME)" with " (core dumped)" when it did.
std::string describe_wait_status(const WaitStatus& status);

// The running executable (the target of /proc/self/exe).
std::optional<std::string> self_executable_path();

}  // namespace tuvrek
