// The link flags, counters and choices of the main window. Only the window's
// thread reads and writes them.
#pragma once

#include <cstdint>
#include <string>

struct LinkState {
    std::uint8_t quietTicks = 15; // reload of rxCountdown: 15 normally, 5 for writes and firmware
    std::uint8_t rxCountdown = 0; // receive quiet-time countdown in 20 ms ticks
    std::uint32_t rxCount = 0;    // bytes announced since the last analysis, at most 1024
    bool portReady = false;       // the chosen serial port is open for the link
    bool linkUp = false;          // the device answered the greeting on the serial port
    bool remoteConnected = false; // a device is linked over any transport
    bool directDevice = true;     // commands go to the serial port
    bool dialing = false;         // a modem call has been started
    bool debugMode = false;       // diagnostic mode: sent and received text goes to the log
    bool bootloaderMode = false;  // the firmware page is active
    std::uint32_t replyTimer = 0; // reply watchdog in ticks, 0 = idle
    std::uint32_t bootTimer = 0;  // bootloader watchdog in ticks, 0 = idle
    std::string portName;         // as the user named it: "COM1", "ttyUSB0" or a full path
    std::uint8_t baudIndex = 12;  // index into the baud-rate list, 12 = 115200
    std::uint32_t serverPort = 2020;
    std::string deviceName = "\"Велиран\"";
};

// The receive analysis buffer holds at most this many bytes of one chunk.
inline constexpr std::uint32_t kRxBufferSize = 1024;
