// The serial port's event thread: the port's own business, for tcomm.cpp
// and for tests and benches that look at the thread itself.
#pragma once

#include "comm/dispatcher.h"
#include "comm/tcomm.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace comm::detail {
class DeliveryGate;
}

// The thread that waits for port events and runs each one on the window's
// thread through the dispatcher, blocking until it has run there or the port
// has been closed.
class TCommEventThread {
  public:
    // The event mask watched for a set of events: the sum of their bits.
    static uint32_t MaskOf(TCommEventTypes events);

    // Prepares the wait (Linux: epoll and the wake-up eventfd; Windows: the
    // port's event mask, SetCommMask, and the stop event); the thread starts
    // with Resume. Throws std::system_error when the system refuses.
    TCommEventThread(std::intptr_t portHandle, uint32_t suspendTime, TCommEventTypes monitorEvents,
                     comm::TMainThreadDispatcher* dispatcher);
    ~TCommEventThread();
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;

    // Where events go, on the window's thread: (sender = this thread, mask).
    std::function<void(void* sender, uint32_t mask)> EventTarget;
    // Called once, on the window's thread, when the port hangs up.
    std::function<void()> LineLostTarget;

    void Resume();
    // Cancels a delivery that has not run yet, waits for one that is running
    // on another thread, wakes the thread and joins it. Never blocks on the
    // window's thread; safe to call from a handler.
    void Stop();
    // A Write has queued output: check for EV_TXEMPTY.
    void NotifyWritten();
    // A Read or a purge has taken input: bytes queued from now on are new
    // (Windows, where the thread compares the input queue with what it
    // last announced; nothing on Linux).
    void NotifyRead();

    uint32_t EventMask() const { return eventMask_.load(); }
    uint32_t WaitMask() const { return waitMask_; }
    uint32_t SuspendTime() const { return suspendTime_; }
    bool Running() const { return running_.load(); }
    // The error a handler raised; it ended the thread's run.
    std::exception_ptr FatalException() const;
    std::thread::native_handle_type NativeHandle();

  private:
    void Execute();
    bool Deliver(std::function<void()> call);

    // The platform's part: make the wait ready (may throw), wake the thread
    // from it (for Stop), and free what the wait used.
    void PrepareWait();
    void Wake();
    void ReleaseWait();

    std::intptr_t portHandle_;
    uint32_t suspendTime_;
    uint32_t waitMask_;
    comm::TMainThreadDispatcher* dispatcher_;
    // Linux: the wake-up eventfd and the epoll descriptor. Windows: the
    // stop event, and wait_ unused.
    std::intptr_t wake_ = -1;
    std::intptr_t wait_ = -1;
    std::atomic<uint32_t> eventMask_{0};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> txPending_{false};
    std::atomic<bool> inputTaken_{false};
    std::atomic<bool> running_{false};
    std::shared_ptr<comm::detail::DeliveryGate> gate_;
    std::once_flag joinOnce_;
    std::thread thread_;
};
