// What a serial port is right now, as the command line's port list shows
// it: free, held by another program (and which, where /proc tells), not
// open to this user (and the fix), or gone. Uses the same rule as the
// port's own open to call a port busy: an flock held on it, its exclusive
// mode (TIOCEXCL) set, or another program that has it open.
#pragma once

#include <string>
#include <utility>
#include <vector>

enum class PortAccess {
    Free,
    Busy,         // another program holds its lock, set exclusive mode or has it open
    NoPermission, // this user may not open it
    Missing,      // no device behind the node
    NotSerial,    // not a terminal, or an on-board port without a UART
};

struct PortProbe {
    PortAccess access = PortAccess::Free;
    std::string holder; // Busy because this program has it open: "name (pid N)"
};
// What each port is now, (devicePath, needsUart) each: every one is opened
// briefly (its lock never kept), and procDir is looked through once for
// programs that have them open. `needsUart`: an on-board port (ttyS) counts
// only with a UART behind it.
std::vector<PortProbe> probePorts(const std::vector<std::pair<std::string, bool>>& ports,
                                  const std::string& procDir = "/proc");

struct PortStatus {
    std::string name; // "ttyUSB0"
    std::string path; // "/dev/ttyUSB0"
    PortAccess access = PortAccess::Free;
    std::string holder;             // Busy: "name (pid N)" when it can be seen
    std::string fix;                // NoPermission: the Russian cause and its fix
    std::vector<std::string> byIds; // names in byIdDir that lead to this port
};

// Every serial device of sysClassTty that has a device behind it (those
// that are not serial at all left out), in the window's port order, with
// its state.
std::vector<PortStatus> describePorts(const std::string& sysClassTty = "/sys/class/tty",
                                      const std::string& devDir = "/dev",
                                      const std::string& byIdDir = "/dev/serial/by-id",
                                      const std::string& procDir = "/proc");

// The Russian word for a state ("свободен", "занят", "нет доступа", "нет устройства").
const char* accessText(PortAccess access);
// A stable name for scripts ("free", "busy", "no-permission", "missing",
// "not-serial"): the names comm::openErrorName gives the same states.
const char* accessKey(PortAccess access);
