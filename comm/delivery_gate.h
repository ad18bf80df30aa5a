// The hand-over of one port event to the window's thread, for the event
// thread's files alone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace comm::detail {

// The hand-over of one event to the window's thread. The event thread posts
// a closure and waits here until the closure has run or the port has been
// closed. Closures outlive the thread (they may sit in the window's queue
// after Close), so they hold the gate, never the thread or the component;
// once stopped, a closure that runs late does nothing.
class DeliveryGate {
  public:
    // Event thread: the delivery is queued; wait until it has run or the
    // gate is stopped. True when it ran without raising.
    bool waitDone(uint64_t seq) {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return stopped_ || completed_ >= seq; });
        return !stopped_ && !error_;
    }

    // Event thread: the number of the next delivery, or 0 when stopped.
    uint64_t next() {
        std::lock_guard<std::mutex> lock(m_);
        return stopped_ ? 0 : ++posted_;
    }

    // Window's thread: run the delivery unless the port has been closed.
    void run(uint64_t seq, const std::function<void()>& call) {
        {
            std::lock_guard<std::mutex> lock(m_);
            if (stopped_) {
                return;
            }
            running_ = true;
            runner_ = std::this_thread::get_id();
        }
        std::exception_ptr error;
        try {
            call();
        } catch (...) {
            // An exception must not cross the window's event loop; it goes
            // back to the event thread and ends its run.
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(m_);
        running_ = false;
        completed_ = seq;
        if (error && !error_) {
            error_ = error;
        }
        cv_.notify_all();
    }

    // Any thread: no delivery runs from now on. Waits for one that is
    // running on another thread; the window's thread itself (Close from a
    // handler) does not wait for its own handler.
    void stop() {
        std::unique_lock<std::mutex> lock(m_);
        stopped_ = true;
        cv_.notify_all();
        if (running_ && runner_ != std::this_thread::get_id()) {
            cv_.wait(lock, [&] { return !running_; });
        }
    }

    std::exception_ptr error() const {
        std::lock_guard<std::mutex> lock(m_);
        return error_;
    }

  private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool stopped_ = false;
    bool running_ = false;
    std::thread::id runner_;
    uint64_t posted_ = 0;
    uint64_t completed_ = 0;
    std::exception_ptr error_;
};

} // namespace comm::detail
