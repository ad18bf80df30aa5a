// The simulator's command line.
#pragma once

#include "sim/device.h"
#include "sim/stream_loop.h"
#include "sim/tcp_transport.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct SimOptions {
    std::string linkPath; // --link: a symbolic link to the slave
    std::uint8_t firmwareVersion = kDefaultFirmwareVersion;
    std::uint8_t loaderVersion = kDefaultLoaderVersion; // --loader-version
    std::string traceIn;                                // --trace: every byte received
    std::string traceOut;                               // --trace-out: every byte sent
    Pacing pacing;                                      // --baud, --delay-ms
    Faults faults; // --no-reply, --split, --split-gap-ms, --no-reply-at, --mute-from,
                   // --corrupt-packet, --read-stops-after, --refuse-ntf, --repeat-batch,
                   // --memory-full,
                   // --reject-frames, --mute-loader-at
    std::optional<TcpTarget> tcp; // --tcp HOST:PORT, --connect HOST:PORT
    // --connect: a fleet of GPRS devices that stay on line, reconnecting
    // after a dropped or ended connection.
    bool fleet = false;
    unsigned devices = 1;                          // --devices
    std::optional<std::uint16_t> deviceNumber;     // --device-number: of the first device
    std::chrono::milliseconds retry{0};            // --retry MS
    std::optional<std::uint16_t> password;         // --password
    std::size_t capacity = kDefaultNumberCapacity; // --capacity
    std::string numbersFile;                       // --numbers
    std::string configFile;                        // --config
    std::string dumpFile;                          // --dump
    std::string say;                               // --say
    std::chrono::milliseconds sayDelay{500};       // --say-delay-ms
};

struct CommandLine {
    enum class Action { Run, Help, Version, Fail };
    Action action = Action::Run;
    SimOptions options;
    std::string error; // for Fail: what was wrong, one line
};

// Parses the arguments after the program name. Accepts "--name value" and
// "--name=value".
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string usageText();

} // namespace sim
