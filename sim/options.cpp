#include "sim/options.h"

#include <algorithm>
#include <array>
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

// The commands a step fault can name.
constexpr std::array<const char*, 14> kStepKeywords = {
    "CONFO", "CONFR",  "CONFW",  "CHPASS", "APN", "READ",  "R_OK",
    "RFAIL", "RT+NTF", "RT+EFA", "ADD",    "DEL", "ERASE", "ADN"};

// "KEYWORD:N" with N from 1.
std::optional<StepFault> stepFault(const std::string& text, StepFault::Mode mode) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const std::string keyword = text.substr(0, colon);
    const auto n = number(text.substr(colon + 1), 1, 1'000'000);
    if (!n || std::find_if(kStepKeywords.begin(), kStepKeywords.end(),
                           [&](const char* k) { return keyword == k; }) == kStepKeywords.end()) {
        return std::nullopt;
    }
    return StepFault{mode, keyword, static_cast<unsigned>(*n)};
}

} // namespace

std::string usageText() {
    return "Usage: vxrt7-sim [OPTION]...\n"
           "Simulates a VX-RT-7 GSM relay key. On a pseudo-terminal (the default) it prints\n"
           "the path of the terminal the configurator must open as the first line; with\n"
           "--tcp it prints \"tcp HOST:PORT\" and connects to the configurator's server as a\n"
           "GPRS device does, announcing itself with \"CONNECT\". It serves until SIGTERM or\n"
           "SIGINT; in TCP mode also until the connection ends (the configurator sent\n"
           "\"CLOSED\" or went away), unless --retry is given. Exit status: 0 on a normal\n"
           "end, 1 when the line failed or the server could not be reached, 2 on bad\n"
           "arguments.\n"
           "\n"
           "Line:\n"
           "  --link PATH          also make the symbolic link PATH to the terminal\n"
           "                       (a stale link is replaced; removed on exit)\n"
           "  --tcp HOST:PORT      connect to a TCP server instead ([IPV6]:PORT too)\n"
           "  --retry MS           TCP: connect again MS ms after a failed or ended\n"
           "                       connection instead of ending\n"
           "  --connect HOST:PORT  a fleet of GPRS devices connecting to a fleet server\n"
           "                       (vxrt7-cli serve): like --tcp, but each device\n"
           "                       connects again 1 s (or --retry MS) after its\n"
           "                       connection dropped or ended, until SIGTERM or SIGINT\n"
           "  --devices N          with --connect: N devices in this one process,\n"
           "                       1..10000 (default 1), each with its own connection\n"
           "                       and its own copy of the state below\n"
           "  --device-number N    the device number (offset 58 of the block) of the\n"
           "                       first device, 0..65535; the others count up from it\n"
           "  --latency-ms N       the delay of every message: the device answers each\n"
           "                       command N ms after it came (the same as --delay-ms)\n"
           "  --baud N             charge both directions the wire time of N baud\n"
           "                       (10 bits a byte); default: no pacing\n"
           "  --delay-ms N         wait N ms before answering a command\n"
           "  --trace FILE         append every byte received to FILE\n"
           "  --trace-out FILE     append every byte sent to FILE\n"
           "\n"
           "Device state:\n"
           "  --fw-version N       firmware version in the greeting, 0..255 (default 30)\n"
           "  --loader-version N   bootloader version after \"RT\", 0..255 (default 2)\n"
           "  --password N         the device password, 0..65535 (default 1234)\n"
           "  --capacity N         number memory cells, 0..65535 (default 650)\n"
           "  --config FILE        the 68-byte settings block: the raw bytes (a longer\n"
           "                       file, e.g. a configuration file, gives its first 68),\n"
           "                       or 136 hex digits, optionally after \"block=\";\n"
           "                       --password then overrides bytes 0-1\n"
           "  --numbers FILE       numbers to store: lines \"CELL;NUMBER;APARTMENT\" or\n"
           "                       \"NUMBER;APARTMENT\" (next free cell); '#' starts a comment\n"
           "  --dump FILE          on exit write the state: lines password=, block= (hex),\n"
           "                       apn=, firmware=, bootloader=, loader=, image= (the\n"
           "                       programmed blocks in hex), capacity=, numbers=COUNT,\n"
           "                       then \"CELL;NUMBER;APARTMENT\" for every stored number\n"
           "\n"
           "Faults:\n"
           "  --no-reply           take every command and answer none\n"
           "  --split N            send replies in pieces of N bytes\n"
           "  --split-gap-ms N     pause between the pieces (default 50)\n"
           "  --split-random SEED  send replies in random pieces of 1-16 bytes,\n"
           "                       0 to --split-gap-ms apart (repeatable by SEED)\n"
           "  --reply-delay MS     the device's handling time before each reply\n"
           "                       (the same as --delay-ms)\n"
           "  --no-reply-at CMD:N  do not answer the N-th CMD command (e.g. RT+NTF:3)\n"
           "  --mute-from CMD:N    from the N-th CMD command on, answer nothing at all\n"
           "                       (CMD: CONFO CONFR CONFW CHPASS APN READ R_OK RFAIL\n"
           "                       RT+NTF RT+EFA ADD DEL ERASE ADN)\n"
           "  --corrupt-packet K   send the K-th number packet of every read with a\n"
           "                       wrong end mark (resent sound on \"RFAIL\")\n"
           "  --read-stops-after K every number read stops after its K-th packet: the\n"
           "                       device sends no more of its list (other commands are\n"
           "                       still answered)\n"
           "  --refuse-ntf K       refuse the K-th RT+NTF with \"+NTF:0\"\n"
           "  --repeat-batch K     answer the K-th ADN batch \"ADN\" (send it again)\n"
           "  --memory-full        every number write finds no free cell\n"
           "  --drop-after-batches K\n"
           "                       TCP: the connection drops when the K-th \"ADN\" batch\n"
           "                       of a connection has been stored (no answer to it)\n"
           "  --drops N            how many such drops in all, per device (default 1;\n"
           "                       0: on every connection)\n"
           "  --reject-frames K    the bootloader refuses the next K frames with \"@\"\n"
           "  --mute-loader-at K   the K-th frame hangs the bootloader: it answers nothing\n"
           "                       more until \"!RST\" restarts it\n"
           "  --say TEXT           send TEXT once, after the device is linked\n"
           "  --say-delay-ms N     how long after linking (default 500)\n"
           "\n"
           "  --help               show this help and exit\n"
           "  --version            show the version and exit\n";
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    SimOptions& o = result.options;
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

        if (name == "--help" || name == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (name == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (name == "--no-reply" || name == "--memory-full") {
            if (inlineValue) {
                return fail(name + " takes no value");
            }
            (name == "--no-reply" ? o.faults.noReply : o.faults.memoryFull) = true;
            continue;
        }
        static const std::array<const char*, 34> withValue = {"--reply-delay",
                                                              "--connect",
                                                              "--devices",
                                                              "--device-number",
                                                              "--latency-ms",
                                                              "--drop-after-batches",
                                                              "--drops",
                                                              "--split-random",
                                                              "--link",
                                                              "--fw-version",
                                                              "--trace",
                                                              "--trace-out",
                                                              "--baud",
                                                              "--delay-ms",
                                                              "--split",
                                                              "--split-gap-ms",
                                                              "--tcp",
                                                              "--retry",
                                                              "--password",
                                                              "--capacity",
                                                              "--config",
                                                              "--numbers",
                                                              "--dump",
                                                              "--no-reply-at",
                                                              "--mute-from",
                                                              "--corrupt-packet",
                                                              "--refuse-ntf",
                                                              "--repeat-batch",
                                                              "--say",
                                                              "--say-delay-ms",
                                                              "--loader-version",
                                                              "--reject-frames",
                                                              "--mute-loader-at",
                                                              "--read-stops-after"};
        if (std::find_if(withValue.begin(), withValue.end(),
                         [&](const char* n) { return name == n; }) == withValue.end()) {
            return fail("unknown option: " + args[i]);
        }
        const auto v = value();
        if (!v) {
            return fail(name + " needs a value");
        }
        // Whole numbers in a range, with one message shape for all.
        auto ranged = [&](unsigned long low, unsigned long high) {
            const auto n = number(*v, low, high);
            if (!n) {
                result.action = CommandLine::Action::Fail;
                result.error = name + " must be a whole number from " + std::to_string(low) +
                               " to " + std::to_string(high) + ", not '" + *v + "'";
            }
            return n;
        };
        if (name == "--link" || name == "--trace" || name == "--trace-out" || name == "--config" ||
            name == "--numbers" || name == "--dump") {
            if (v->empty()) {
                return fail(name + " needs a non-empty path");
            }
            (name == "--link"        ? o.linkPath
             : name == "--trace"     ? o.traceIn
             : name == "--trace-out" ? o.traceOut
             : name == "--config"    ? o.configFile
             : name == "--numbers"   ? o.numbersFile
                                     : o.dumpFile) = *v;
        } else if (name == "--tcp" || name == "--connect") {
            TcpTarget target;
            if (!parseTcpTarget(*v, &target)) {
                return fail(name + " needs HOST:PORT with a port from 1 to 65535, not '" + *v +
                            "'");
            }
            if (o.tcp) {
                return fail("--tcp and --connect name one server, given once");
            }
            o.tcp = target;
            o.fleet = name == "--connect";
        } else if (name == "--say") {
            if (v->empty()) {
                return fail("--say needs a text");
            }
            o.say = *v;
        } else if (name == "--no-reply-at" || name == "--mute-from") {
            const auto f = stepFault(*v, name == "--no-reply-at" ? StepFault::Mode::SkipOne
                                                                 : StepFault::Mode::GoSilent);
            if (!f) {
                return fail(name + " needs COMMAND:N (N from 1; see --help), not '" + *v + "'");
            }
            o.faults.silence = *f;
        } else {
            std::optional<unsigned long> n;
            if (name == "--fw-version" || name == "--loader-version") {
                n = ranged(0, 255);
            } else if (name == "--baud") {
                n = ranged(1, 4'000'000);
            } else if (name == "--split") {
                n = ranged(1, 65'536);
            } else if (name == "--split-random") {
                n = ranged(1, 4'000'000'000);
            } else if (name == "--password" || name == "--capacity" || name == "--device-number") {
                n = ranged(0, 65'535);
            } else if (name == "--devices") {
                n = ranged(1, 10'000);
            } else if (name == "--drops") {
                n = ranged(0, 1'000'000);
            } else if (name == "--retry") {
                n = ranged(1, 600'000);
            } else if (name == "--corrupt-packet" || name == "--refuse-ntf" ||
                       name == "--read-stops-after" || name == "--repeat-batch" ||
                       name == "--drop-after-batches" || name == "--reject-frames" ||
                       name == "--mute-loader-at") {
                n = ranged(1, 1'000'000);
            } else { // --delay-ms, --reply-delay, --latency-ms, --split-gap-ms, --say-delay-ms
                n = ranged(0, 60'000);
            }
            if (!n) {
                return result;
            }
            if (name == "--fw-version") {
                o.firmwareVersion = static_cast<std::uint8_t>(*n);
            } else if (name == "--loader-version") {
                o.loaderVersion = static_cast<std::uint8_t>(*n);
            } else if (name == "--reject-frames") {
                o.faults.rejectFrames = static_cast<unsigned>(*n);
            } else if (name == "--mute-loader-at") {
                o.faults.muteLoaderAt = static_cast<unsigned>(*n);
            } else if (name == "--baud") {
                o.pacing.baud = static_cast<unsigned>(*n);
            } else if (name == "--split") {
                o.faults.splitReplyBytes = *n;
            } else if (name == "--password") {
                o.password = static_cast<std::uint16_t>(*n);
            } else if (name == "--capacity") {
                o.capacity = *n;
            } else if (name == "--device-number") {
                o.deviceNumber = static_cast<std::uint16_t>(*n);
            } else if (name == "--devices") {
                o.devices = static_cast<unsigned>(*n);
            } else if (name == "--drop-after-batches") {
                o.faults.dropAfterBatches = static_cast<unsigned>(*n);
            } else if (name == "--drops") {
                o.faults.drops = static_cast<unsigned>(*n);
            } else if (name == "--retry") {
                o.retry = std::chrono::milliseconds{*n};
            } else if (name == "--corrupt-packet") {
                o.faults.corruptPacketAt = static_cast<unsigned>(*n);
            } else if (name == "--read-stops-after") {
                o.faults.readStopsAfter = static_cast<unsigned>(*n);
            } else if (name == "--refuse-ntf") {
                o.faults.refuseNtfAt = static_cast<unsigned>(*n);
            } else if (name == "--repeat-batch") {
                o.faults.repeatBatchAt = static_cast<unsigned>(*n);
            } else if (name == "--split-random") {
                o.faults.randomSplitSeed = static_cast<std::uint32_t>(*n);
            } else if (name == "--delay-ms" || name == "--reply-delay" || name == "--latency-ms") {
                o.pacing.processingDelay = std::chrono::milliseconds{*n};
            } else if (name == "--split-gap-ms") {
                o.faults.splitGap = std::chrono::milliseconds{*n};
            } else {
                o.sayDelay = std::chrono::milliseconds{*n};
            }
        }
    }
    if (o.tcp && !o.linkPath.empty()) {
        return fail("--link belongs to the terminal; it cannot go with --tcp");
    }
    if (o.retry.count() > 0 && !o.tcp) {
        return fail("--retry needs --tcp or --connect");
    }
    if (o.devices > 1 && !o.fleet) {
        return fail("--devices needs --connect");
    }
    if (o.deviceNumber && o.devices > 1 && *o.deviceNumber + (o.devices - 1) > 65'535) {
        return fail("--device-number " + std::to_string(*o.deviceNumber) + " with --devices " +
                    std::to_string(o.devices) + " runs past 65535");
    }
    if (o.fleet && o.retry.count() == 0) {
        o.retry = std::chrono::milliseconds{1000};
    }
    return result;
}

} // namespace sim
