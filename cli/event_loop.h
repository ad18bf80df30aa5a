// The tool's event loop, without Qt: the serial ports' events come in
// through a dispatcher (a condition variable wakes the loop), and every session gets
// its 20 ms and 1 s ticks only while it says it needs them, as the window's
// two timers run. Several sessions share one loop, so the devices of a batch
// are served side by side in one thread.
#pragma once

#include "comm/dispatcher.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class DeviceSession;

class EventLoop : public comm::TMainThreadDispatcher {
  public:
    using Clock = std::chrono::steady_clock;

    EventLoop() = default;
    ~EventLoop() override = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // From any thread: the call runs on the loop's thread.
    void post(std::function<void()> call) override;

    // Ticks `session` from now on (its timers start as it asks for them).
    void add(DeviceSession& session);
    // Stops ticking it; the session may be destroyed afterwards.
    void remove(DeviceSession& session);

    // Runs posted calls and due ticks until `done()` is true after one of
    // them. `afterEach` runs after every call and tick (the front end looks
    // at its sessions there), and also at the time `wakeBy` gives, when it
    // gives one, even if nothing happened by then: no deadline of the front
    // end is missed by a loop that has nothing else to wait for.
    void run(const std::function<bool()>& done, const std::function<void()>& afterEach,
             const std::function<std::optional<Clock::time_point>()>& wakeBy = {});

  private:
    struct Ticked {
        DeviceSession* session;
        std::optional<Clock::time_point> next20ms;
        std::optional<Clock::time_point> next1s;
    };
    // Starts or stops each session's timers as it asks now.
    void syncTimers();
    void runPosted();

    std::mutex mutex_;
    // Signalled when a call is posted.
    std::condition_variable wake_;
    std::deque<std::function<void()>> posted_;
    std::vector<Ticked> sessions_;
};
