// Running external commands: every change to the machine goes through run_command, so the user
// sees each command before it starts and the caller gets one line to explain a failure.
#include "external_commands.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iostream>

#include <unicode/utf8.h>

#include "interruption.hpp"
#include "reply.hpp"
#include "tuvrek/process.hpp"
#include "tuvrek/text.hpp"

namespace tuvrek {

namespace {

constexpr std::string_view kSafePunctuation = "-_./=,:@";

// Letters and digits in the Unicode sense, and a few harmless marks. Invalid UTF-8 is never safe,
// so stray bytes always end up between quotes.
bool is_safe_word(std::string_view word) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(word.data());
    const auto length = static_cast<std::int32_t>(word.size());
    std::int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
        if (c < 0x80 && kSafePunctuation.find(static_cast<char>(c)) != std::string_view::npos) continue;
        if (!is_alphanumeric(static_cast<char32_t>(c))) return false;
    }
    return true;
}

std::string quote_word(std::string_view word) {
    // An empty word still has to stand as a word of its own when the line is read back.
    if (!word.empty() && is_safe_word(word)) return std::string(word);
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

// Our own buffered output must reach the terminal before the child's, which shares the streams.
void flush_all() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
}

}  // namespace

std::string shell_join(const std::vector<std::string>& argv) {
    std::string line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0) line += ' ';
        line += quote_word(argv[i]);
    }
    return line;
}

Result<void, std::string> run_command(bool json, const std::vector<std::string>& argv, bool capture_stderr,
                                      AfterSignal after_signal) {
    if (argv.empty()) return fail(std::string("no command to run"));
    const bool even_interrupted = after_signal == AfterSignal::Run;
    if (interrupted() && !even_interrupted) return fail(argv[0] + ": not started, the run was interrupted");
    print_line(json, "$ " + shell_join(argv));
    flush_all();
    // The program would get such an argument cut short at the NUL, a different path than the one shown.
    if (std::any_of(argv.begin(), argv.end(), [](const std::string& arg) { return holds_nul(arg); }))
        return fail(argv[0] + ": an argument holds a NUL character");

    SpawnOptions options;
    options.in = Stream::Inherit;
    options.out = json ? Stream::ToStderr : Stream::Inherit;
    options.err = capture_stderr ? Stream::Capture : Stream::Inherit;
    options.after_signal = even_interrupted;
    auto ran = run_process(argv, options);
    if (!ran) return fail(argv[0] + ": " + os_error_text(ran.error()));

    std::string said = trim_white_space(lossy_utf8(ran->err));
    if (capture_stderr && !said.empty()) {
        flush_all();
        print_line(true, said);
    }
    if (ran->status.success()) return {};
    if (!said.empty()) return fail(std::move(said));
    return fail(argv[0] + " failed (" + describe_wait_status(ran->status) + ")");
}

bool confirm(std::string_view question) {
    if (!isatty(STDIN_FILENO) || interrupted()) return false;
    flush_all();
    std::string prompt = std::string(question) + " [y/N] ";
    std::fwrite(prompt.data(), 1, prompt.size(), stderr);
    std::fflush(stderr);

    // Byte by byte, so nothing after the answer's line is taken from standard input.
    std::string line;
    while (true) {
        char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0) {
            if (errno == EINTR && !interrupted()) continue;
            return false;
        }
        if (n == 0 || c == '\n') break;
        line += c;
    }
    if (!is_valid_utf8(line)) return false;
    std::string answer = to_lower_full(trim_white_space(line));
    return answer == "y" || answer == "yes";
}

}  // namespace tuvrek
