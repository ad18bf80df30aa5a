// What the component's portable part (tcomm.cpp) and its platform part
// (tcomm_posix.cpp, tcomm_win.cpp) share: the state the event thread and
// other threads see. Not for use outside the component.
#pragma once

#include "comm/comm_event_thread.h"
#include "comm/tcomm.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

struct TThreadComm::Shared {
    std::atomic<bool> portOpen{false};
    std::atomic<bool> outputSuspended{false};
    // Counts closes, so that a handler that closes the port stops the
    // remaining handlers of the same event.
    std::atomic<uint64_t> closeCount{0};
    std::unique_ptr<TCommEventThread> eventThread;
    // Re-entrant: a handler on the window's thread may call back in.
    std::recursive_mutex portLock;
    // Windows: the events of the read and the write overlapped records
    // (manual reset), made with the first open and kept until the component
    // goes; unused elsewhere.
    std::intptr_t readEvent = 0;
    std::intptr_t writeEvent = 0;
};

namespace comm::detail {
// The rate in bits per second of each TBaudRate member, in order.
inline constexpr uint32_t kRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                      19200, 38400, 56000, 57600, 115200, 128000, 256000};
inline constexpr int kRateCount = static_cast<int>(sizeof kRates / sizeof kRates[0]);

// Every event a port can report; CreateHandle watches them all until the
// event thread narrows the mask to the monitored ones.
inline constexpr uint32_t kAllEvents =
    EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;

// A read that finds nothing queued waits at most this long.
inline constexpr int kReadWaitMs = 1000;
} // namespace comm::detail
