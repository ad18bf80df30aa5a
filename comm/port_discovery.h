// Discovery of the serial ports that can be opened right now.
#pragma once

#include <string>
#include <vector>

// The serial devices listed in sysClassTty (normally /sys/class/tty) that
// have a device behind them and that devDir/<name> can be opened exclusively
// right now, as names under devDir ("ttyACM0", "ttyS0", "ttyUSB0"), ordered
// by name and then by number. An on-board ttyS without a UART behind it, a
// port another program holds (flock, TIOCEXCL, or merely open) and the port this program
// holds itself are left out.
std::vector<std::string> Find_Ports(const std::string& sysClassTty = "/sys/class/tty",
                                    const std::string& devDir = "/dev");

// The entry that switches to the Internet link; always last in the list.
inline constexpr const char* kInternetEntry = "Интернет";
