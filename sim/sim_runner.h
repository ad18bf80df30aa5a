// The simulator in-process: the device on a pseudo-terminal, or connected out
// to a TCP server, served by a background thread. The program vxrt7-sim is
// this plus signal handling; tests may use either.
#pragma once

#include "sim/device.h"
#include "sim/pty_transport.h"
#include "sim/stream_loop.h"
#include "sim/tcp_transport.h"
#include "sim/trace_file.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class SimRunner {
  public:
    struct Options {
        DeviceState state;
        Faults faults;
        Pacing pacing;
        std::string linkPath;   // empty: no link
        std::string traceIn;    // empty: no trace file of received bytes
        std::string traceOut;   // empty: no trace file of sent bytes
        bool keepRecord = true; // keep received and sent bytes in memory
        // TCP mode: connect to this server instead of opening a terminal.
        std::optional<TcpTarget> tcp;
        // TCP mode: when the connection cannot be made or ends, connect again
        // after this long; zero: the runner ends instead (running() false).
        std::chrono::milliseconds retry{0};
        // Sent once, `sayDelay` after the device is linked (empty: nothing).
        std::string sayAfterLink;
        std::chrono::milliseconds sayDelay{500};
    };

    SimRunner();
    explicit SimRunner(Options options);
    ~SimRunner(); // stops
    SimRunner(const SimRunner&) = delete;
    SimRunner& operator=(const SimRunner&) = delete;

    // Opens the pseudo-terminal (and link, and trace files) and starts serving;
    // in TCP mode starts connecting. Throws std::runtime_error with the
    // reason; nothing is left running then.
    void start();
    // Stops serving, joins the thread, closes the terminal or the connection,
    // removes the link. Idempotent.
    void stop();

    // True from start() until stop(), until the loop failed, or (TCP without
    // retry) until the connection ended.
    bool running() const;
    // Why the loop ended on its own (empty while it runs, after stop(), and
    // when the configurator ended the TCP link).
    std::string failure() const;
    // Waits until running() is false.
    bool waitEnded(std::chrono::milliseconds timeout) const;

    // The terminal the configurator opens (empty in TCP mode).
    std::string slavePath() const { return slavePath_; }
    // TCP mode: connections made so far, and waiting for the n-th.
    int connections() const;
    bool waitConnections(int n, std::chrono::milliseconds timeout) const;

    // Sends text at once, unasked (e.g. "BUSY", "Trevoga", "+KEY...").
    void say(const std::string& text);
    // A copy of what the device holds now.
    DeviceState snapshot() const;

    // Everything received and sent so far, in order (when keepRecord).
    std::string received() const;
    std::string sent() const;
    // The writes to the line one by one, as the device made them.
    std::vector<std::string> sentWrites() const;
    void clearRecord();

    // Wait until at least `bytes` bytes were received / sent in total.
    bool waitForReceived(std::size_t bytes, std::chrono::milliseconds timeout) const;
    bool waitForSent(std::size_t bytes, std::chrono::milliseconds timeout) const;

    // Runs `f` on the device with the device locked against the serving
    // thread, e.g. to switch on a fault or look at the state.
    template <class F> decltype(auto) withDevice(F&& f) {
        std::lock_guard lock(mutex_);
        return f(device_);
    }

  private:
    void serve();
    StreamHandlers handlers();
    bool serveTcp(const StreamHandlers& handlers, std::string* error);
    void record(std::string_view bytes, bool in);

    Options options_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SimDevice device_;
    std::string received_;
    std::string sent_;
    std::vector<std::string> sentWrites_;
    std::string failure_;
    bool running_ = false;
    int connections_ = 0;

    std::unique_ptr<StopSignal> stop_;
    std::unique_ptr<Wakeup> wakeup_;
    bool traceInBroken_ = false;
    bool traceOutBroken_ = false;
    std::unique_ptr<PtyTransport> pty_;
    TraceFile traceIn_;
    TraceFile traceOut_;
    std::string slavePath_;
    std::thread thread_;
};

} // namespace sim
