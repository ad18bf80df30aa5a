// The event thread's wait on a Linux tty: epoll on the port and on an
// eventfd that wakes it.
#include "comm/comm_event_thread.h"

#include "comm/delivery_gate.h"

#include <array>
#include <cerrno>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

namespace {

// While a write drains, the kernel tells nobody when the output queue
// becomes empty; the thread looks at TIOCOUTQ this often until it is.
constexpr int kDrainCheckMs = 10;

[[noreturn]] void throwErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

void TCommEventThread::PrepareWait() {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        throwErrno("eventfd");
    }
    wait_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (wait_ < 0) {
        int err = errno;
        ::close(wake_);
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
    wake.data.fd = wake_;
    if (::epoll_ctl(wait_, EPOLL_CTL_ADD, portHandle_, &port) != 0 ||
        ::epoll_ctl(wait_, EPOLL_CTL_ADD, wake_, &wake) != 0) {
        int err = errno;
        ::close(wait_);
        ::close(wake_);
        errno = err;
        throwErrno("epoll_ctl");
    }
}

void TCommEventThread::ReleaseWait() {
    ::close(wait_);
    ::close(wake_);
}

void TCommEventThread::Wake() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(static_cast<int>(wake_), &one, sizeof one);
}

void TCommEventThread::NotifyWritten() {
    if ((waitMask_ & EV_TXEMPTY) == 0) {
        return;
    }
    txPending_ = true;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
}

void TCommEventThread::NotifyRead() {
    // The wait is edge-triggered: only new bytes wake it.
}

void TCommEventThread::Execute() {
    pthread_setname_np(pthread_self(), "comm-events");
    bool portWatched = true;
    while (!stopRequested_) {
        int timeoutMs = portWatched && txPending_ ? kDrainCheckMs : -1;
        std::array<epoll_event, 2> events{};
        int n = ::epoll_wait(wait_, events.data(), static_cast<int>(events.size()), timeoutMs);
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
            if (events[i].data.fd == wake_) {
                uint64_t count = 0;
                [[maybe_unused]] ssize_t r = ::read(wake_, &count, sizeof count);
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
            ::epoll_ctl(wait_, EPOLL_CTL_DEL, portHandle_, nullptr);
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
