// Port names as the user sees them and the device paths behind them.
#pragma once

#include <string>

// The device prefix put before a port name to address the device.
inline constexpr const char* kDevicePrefix = "/dev/";

// "ttyUSB0" -> "/dev/ttyUSB0"; a name beginning with "/" is a full path and
// stays as it is; "COMn" (typed, or read from a settings file made on
// Windows) means the n-th on-board port, /dev/ttyS(n-1). Case is ignored in
// "COM". An empty name gives an empty path.
// On Windows (ports_win.cpp) "COM5" is "\\.\COM5" and a name beginning
// with two backslashes stays as it is.
std::string devicePathForPort(const std::string& portName);

// Orders port names by their letters and then by their number: ttyS2 before ttyS10.
bool portNameLess(const std::string& a, const std::string& b);
