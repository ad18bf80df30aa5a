#include "comm/comm_event_thread.h"

#include <array>
#include <cerrno>
#include <condition_variable>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

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

namespace {

// While a write drains, the kernel tells nobody when the output queue
// becomes empty; the thread looks at TIOCOUTQ this often until it is.
constexpr int kDrainCheckMs = 10;

struct EventBit {
    TCommEventType type;
    uint32_t bit;
};
constexpr std::array<EventBit, 9> kEventBits{{{evBreak, EV_BREAK},
                                              {evCts, EV_CTS},
                                              {evDsr, EV_DSR},
                                              {evError, EV_ERR},
                                              {evRing, EV_RING},
                                              {evRlsd, EV_RLSD},
                                              {evRxChar, EV_RXCHAR},
                                              {evRxFlag, EV_RXFLAG},
                                              {evTxEmpty, EV_TXEMPTY}}};

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

uint32_t TCommEventThread::MaskOf(TCommEventTypes events) {
    uint32_t mask = 0;
    for (const EventBit& e : kEventBits) {
        if (events.Contains(e.type)) {
            mask += e.bit;
        }
    }
    return mask;
}

TCommEventThread::TCommEventThread(int portHandle, uint32_t suspendTime,
                                   TCommEventTypes monitorEvents,
                                   comm::TMainThreadDispatcher* dispatcher)
    : portHandle_(portHandle), suspendTime_(suspendTime), waitMask_(MaskOf(monitorEvents)),
      dispatcher_(dispatcher), gate_(std::make_shared<comm::detail::DeliveryGate>()) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        throwErrno("eventfd");
    }
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0) {
        int err = errno;
        ::close(wakeFd_);
        errno = err;
        throwErrno("epoll_create1");
    }
    // The port is watched edge-triggered: a wake-up for every arrival of new
    // bytes, none for bytes that sit unread while the window's thread has
    // not got round to them. A hang-up is always reported.
    epoll_event port{};
    port.events = EPOLLIN | EPOLLET;
    port.data.fd = portHandle_;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wakeFd_;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, portHandle_, &port) != 0 ||
        ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &wake) != 0) {
        int err = errno;
        ::close(epollFd_);
        ::close(wakeFd_);
        errno = err;
        throwErrno("epoll_ctl");
    }
}

TCommEventThread::~TCommEventThread() {
    Stop();
    ::close(epollFd_);
    ::close(wakeFd_);
}

void TCommEventThread::Resume() {
    if (!thread_.joinable()) {
        running_ = true;
        thread_ = std::thread([this] { Execute(); });
    }
}

void TCommEventThread::Stop() {
    gate_->stop();
    stopRequested_ = true;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    std::call_once(joinOnce_, [this] {
        if (thread_.joinable()) {
            thread_.join();
        }
    });
}

void TCommEventThread::NotifyWritten() {
    if ((waitMask_ & EV_TXEMPTY) == 0) {
        return;
    }
    txPending_ = true;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

std::exception_ptr TCommEventThread::FatalException() const {
    return gate_->error();
}

std::thread::native_handle_type TCommEventThread::NativeHandle() {
    return thread_.native_handle();
}

bool TCommEventThread::Deliver(std::function<void()> call) {
    uint64_t seq = gate_->next();
    if (seq == 0) {
        return false;
    }
    dispatcher_->post([gate = gate_, seq, call = std::move(call)] { gate->run(seq, call); });
    return gate_->waitDone(seq);
}

void TCommEventThread::Execute() {
    pthread_setname_np(pthread_self(), "comm-events");
    bool portWatched = true;
    while (!stopRequested_) {
        int timeoutMs = portWatched && txPending_ ? kDrainCheckMs : -1;
        std::array<epoll_event, 2> events{};
        int n = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()), timeoutMs);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break; // the wait itself is broken; looping would spin
        }
        if (stopRequested_) {
            break;
        }

        bool rxArrived = false;
        bool lost = false;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == wakeFd_) {
                uint64_t count = 0;
                [[maybe_unused]] ssize_t r = ::read(wakeFd_, &count, sizeof count);
            } else if ((events[i].events & (EPOLLHUP | EPOLLERR)) != 0) {
                lost = true;
            } else if ((events[i].events & EPOLLIN) != 0) {
                rxArrived = true;
            }
        }
        if (!portWatched) {
            continue; // after a hang-up only a stop is awaited
        }

        uint32_t mask = 0;
        if (rxArrived) {
            mask |= waitMask_ & EV_RXCHAR;
        }
        if (!lost && txPending_) {
            int queued = 0;
            if (::ioctl(portHandle_, TIOCOUTQ, &queued) != 0) {
                lost = errno == EIO;
                txPending_ = false;
            } else if (queued == 0) {
                txPending_ = false;
                mask |= waitMask_ & EV_TXEMPTY;
            }
        }

        if (lost) {
            // Stop watching the port for good: a hung-up tty polls ready for
            // ever, and the owner decides when to close it.
            ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, portHandle_, nullptr);
            portWatched = false;
            txPending_ = false;
            if (LineLostTarget && !Deliver(LineLostTarget)) {
                break;
            }
            continue;
        }
        if (mask != 0) {
            eventMask_ = mask;
            // The closure owns a copy of the target: a handler may close the
            // port, and Close ends this thread object while the closure runs.
            bool delivered = true;
            if (EventTarget) {
                delivered =
                    Deliver([target = EventTarget, self = this, mask] { target(self, mask); });
            }
            if (!delivered) {
                break;
            }
        }
    }
    running_ = false;
}
