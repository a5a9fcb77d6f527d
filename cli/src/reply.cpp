#include "reply.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace tuvrek {

namespace {

// Every reply, message, warning and echo goes through here. Written at once: a child started next
// writes to the same stream and must come after this line. A failed write (a closed pipe) is dropped;
// the run goes on to its own exit status. A NUL (from a device's data or a child's words) would end
// the line early for any reader of C strings, so it is shown as \x00, as escape_controls shows it.
void write_line(std::FILE* to, std::string_view line) {
    std::string text;
    text.reserve(line.size() + 1);
    for (char c : line) {
        if (c == '\0') text += "\\x00";
        else text += c;
    }
    text += '\n';
    // Written whole with write(2): a signal that comes meanwhile (the handlers don't restart calls)
    // must not cut the reply.
    std::fflush(to);
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t put = ::write(::fileno(to), rest.data(), rest.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;
        rest.remove_prefix(static_cast<std::size_t>(put));
    }
}

// Invalid UTF-8 is replaced rather than thrown on: a reply is always written.
std::string compact(const nlohmann::json& reply) {
    return reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void merge_object(nlohmann::json& reply, const nlohmann::json& extra) {
    if (!extra.is_object()) return;
    for (const auto& [key, value] : extra.items()) reply[key] = value;
}

}  // namespace

void print_success(bool json, std::string_view message, const nlohmann::json& extra) {
    if (!json) {
        if (!message.empty()) write_line(stdout, message);
        return;
    }
    nlohmann::json reply = nlohmann::json::object();
    reply["ok"] = true;
    reply["message"] = std::string(message);
    merge_object(reply, extra);
    write_line(stdout, compact(reply));
}

std::uint8_t print_error(bool json, CliError error) {
    if (!json) {
        write_line(stderr, "\x1b[31mError:\x1b[0m " + error.message);
        return error.exit;
    }
    nlohmann::json reply = nlohmann::json::object();
    reply["ok"] = false;
    reply["error"] = std::move(error.code);
    reply["message"] = std::move(error.message);
    merge_object(reply, error.details);
    write_line(stdout, compact(reply));
    return error.exit;
}

void print_line(bool to_stderr, std::string_view line) { write_line(to_stderr ? stderr : stdout, line); }

void print_warning(std::string_view text) { write_line(stderr, "\x1b[33mWarning:\x1b[0m " + std::string(text)); }

}  // namespace tuvrek
