// Writing the line settings of a tty. This lives apart from the rest of the
// component because the rates without a Bnnn constant need the kernel's
// termios2 (<asm/termbits.h>), whose struct termios clashes with glibc's
// <termios.h>; only line_settings.cpp sees the kernel header.
#pragma once

#include <cstdint>

namespace comm::detail {

struct LineSettings {
    uint32_t rate = 9600;     // bits per second, any value the driver takes
    int dataBits = 8;         // 5 .. 8
    int parity = 0;           // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;         // 0 one, 1 one and a half, 2 two
    bool parityCheck = false; // check the parity of received bytes
    char xonChar = 17;
    char xoffChar = 19;
};

// Puts the tty into raw mode (no echo, no line editing, no translation,
// receiver on, modem lines ignored, reads that never wait: VMIN = VTIME = 0)
// with the given settings. Flow-control flags stay as the driver has them.
// Returns 0 or the errno of the failure (EINVAL for settings a tty cannot
// have, such as 4 data bits).
int applyLineSettings(int fd, const LineSettings& settings);

// Raw reads that return at once (VMIN = VTIME = 0), nothing else changed.
// Returns 0 or errno.
int setImmediateReads(int fd);

} // namespace comm::detail
