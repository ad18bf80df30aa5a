#include "pty_pair.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

void makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &t);
    }
}

} // namespace

PtyPair::PtyPair() {
    char name[256] = {};
    if (::openpty(&master, &slaveFd, name, nullptr, nullptr) != 0) {
        throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    }
    slavePath = name;
    makeRaw(master);
    makeRaw(slaveFd);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
    closeSlave();
    closeMaster();
}

bool PtyPair::writeMaster(std::string_view bytes, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        int left = msLeft(deadline);
        if (left == 0) {
            return false;
        }
        pollfd p{master, POLLOUT, 0};
        ::poll(&p, 1, left);
    }
    return true;
}

std::string PtyPair::readMaster(std::size_t count, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string out;
    char buf[4096];
    while (out.size() < count) {
        std::size_t want = std::min(sizeof buf, count - out.size());
        ssize_t n = ::read(master, buf, want);
        if (n > 0) {
            out.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        int left = msLeft(deadline);
        if (left == 0) {
            break;
        }
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, left);
    }
    return out;
}

std::string PtyPair::drainMaster(int waitMs, int quietMs) {
    std::string out;
    char buf[4096];
    int wait = waitMs;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0 || (p.revents & POLLIN) == 0) {
            break;
        }
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
        wait = quietMs;
    }
    return out;
}

void PtyPair::closeMaster() {
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
}

void PtyPair::closeSlave() {
    if (slaveFd >= 0) {
        ::close(slaveFd);
        slaveFd = -1;
    }
}
