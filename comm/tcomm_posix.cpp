// The serial port component on a Linux tty (the mapping is in tcomm.h):
// the device handle, the line settings, reading and writing, the queues and
// the modem lines.
#include "comm/tcomm.h"

#include "comm/comm_event_thread.h"
#include "comm/line_settings.h"
#include "comm/tcomm_shared.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using comm::detail::kAllEvents;
using comm::detail::kReadWaitMs;

constexpr int kWriteSlackMs = 2000;

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

} // namespace

void TThreadComm::CreateHandle() {
    lastOpenError_ = 0;
    lastOpenHolder_.clear();
    int fd = ::open(deviceName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastOpenError_ = errno;
        return;
    }
    portHandle_ = fd;
    shared_->portOpen = true;

    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
        lastOpenError_ = ENOTTY;
        DestroyHandle();
        return;
    }
    // Exclusive use, for every user: flock keeps out the programs that take
    // it and TIOCEXCL those that open later, but a program that already has
    // the terminal open without a lock passes both when we are root (and
    // TIOCEXCL does not stop a root one either). So such a program holds it
    // too. Its own descriptor keeps the line up, so this open and close of
    // ours changes nothing for it.
    if (std::string holder = comm::otherHolder(deviceName_); !holder.empty()) {
        lastOpenError_ = EWOULDBLOCK;
        lastOpenHolder_ = std::move(holder);
        DestroyHandle();
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        lastOpenError_ = errno == EBUSY ? EWOULDBLOCK : errno;
        DestroyHandle();
        return;
    }
    exclusiveSet_ = true;
    // Output that another program stopped (XOFF, tcflow) stays stopped
    // across opens: start it again.
    ::tcflow(fd, TCOON);
    commMask_ = kAllEvents;
}

void TThreadComm::DestroyHandle() {
    if (portHandle_ >= 0) {
        // What this component did to the tty outlives the descriptor while
        // anyone else keeps the tty open (a pseudo-terminal's other end, the
        // next program): undo it. Exclusive use only when it was ours (a
        // refused open must not free the owner's port); held output and a
        // break left on would jam the line for whoever comes next.
        if (shared_->outputSuspended) {
            ::tcflow(portHandle_, TCOON);
        }
        if (breakOn_) {
            ::ioctl(portHandle_, TIOCCBRK);
        }
        if (exclusiveSet_) {
            ::ioctl(portHandle_, TIOCNXCL);
        }
        ::close(portHandle_);
    }
    portHandle_ = -1;
    shared_->portOpen = false;
    exclusiveSet_ = false;
    shared_->outputSuspended = false;
    breakOn_ = false;
}

// The queue sizes are only a recommendation to the driver, and a tty's
// queues are fixed; what is left of the call is making sure the descriptor
// is a working tty.
int TThreadComm::SetupComm() {
    termios t{};
    if (::tcgetattr(portHandle_, &t) != 0) {
        return errno;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Reading and writing

int32_t TThreadComm::WriteLocked(const void* buf, uint32_t count) {
    const auto* bytes = static_cast<const unsigned char*>(buf);
    // The write gives up after its time-out (so many ms a byte at slow
    // rates) plus kWriteSlackMs: a line held by flow control or a device
    // that stopped reading must not hold the window's thread for ever.
    const uint32_t perByte = commTimeouts_.WriteTotalTimeoutMultiplier;
    const auto deadline =
        Clock::now() +
        std::chrono::milliseconds(uint64_t{perByte} * count +
                                  commTimeouts_.WriteTotalTimeoutConstant + kWriteSlackMs);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::write(portHandle_, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            break; // the line failed (EIO after a hang-up): report what went
        }
        // The driver is full: wait until it takes more.
        const int waitMs = msLeft(deadline);
        if (waitMs == 0) {
            break;
        }
        pollfd p{static_cast<int>(portHandle_), POLLOUT, 0};
        int r = ::poll(&p, 1, waitMs);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            break;
        }
    }
    if (done > 0 && shared_->eventThread) {
        shared_->eventThread->NotifyWritten();
    }
    return static_cast<int32_t>(done);
}

