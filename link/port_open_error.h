// What the user is told when the serial port cannot be opened: the status
// text and one log line that says why and what to do.
#pragma once

#include <string>

struct PortOpenFailure {
    std::string status; // panel 2
    std::string log;    // the cause, and the fix where there is one
};

// `error` is the system's error number of the failed open (TThreadComm::
// LastOpenError). No permission names the group that owns the device and the
// fix; a port another program holds keeps "Порт … занят" and names that
// program when /proc shows it.
PortOpenFailure describePortOpenFailure(const std::string& portName, const std::string& devicePath,
                                        int error, const std::string& procDir = "/proc");

// The program (other than this one) that has the device open, as
// "name (pid N)", or empty when none can be seen.
std::string portHolder(const std::string& devicePath, const std::string& procDir = "/proc");
