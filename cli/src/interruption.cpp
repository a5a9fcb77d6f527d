#include "interruption.hpp"

#include <signal.h>

#include <atomic>
#include <string>

#include "tuvrek/process.hpp"

namespace tuvrek {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The first signal that came; the handler is its only writer.
std::atomic<int> g_signal{0};

void on_signal(int signal, siginfo_t* info, void*) {
    int none = 0;
    g_signal.compare_exchange_strong(none, signal);
    // The terminal sends Ctrl-C and its hangup to the whole foreground group, the child included.
    const bool from_terminal = info != nullptr && info->si_code == SI_KERNEL;
    forward_signal_to_child(signal, from_terminal);
}

std::string_view signal_name(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

}  // namespace

void catch_interruptions() {
    struct sigaction action {};
    action.sa_sigaction = on_signal;
    // Without SA_RESTART: a wait for the lock or for an answer ends at the signal.
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

bool interrupted() { return g_signal.load() != 0; }

CliError interrupted_error(std::string_view outcome) {
    const int signal = g_signal.load();
    std::string message = "Interrupted by " + std::string(signal_name(signal)) + ".";
    if (!outcome.empty()) message += " " + std::string(outcome);
    return cli_error("interrupted", std::move(message), static_cast<std::uint8_t>(128 + signal));
}

Result<void, CliError> stop_if_interrupted(std::string_view outcome) {
    if (interrupted()) return fail(interrupted_error(outcome));
    return {};
}

CliError unless_interrupted(CliError error, std::string_view outcome) {
    if (interrupted() && error.code != "interrupted") return interrupted_error(outcome);
    return error;
}

}  // namespace tuvrek
