// The byte pump between one stream descriptor (a pseudo-terminal master or a
// TCP socket) and the device model: reads what the configurator sends, hands
// it to the device, writes the device's reply pieces back and what the device
// says unasked, and can charge both directions the wire time of a real line.
#pragma once

#include "sim/device.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace sim {

// Line-rate pacing. A pseudo-terminal moves bytes at once; a real line takes
// 10 bits a byte (start, 8 data, stop) at its baud rate, and the device needs
// a moment to process a command before it answers.
struct Pacing {
    unsigned baud = 0; // 0: no line-rate pacing
    std::chrono::microseconds processingDelay{0};

    bool paced() const { return baud > 0; }
    // The time `bytes` bytes occupy the line (zero without pacing).
    std::chrono::microseconds wireTime(std::size_t bytes) const;
};

// A nudge from another thread: "the device has something to send unasked".
class Wakeup {
  public:
    Wakeup(); // throws std::system_error when no eventfd can be had
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void notify() const;
    void drain() const;
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

// A stop request that may come from another thread or a signal handler.
class StopSignal {
  public:
    StopSignal(); // throws std::system_error when no eventfd can be had
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // Async-signal-safe.
    void request() const;
    bool requested() const;
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

struct StreamHandlers {
    // The device: bytes in, reply pieces out. Required.
    std::function<Reply(std::string_view)> feed;
    // Every byte read, as soon as it is read (before the device sees it).
    std::function<void(std::string_view)> received;
    // Every byte written, as soon as it is written.
    std::function<void(std::string_view)> sent;
    // What the device sends unasked; asked at the start, after every feed and
    // whenever `wakeup` is notified. Optional.
    std::function<Reply()> unsolicited;
    const Wakeup* wakeup = nullptr;
    // What the device says on its own clock (a prompt repeated until it is
    // answered): `periodic` is asked every `period()` for as long as that is
    // above zero. Optional.
    std::function<std::chrono::milliseconds()> period;
    std::function<Reply()> periodic;
    // True when the device wants the connection closed once its replies are
    // out. Optional.
    std::function<bool()> closing;
};

enum class StreamEnd {
    Stopped,    // the stop signal was raised
    PeerClosed, // end of stream or hang-up
    Closed,     // the device closed the stream itself (see StreamHandlers::closing)
    Failed      // a read, write or poll error; see the error text
};

// Runs until stopped, closed or failed. `fd` must be non-blocking.
StreamEnd runStream(int fd, const StreamHandlers& handlers, const Pacing& pacing,
                    const StopSignal& stop, std::string* error);

} // namespace sim
