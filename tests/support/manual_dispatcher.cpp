#include "manual_dispatcher.h"

#include <chrono>

void ManualDispatcher::post(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> lock(m_);
        queue_.push_back(std::move(call));
        ++posted_;
    }
    cv_.notify_all();
}

int ManualDispatcher::runPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> lock(m_);
        batch.swap(queue_);
    }
    int ran = 0;
    for (auto& call : batch) {
        call();
        ++ran;
    }
    return ran;
}

bool ManualDispatcher::runUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        runPending();
        if (pred()) {
            return true;
        }
        std::unique_lock<std::mutex> lock(m_);
        // Wake for a new call, or now and then to look at the predicate,
        // which may depend on things other than posted calls.
        auto until =
            std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
        cv_.wait_until(lock, until, [&] { return !queue_.empty(); });
        if (queue_.empty() && std::chrono::steady_clock::now() >= deadline) {
            lock.unlock();
            return pred();
        }
    }
}

bool ManualDispatcher::waitForPost(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return !queue_.empty(); });
}

std::size_t ManualDispatcher::pendingCount() const {
    std::lock_guard<std::mutex> lock(m_);
    return queue_.size();
}

std::size_t ManualDispatcher::postedCount() const {
    std::lock_guard<std::mutex> lock(m_);
    return posted_;
}