int32_t TThreadComm::ReadLocked(void* buf, uint32_t count) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReadWaitMs);
    for (;;) {
        ssize_t n = ::read(portHandle_, buf, count);
        if (n > 0) {
            return static_cast<int32_t>(n);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return 0;
        }
        // Nothing queued: wait for the first bytes, at most the read time-out.
        int waitMs = msLeft(deadline);
        if (waitMs == 0) {
            return 0;
        }
        pollfd p{static_cast<int>(portHandle_), POLLIN, 0};
        int r = ::poll(&p, 1, waitMs);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return 0;
        }
        if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            // A hung-up line polls readable for ever and reads nothing:
            // take what may be left and stop waiting.
            n = ::read(portHandle_, buf, count);
            return n > 0 ? static_cast<int32_t>(n) : 0;
        }
    }
}

void TThreadComm::PurgeIn() {
    if (shared_->portOpen) {
        ::tcflush(portHandle_, TCIFLUSH);
    }
}

void TThreadComm::PurgeOut() {
    if (shared_->portOpen) {
        ::tcflush(portHandle_, TCOFLUSH);
    }
}

// ---------------------------------------------------------------------------
// Status and line control

bool TThreadComm::ClearCommError(int32_t* errors, TComStat* stat) {
    // Linux keeps no line error flags to report or clear.
    if (errors != nullptr) {
        *errors = 0;
    }
    TComStat s;
    bool ok = true;
    int in = 0;
    int out = 0;
    if (portHandle_ < 0 || ::ioctl(portHandle_, TIOCINQ, &in) != 0 ||
        ::ioctl(portHandle_, TIOCOUTQ, &out) != 0) {
        ok = false;
        in = 0;
        out = 0;
    }
    s.cbInQue = static_cast<uint32_t>(std::max(in, 0));
    s.cbOutQue = static_cast<uint32_t>(std::max(out, 0));
    s.fXoffHold = shared_->outputSuspended;
    if (stat != nullptr) {
        *stat = s;
    }
    return ok;
}

int TThreadComm::EscapeFunction(int32_t code) {
    int rc = -1;
    int line = 0;
    switch (code) {
    case SETXOFF:
        rc = ::tcflow(portHandle_, TCOOFF);
        if (rc == 0) {
            shared_->outputSuspended = true;
        }
        break;
    case SETXON:
        rc = ::tcflow(portHandle_, TCOON);
        if (rc == 0) {
            shared_->outputSuspended = false;
        }
        break;
    case SETRTS:
    case CLRRTS:
        line = TIOCM_RTS;
        rc = ::ioctl(portHandle_, code == SETRTS ? TIOCMBIS : TIOCMBIC, &line);
        break;
    case SETDTR:
    case CLRDTR:
        line = TIOCM_DTR;
        rc = ::ioctl(portHandle_, code == SETDTR ? TIOCMBIS : TIOCMBIC, &line);
        break;
    case SETBREAK:
        rc = ::ioctl(portHandle_, TIOCSBRK);
        if (rc == 0) {
            breakOn_ = true;
        }
        break;
    case CLRBREAK:
        rc = ::ioctl(portHandle_, TIOCCBRK);
        if (rc == 0) {
            breakOn_ = false;
        }
        break;
    default:
        errno = EINVAL;
        break; // no such function on a tty (RESETDEV included)
    }
    return rc != 0 ? errno : 0;
}

void TThreadComm::PurgeAll() {
    ::tcflush(portHandle_, TCIOFLUSH);
}

int TThreadComm::ApplyCommTimeouts(const TCommTimeouts&) {
    // A tty has no time-outs of its own: reads never wait in the driver
    // (VMIN = VTIME = 0) and Read and Write wait with poll().
    return portHandle_ < 0 ? EBADF : comm::detail::setImmediateReads(static_cast<int>(portHandle_));
}

int TThreadComm::ApplyDcb(const TDcb& dcb) {
    comm::detail::LineSettings line;
    line.rate = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    line.parity = dcb.Parity;
    line.stopBits = dcb.StopBits;
    line.parityCheck = dcb.fParity;
    line.xonChar = dcb.XonChar;
    line.xoffChar = dcb.XoffChar;
    return comm::detail::applyLineSettings(static_cast<int>(portHandle_), line);
}

bool TThreadComm::ModemStatus(uint32_t* lines) {
    int bits = 0;
    if (::ioctl(portHandle_, TIOCMGET, &bits) != 0) {
        return false;
    }
    *lines = ((bits & TIOCM_CTS) ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) ? MS_DSR_ON : 0) |
             ((bits & TIOCM_RI) ? MS_RING_ON : 0) | ((bits & TIOCM_CD) ? MS_RLSD_ON : 0);
    return true;
}

void TThreadComm::ReleasePortEvents() {}
