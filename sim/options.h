// The simulator's command line.
#pragma once

#include "sim/device.h"
#include "sim/stream_loop.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct SimOptions {
    std::string linkPath; // --link: a symbolic link to the slave
    std::uint8_t firmwareVersion = kDefaultFirmwareVersion;
    std::string traceIn;  // --trace: every byte received
    std::string traceOut; // --trace-out: every byte sent
    Pacing pacing;        // --baud, --delay-ms
    Faults faults;        // --no-reply, --split
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
