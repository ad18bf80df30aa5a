#include "sim/options.h"

#include <charconv>
#include <optional>

namespace sim {
namespace {

// A whole decimal number in [low, high]; nothing else (no sign, no blanks).
std::optional<unsigned long> number(const std::string& text, unsigned long low,
                                    unsigned long high) {
    unsigned long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string usageText() {
    return "Usage: vxrt7-sim [OPTION]...\n"
           "Simulates a VX-RT-7 GSM relay key on a pseudo-terminal. Prints the path of the\n"
           "terminal the configurator must open as the first line, then serves it until\n"
           "SIGTERM or SIGINT.\n"
           "\n"
           "  --link PATH        also make the symbolic link PATH to that terminal\n"
           "                     (a stale link is replaced; removed on exit)\n"
           "  --fw-version N     firmware version in the greeting, 0..255 (default 30)\n"
           "  --trace FILE       append every byte received to FILE\n"
           "  --trace-out FILE   append every byte sent to FILE\n"
           "  --baud N           charge both directions the wire time of N baud\n"
           "                     (10 bits a byte); default: no pacing\n"
           "  --delay-ms N       wait N ms before answering a command\n"
           "  --no-reply         take every command and answer none\n"
           "  --split N          send replies in pieces of N bytes\n"
           "  --help             show this help and exit\n"
           "  --version          show the version and exit\n";
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    auto fail = [&](std::string message) {
        result.action = CommandLine::Action::Fail;
        result.error = std::move(message);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) {
                return inlineValue;
            }
            if (i + 1 < args.size()) {
                return args[++i];
            }
            return std::nullopt;
        };
        auto flagOnly = [&] { return !inlineValue.has_value(); };

        if (name == "--help" || name == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (name == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (name == "--no-reply") {
            if (!flagOnly()) {
                return fail("--no-reply takes no value");
            }
            result.options.faults.noReply = true;
            continue;
        }
        if (name != "--link" && name != "--fw-version" && name != "--trace" &&
            name != "--trace-out" && name != "--baud" && name != "--delay-ms" &&
            name != "--split") {
            return fail("unknown option: " + args[i]);
        }
        const auto v = value();
        if (!v) {
            return fail(name + " needs a value");
        }
        if (name == "--link" || name == "--trace" || name == "--trace-out") {
            if (v->empty()) {
                return fail(name + " needs a non-empty path");
            }
            (name == "--link"    ? result.options.linkPath
             : name == "--trace" ? result.options.traceIn
                                 : result.options.traceOut) = *v;
        } else if (name == "--fw-version") {
            const auto n = number(*v, 0, 255);
            if (!n) {
                return fail("--fw-version must be a whole number from 0 to 255, not '" + *v + "'");
            }
            result.options.firmwareVersion = static_cast<std::uint8_t>(*n);
        } else if (name == "--baud") {
            const auto n = number(*v, 1, 4'000'000);
            if (!n) {
                return fail("--baud must be a whole number from 1 to 4000000, not '" + *v + "'");
            }
            result.options.pacing.baud = static_cast<unsigned>(*n);
        } else if (name == "--delay-ms") {
            const auto n = number(*v, 0, 60'000);
            if (!n) {
                return fail("--delay-ms must be a whole number from 0 to 60000, not '" + *v + "'");
            }
            result.options.pacing.processingDelay = std::chrono::milliseconds{*n};
        } else { // --split
            const auto n = number(*v, 1, 65'536);
            if (!n) {
                return fail("--split must be a whole number from 1 to 65536, not '" + *v + "'");
            }
            result.options.faults.splitReplyBytes = *n;
        }
    }
    return result;
}

} // namespace sim
