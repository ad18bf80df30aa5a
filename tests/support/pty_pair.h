// A pseudo-terminal pair for tests: the slave plays the serial port the
// program opens (by slavePath), the master plays the device at the other
// end of the line. Both ends are in raw mode.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct PtyPair {
    int master = -1;  // non-blocking
    int slaveFd = -1; // held open so the tty outlives the program's own opens
    std::string slavePath;

    // Throws std::runtime_error when no pseudo-terminal can be made.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Writes all bytes to the master; false if they were not all taken
    // within timeoutMs.
    bool writeMaster(std::string_view bytes, int timeoutMs = 2000);
    // Reads from the master until count bytes have come or timeoutMs has
    // passed; returns what came.
    std::string readMaster(std::size_t count, int timeoutMs = 2000);
    // Reads whatever comes within waitMs (returns as soon as the line has
    // been quiet for quietMs after the first byte).
    std::string drainMaster(int waitMs = 200, int quietMs = 50);

    // Hangs the line up, as unplugging the device would.
    void closeMaster();
    void closeSlave();
};
