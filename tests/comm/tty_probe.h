// Looks at a tty's line settings from outside the component, through the
// kernel's termios2 (which also carries rates that have no Bnnn constant).
// Kept apart from <termios.h>, whose struct termios clashes with the kernel's.
#pragma once

#include <cstdint>

struct TtyLine {
    uint32_t outputRate = 0;
    uint32_t inputRate = 0; // 0: follows the output rate
    bool otherRate = false; // set through BOTHER
    int dataBits = 0;
    bool parityEnabled = false;
    bool parityOdd = false;
    bool markOrSpace = false; // CMSPAR
    bool twoStopBits = false;
    bool inputParityCheck = false;
    bool hardwareFlow = false; // CRTSCTS
    bool local = false;        // CLOCAL
    bool receiverOn = false;   // CREAD
    bool canonical = false;
    bool echo = false;
    bool outputProcessing = false;
    unsigned char vstart = 0;
    unsigned char vstop = 0;
    unsigned char vmin = 0;
    unsigned char vtime = 0;
};

// Throws std::runtime_error when the tty cannot be read.
TtyLine readTtyLine(int fd);
// Puts another rate on the line behind the component's back.
void forceTtyRate(int fd, uint32_t rate);
// Sets or clears CRTSCTS behind the component's back.
void forceHardwareFlow(int fd, bool on);
// The tty's exclusive-use flag (TIOCEXCL).
bool ttyExclusive(int fd);
