// A dispatcher for tests: calls posted from any thread wait in a queue until
// the test's own thread (playing the window's thread) runs them.
#pragma once

#include "comm/dispatcher.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

class ManualDispatcher : public comm::TMainThreadDispatcher {
  public:
    void post(std::function<void()> call) override;

    // Runs the calls queued now on the calling thread; calls they post wait
    // for the next round. Returns how many ran.
    int runPending();
    // Runs queued calls as they come until pred() holds; false when it still
    // does not after timeoutMs.
    bool runUntil(const std::function<bool()>& pred, int timeoutMs);
    // Waits (running nothing) until at least one call is queued.
    bool waitForPost(int timeoutMs);
    std::size_t pendingCount() const;
    // Every call ever posted.
    std::size_t postedCount() const;

  private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    std::size_t posted_ = 0;
};
