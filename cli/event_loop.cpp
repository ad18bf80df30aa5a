#include "cli/event_loop.h"

#include "session/device_session.h"

#include <algorithm>

namespace {

constexpr auto kFast = std::chrono::milliseconds(20); // TimerTimer
constexpr auto kSlow = std::chrono::seconds(1);       // Timer_sysTimer

// The next time of a timer that fired: one period on, or one period from now
// when the loop came too late (no burst of ticks to catch up).
EventLoop::Clock::time_point nextDue(EventLoop::Clock::time_point due,
                                     EventLoop::Clock::duration period,
                                     EventLoop::Clock::time_point now) {
    return due + period > now ? due + period : now + period;
}

} // namespace

void EventLoop::post(std::function<void()> call) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(std::move(call));
    }
    wake_.notify_one();
}

void EventLoop::add(DeviceSession& session) {
    sessions_.push_back({&session, std::nullopt, std::nullopt});
}

void EventLoop::remove(DeviceSession& session) {
    for (Ticked& t : sessions_) {
        if (t.session == &session) {
            t.session = nullptr; // dropped at the top of the next round
        }
    }
}

void EventLoop::syncTimers() {
    const auto now = Clock::now();
    for (Ticked& t : sessions_) {
        if (t.session == nullptr) {
            continue;
        }
        if (!t.session->tickNeeded()) {
            t.next20ms.reset();
        } else if (!t.next20ms) {
            t.next20ms = now + kFast;
        }
        if (!t.session->portTickNeeded()) {
            t.next1s.reset();
        } else if (!t.next1s) {
            t.next1s = now + kSlow;
        }
    }
}

void EventLoop::run(const std::function<bool()>& done, const std::function<void()>& afterEach,
                    const std::function<std::optional<Clock::time_point>()>& wakeBy) {
    // The front end's look at its sessions may start a timer (a watchdog for
    // a wait nothing else supervises): the timers follow it.
    auto settle = [&] {
        afterEach();
        syncTimers();
        return done();
    };
    if (settle()) {
        return;
    }
    for (;;) {
        std::erase_if(sessions_, [](const Ticked& t) { return t.session == nullptr; });
        // The earliest timer decides how long to sleep.
        auto now = Clock::now();
        std::optional<Clock::time_point> first;
        for (const Ticked& t : sessions_) {
            for (const auto& due : {t.next20ms, t.next1s}) {
                if (due && (!first || *due < *first)) {
                    first = due;
                }
            }
        }
        const std::optional<Clock::time_point> deadline = wakeBy ? wakeBy() : std::nullopt;
        if (deadline && (!first || *deadline < *first)) {
            first = deadline;
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            const auto posted = [&] { return !posted_.empty(); };
            if (first) {
                wake_.wait_until(lock, *first, posted);
            } else {
                wake_.wait(lock, posted);
            }
        }
        if (deadline && Clock::now() >= *deadline && settle()) {
            return;
        }
        // The port events first, one at a time, as the window's queue runs them.
        for (;;) {
            std::function<void()> call;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (posted_.empty()) {
                    break;
                }
                call = std::move(posted_.front());
                posted_.pop_front();
            }
            call();
            if (settle()) {
                return;
            }
        }
        // Then every timer that is due. A late timer fires once, as a QTimer
        // does, and goes on from now.
        now = Clock::now();
        for (std::size_t i = 0; i < sessions_.size(); ++i) {
            if (sessions_[i].session != nullptr && sessions_[i].next20ms &&
                *sessions_[i].next20ms <= now) {
                sessions_[i].next20ms = nextDue(*sessions_[i].next20ms, kFast, now);
                sessions_[i].session->tick20ms();
                if (settle()) {
                    return;
                }
            }
            if (sessions_[i].session != nullptr && sessions_[i].next1s &&
                *sessions_[i].next1s <= now) {
                sessions_[i].next1s = nextDue(*sessions_[i].next1s, kSlow, now);
                sessions_[i].session->tick1s();
                if (settle()) {
                    return;
                }
            }
        }
    }
}
