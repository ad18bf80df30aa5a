#include "sim/stream_loop.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace sim {

using Clock = std::chrono::steady_clock;

std::chrono::microseconds Pacing::wireTime(std::size_t bytes) const {
    if (baud == 0) {
        return std::chrono::microseconds{0};
    }
    // 10 bits a byte; rounded up so that a paced line is never faster than a real one.
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes) * 10u;
    return std::chrono::microseconds{(bits * 1'000'000u + baud - 1) / baud};
}

Wakeup::Wakeup() {
    fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

Wakeup::~Wakeup() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Wakeup::notify() const {
    const std::uint64_t one = 1;
    // Fails only when the counter is at its limit, i.e. already notified.
    [[maybe_unused]] const auto n = ::write(fd_, &one, sizeof one);
}

void Wakeup::drain() const {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto n = ::read(fd_, &count, sizeof count);
}

StopSignal::StopSignal() {
    fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

StopSignal::~StopSignal() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void StopSignal::request() const {
    const std::uint64_t one = 1;
    // Nothing useful can be done about a failure inside a signal handler; the
    // counter only fails when it is already raised to its limit.
    [[maybe_unused]] const auto n = ::write(fd_, &one, sizeof one);
}

bool StopSignal::requested() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

namespace {

struct Timed {
    std::string bytes;
    Clock::time_point due;
};

std::string errnoText(const char* what, int err) {
    return std::string(what) + ": " + std::strerror(err);
}

} // namespace

StreamEnd runStream(int fd, const StreamHandlers& handlers, const Pacing& pacing,
                    const StopSignal& stop, std::string* error) {
    std::deque<Timed> incoming; // read, not yet seen by the device (wire time pending)
    std::deque<Timed> outgoing; // reply pieces waiting for their time or for room
    std::size_t outOffset = 0;  // bytes of outgoing.front() already written
    bool waitWritable = false;
    auto rxLineFree = Clock::time_point{};
    auto txLineFree = Clock::time_point{};
    std::optional<Clock::time_point> nextPeriodic;
    char buffer[4096];

    auto fail = [&](std::string text) {
        if (error) {
            *error = std::move(text);
        }
        return StreamEnd::Failed;
    };

    // A socket whose peer has gone must not raise SIGPIPE in a test program.
    struct stat st {};
    const bool isSocket = ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
    auto writeSome = [&](const char* data, std::size_t size) {
        return isSocket ? ::send(fd, data, size, MSG_NOSIGNAL) : ::write(fd, data, size);
    };

    auto queue = [&](const Reply& reply, Clock::time_point at) {
        for (const auto& piece : reply) {
            at += piece.delayBefore;
            // A piece arrives once its last byte has crossed the line.
            at = std::max(at, txLineFree) + pacing.wireTime(piece.bytes.size());
            txLineFree = at;
            outgoing.push_back({piece.bytes, at});
        }
    };
    auto takeUnsolicited = [&](Clock::time_point now) {
        if (handlers.unsolicited) {
            queue(handlers.unsolicited(), now);
        }
    };
    takeUnsolicited(Clock::now());

    for (;;) {
        auto now = Clock::now();

        // Hand the device what has fully crossed the line, and queue its answer.
        while (!incoming.empty() && incoming.front().due <= now) {
            const Reply reply = handlers.feed(incoming.front().bytes);
            incoming.pop_front();
            queue(reply, now + pacing.processingDelay);
            takeUnsolicited(now);
        }

        // What the device says on its own clock.
        if (handlers.period && handlers.periodic) {
            const auto period = handlers.period();
            if (period.count() <= 0) {
                nextPeriodic.reset();
            } else if (!nextPeriodic) {
                nextPeriodic = now + period;
            } else if (*nextPeriodic <= now) {
                queue(handlers.periodic(), now);
                nextPeriodic = now + period;
            }
        }

        // Write what is due.
        while (!outgoing.empty() && outgoing.front().due <= now) {
            const std::string& bytes = outgoing.front().bytes;
            const ssize_t n = writeSome(bytes.data() + outOffset, bytes.size() - outOffset);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    waitWritable = true;
                    break;
                }
                if (errno == EIO || errno == EPIPE || errno == ECONNRESET) {
                    return StreamEnd::PeerClosed;
                }
                return fail(errnoText("write", errno));
            }
            waitWritable = false;
            if (handlers.sent && n > 0) {
                handlers.sent(
                    std::string_view(bytes).substr(outOffset, static_cast<std::size_t>(n)));
            }
            outOffset += static_cast<std::size_t>(n);
            if (outOffset == bytes.size()) {
                outgoing.pop_front();
                outOffset = 0;
            }
        }

        if (outgoing.empty() && handlers.closing && handlers.closing()) {
            return StreamEnd::Closed;
        }

        // Sleep until input, room to write, the next due time or a stop.
        std::optional<Clock::time_point> wake;
        if (!incoming.empty()) {
            wake = incoming.front().due;
        }
        if (!outgoing.empty() && !waitWritable) {
            wake = wake ? std::min(*wake, outgoing.front().due) : outgoing.front().due;
        }
        if (nextPeriodic) {
            wake = wake ? std::min(*wake, *nextPeriodic) : *nextPeriodic;
        }
        int timeoutMs = -1;
        if (wake) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
        }
        pollfd fds[3] = {{stop.fd(), POLLIN, 0},
                         {fd, static_cast<short>(POLLIN | (waitWritable ? POLLOUT : 0)), 0},
                         {handlers.wakeup ? handlers.wakeup->fd() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 3, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errnoText("poll", errno));
        }
        if (fds[0].revents & POLLIN) {
            return StreamEnd::Stopped;
        }
        if (fds[2].revents & POLLIN) {
            handlers.wakeup->drain();
            takeUnsolicited(Clock::now());
        }
        if (fds[1].revents & POLLOUT) {
            waitWritable = false;
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                std::string bytes(buffer, static_cast<std::size_t>(n));
                if (handlers.received) {
                    handlers.received(bytes);
                }
                now = Clock::now();
                auto due = now;
                if (pacing.paced()) {
                    // The last byte of what was read only now finished crossing
                    // the line, if the line was busy before.
                    due = std::max(now, rxLineFree) + pacing.wireTime(bytes.size());
                    rxLineFree = due;
                }
                incoming.push_back({std::move(bytes), due});
            } else if (n == 0) {
                return StreamEnd::PeerClosed;
            } else if (errno == EIO || errno == ECONNRESET) {
                return StreamEnd::PeerClosed;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                return fail(errnoText("read", errno));
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return StreamEnd::PeerClosed;
        }
    }
}

} // namespace sim
