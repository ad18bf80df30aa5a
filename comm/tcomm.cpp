#include "comm/tcomm.h"

#include "comm/comm_event_thread.h"
#include "comm/line_settings.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr uint32_t kRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                               19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr int kRateCount = static_cast<int>(sizeof kRates / sizeof kRates[0]);

// Every event a port can report; CreateHandle watches them all until the
// event thread narrows the mask to the monitored ones.
constexpr uint32_t kAllEvents =
    EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING;

constexpr int kReadWaitMs = 1000;
constexpr int kWriteSlackMs = 2000;

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

template <typename E> void refuseOutOfRange(E value, int members, const char* property) {
    int ordinal = static_cast<int>(value);
    if (ordinal < 0 || ordinal >= members) {
        throw ECommError(std::string("Invalid ") + property + " value " + std::to_string(ordinal),
                         -1);
    }
}

} // namespace

uint32_t BaudRateValue(TBaudRate rate) {
    int i = static_cast<int>(rate);
    return i >= 0 && i < kRateCount ? kRates[i] : 0;
}

ECommError::ECommError(std::string text, int code)
    : std::runtime_error(text + " (Error: " + std::to_string(code) + ")"), text_(std::move(text)),
      code_(code) {}

// ---------------------------------------------------------------------------
// TCommEventChars

TCommEventChars::TCommEventChars(TThreadComm* owner) : owner_(owner) {}

void TCommEventChars::SetEventChar(int index, char value) {
    switch (index) {
    case 1:
        xOnChar_ = value;
        break;
    case 2:
        xOffChar_ = value;
        break;
    case 3:
        errorChar_ = value;
        break;
    case 4:
        eofChar_ = value;
        break;
    case 5:
        evtChar_ = value;
        break;
    default:
        break;
    }
    if (owner_ != nullptr) {
        owner_->UpdateDataControlBlock();
    }
}

void TCommEventChars::Assign(const TCommEventChars& source) {
    xOnChar_ = source.xOnChar_;
    xOffChar_ = source.xOffChar_;
    errorChar_ = source.errorChar_;
    eofChar_ = source.eofChar_;
    evtChar_ = source.evtChar_;
}

// ---------------------------------------------------------------------------
// TThreadComm: life, opening and closing

// What the event thread and other threads share with the component.
struct TThreadComm::Shared {
    std::atomic<bool> portOpen{false};
    std::atomic<bool> outputSuspended{false};
    // Counts closes, so that a handler that closes the port stops the
    // remaining handlers of the same event.
    std::atomic<uint64_t> closeCount{0};
    std::unique_ptr<TCommEventThread> eventThread;
    // Re-entrant: a handler on the window's thread may call back in.
    std::recursive_mutex portLock;
};

TThreadComm::TThreadComm()
    : eventChars_(std::make_unique<TCommEventChars>(this)), shared_(std::make_unique<Shared>()) {}

TThreadComm::TThreadComm(comm::TMainThreadDispatcher& dispatcher) : TThreadComm() {
    dispatcher_ = &dispatcher;
}

TThreadComm::~TThreadComm() {
    Close();
}

bool TThreadComm::Enabled() const {
    return shared_->portOpen.load();
}

TCommEventThread* TThreadComm::EventThread() const {
    return shared_->eventThread.get();
}

void TThreadComm::Raise(const char* text, int code) {
    throw ECommError(text, code);
}

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

void TThreadComm::Open() {
    std::lock_guard<std::recursive_mutex> guard(shared_->portLock);
    if (shared_->portOpen) {
        Raise("Port already assigned (open)", -1);
    }
    if (dispatcher_ == nullptr) {
        // Without a dispatcher the events would have nowhere to go; a port
        // that opens deaf would look like a silent device.
        Raise("No main thread dispatcher set", -1);
    }
    CreateHandle();
    if (!shared_->portOpen) {
        return;
    }
    UpdateCommTimeouts();
    UpdateDataControlBlock();

    int setupError = SetupComm();

    try {
        auto thread = std::make_unique<TCommEventThread>(portHandle_, suspendTime_, monitorEvents_,
                                                         dispatcher_);
        thread->EventTarget = [this](void* sender, uint32_t mask) {
            HandleCommEvent(sender, mask);
        };
        thread->LineLostTarget = [this] {
            if (OnLineLost) {
                OnLineLost(this);
            }
        };
        commMask_ = thread->WaitMask();
        thread->Resume();
        shared_->eventThread = std::move(thread);
    } catch (const std::system_error& e) {
        shared_->eventThread.reset();
        DestroyHandle();
        lastOpenError_ = e.code().value() != 0 ? e.code().value() : EAGAIN;
    } catch (const std::exception&) {
        shared_->eventThread.reset();
        DestroyHandle();
        lastOpenError_ = EAGAIN; // no thread to watch the port
    }

    if (setupError != 0) {
        Raise("Error initializing Read/Write Buffers", setupError);
    }
}

void TThreadComm::Close() {
    std::unique_lock<std::recursive_mutex> guard(shared_->portLock);
    if (!shared_->portOpen) {
        return;
    }
    ++shared_->closeCount;
    std::unique_ptr<TCommEventThread> thread = std::move(shared_->eventThread);
    if (thread) {
        // Stop the thread without the lock: a handler running right now on
        // the window's thread (Close called from elsewhere) may need it to
        // finish, and Stop waits for that handler.
        guard.unlock();
        thread->Stop();
        thread.reset();
        guard.lock();
    }
    if (shared_->portOpen) {
        DestroyHandle();
    }
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

void TThreadComm::UpdateCommTimeouts() {
    TCommTimeouts t;
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = kReadWaitMs;
    uint32_t rate = BaudRateValue(baudRate_);
    t.WriteTotalTimeoutMultiplier = rate != 0 ? 19200 / rate : 0;
    t.WriteTotalTimeoutConstant = 0;
    int err = portHandle_ < 0 ? EBADF : comm::detail::setImmediateReads(portHandle_);
    if (err != 0) {
        Raise("Error updating CommTimeouts", err);
    }
    commTimeouts_ = t;
}

void TThreadComm::UpdateDataControlBlock() {
    if (!shared_->portOpen) {
        return;
    }
    SetupComm();

    TDcb dcb = portDcb_;
    dcb.BaudRate = BaudRateValue(baudRate_);
    dcb.Parity = static_cast<uint8_t>(parity_);
    dcb.StopBits = static_cast<uint8_t>(stopBits_);
    dcb.ByteSize = static_cast<uint8_t>(4 + static_cast<int>(dataBits_));
    dcb.XonChar = eventChars_->XOnChar();
    dcb.XoffChar = eventChars_->XOffChar();
    dcb.ErrorChar = eventChars_->ErrorChar();
    dcb.EofChar = eventChars_->EofChar();
    dcb.EvtChar = eventChars_->EvtChar();
    dcb.XonLim = 1024;
    dcb.XoffLim = 1024;
    dcb.fParity = options_.Contains(coParityCheck);
    dcb.fDsrSensitivity = options_.Contains(coDsrSensitivity);
    dcb.fTXContinueOnXoff = options_.Contains(coIgnoreXOff);
    dcb.fErrorChar = options_.Contains(coErrorChar);
    dcb.fNull = options_.Contains(coNullStrip);
    portDcb_ = dcb;

    comm::detail::LineSettings line;
    line.rate = dcb.BaudRate;
    line.dataBits = dcb.ByteSize;
    line.parity = dcb.Parity;
    line.stopBits = dcb.StopBits;
    line.parityCheck = dcb.fParity;
    line.xonChar = dcb.XonChar;
    line.xoffChar = dcb.XoffChar;
    if (int err = comm::detail::applyLineSettings(portHandle_, line)) {
        Raise("Error updating DataControlBlock", err);
    }
}

void TThreadComm::UpdateDataControlBlockLock() {
    std::lock_guard<std::recursive_mutex> guard(shared_->portLock);
    UpdateDataControlBlock();
}

// ---------------------------------------------------------------------------
// Reading and writing

int32_t TThreadComm::Write(const void* buf, uint32_t count) {
    if (!shared_->portOpen) {
        return -1;
    }
    std::lock_guard<std::recursive_mutex> guard(shared_->portLock);
    if (!shared_->portOpen) {
        return -1;
    }
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
        pollfd p{portHandle_, POLLOUT, 0};
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

int32_t TThreadComm::Read(void* buf, uint32_t count) {
    if (!shared_->portOpen) {
        return -1;
    }
    std::lock_guard<std::recursive_mutex> guard(shared_->portLock);
    if (!shared_->portOpen) {
        return -1;
    }
    ClearCommError(nullptr, nullptr);
    if (count == 0) {
        ClearCommError(nullptr, nullptr);
        return 0;
    }
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
        pollfd p{portHandle_, POLLIN, 0};
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

int32_t TThreadComm::InQueCount() {
    if (!shared_->portOpen) {
        return -1;
    }
    TComStat s;
    ClearCommError(nullptr, &s);
    return static_cast<int32_t>(s.cbInQue);
}

int32_t TThreadComm::OutQueCount() {
    if (!shared_->portOpen) {
        return -1;
    }
    TComStat s;
    ClearCommError(nullptr, &s);
    return static_cast<int32_t>(s.cbOutQue);
}

void TThreadComm::CheckOpen() {
    if (shared_->portOpen) {
        Raise("Port already assigned (open)", -1);
    }
}

void TThreadComm::EscapeComm(int32_t code) {
    std::lock_guard<std::recursive_mutex> guard(shared_->portLock);
    if (!shared_->portOpen) {
        Raise("Port not open", -1);
    }
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
    if (rc != 0) {
        Raise("EscapeCommFunction failure", errno);
    }
}

void TThreadComm::SetDTRState(bool state) {
    EscapeComm(state ? SETDTR : CLRDTR);
}

void TThreadComm::SetRTSState(bool state) {
    EscapeComm(state ? SETRTS : CLRRTS);
}

void TThreadComm::SetBREAKState(bool state) {
    EscapeComm(state ? SETBREAK : CLRBREAK);
    if (shared_->portOpen) {
        std::lock_guard<std::recursive_mutex> guard(shared_->portLock);
        ::tcflush(portHandle_, TCIOFLUSH);
    }
}

void TThreadComm::SetXONState(bool state) {
    EscapeComm(state ? SETXON : SETXOFF);
}

bool TThreadComm::GetModemState(int32_t which) {
    int bit = 0;
    switch (which) {
    case 1:
        bit = TIOCM_CTS;
        break;
    case 2:
        bit = TIOCM_DSR;
        break;
    case 3:
        bit = TIOCM_RI;
        break;
    case 4:
        bit = TIOCM_CD;
        break;
    default:
        return false;
    }
    int lines = 0;
    return shared_->portOpen && ::ioctl(portHandle_, TIOCMGET, &lines) == 0 && (lines & bit) != 0;
}

bool TThreadComm::GetComState(int32_t which) {
    if (!shared_->portOpen) {
        return false;
    }
    TComStat s;
    ClearCommError(nullptr, &s);
    switch (which) {
    case 2:
        return s.fDsrHold;
    case 3:
        return s.fRlsdHold;
    case 4:
        return s.fXoffHold;
    case 5:
        return s.fXoffSent;
    default:
        return s.fCtsHold;
    }
}

// ---------------------------------------------------------------------------
// Events

void TThreadComm::HandleCommEvent(void* /*sender*/, uint32_t mask) {
    int32_t errors = 0;
    TComStat stat;
    ClearCommError(&errors, &stat);

    // A handler may close the port; the handlers after it then stay silent,
    // as no handler runs once Close has returned.
    const uint64_t closes = shared_->closeCount;
    auto live = [&] { return shared_->closeCount == closes; };

    if ((mask & EV_BREAK) && OnBreak && live()) {
        OnBreak(this);
    }
    if ((mask & EV_CTS) && OnCts && live()) {
        OnCts(this);
    }
    if ((mask & EV_DSR) && OnDsr && live()) {
        OnDsr(this);
    }
    if ((mask & EV_ERR) && OnError && live()) {
        OnError(this, errors);
    }
    if ((mask & EV_RING) && OnRing && live()) {
        OnRing(this);
    }
    if ((mask & EV_RLSD) && OnRlsd && live()) {
        OnRlsd(this);
    }
    if ((mask & EV_RXCHAR) && stat.cbInQue > 0 && OnRxChar && live()) {
        OnRxChar(this, stat.cbInQue);
    }
    if ((mask & EV_RXFLAG) && OnRxFlag && live()) {
        OnRxFlag(this);
    }
    if ((mask & EV_TXEMPTY) && OnTxEmpty && live()) {
        OnTxEmpty(this);
    }
    if (OnComStatEvent && live()) {
        OnComStatEvent(this, mask, stat);
    }
}

// ---------------------------------------------------------------------------
// Properties

void TThreadComm::SetDeviceName(const std::string& name) {
    if (!shared_->portOpen && name != deviceName_) {
        deviceName_ = name;
    }
}

void TThreadComm::SetReadBufSize(uint16_t size) {
    if (!shared_->portOpen && size != readBufSize_) {
        readBufSize_ = size;
    }
}

void TThreadComm::SetWriteBufSize(uint16_t size) {
    if (!shared_->portOpen && size != writeBufSize_) {
        writeBufSize_ = size;
    }
}

void TThreadComm::SetSuspendTime(uint32_t time) {
    if (!shared_->portOpen && time != suspendTime_) {
        suspendTime_ = time;
    }
}

void TThreadComm::SetMonitorEvents(TCommEventTypes events) {
    if (!shared_->portOpen && !(events == monitorEvents_)) {
        monitorEvents_ = events;
    }
}

void TThreadComm::SetBaudRate(TBaudRate rate) {
    // A rate index read from a settings file may be anything; only the
    // fifteen members have a rate.
    refuseOutOfRange(rate, kRateCount, "BaudRate");
    if (rate != baudRate_) {
        baudRate_ = rate;
        UpdateDataControlBlockLock();
    }
}

void TThreadComm::SetParity(TParity parity) {
    refuseOutOfRange(parity, 5, "Parity");
    if (parity != parity_) {
        parity_ = parity;
        UpdateDataControlBlockLock();
    }
}

void TThreadComm::SetStopBits(TStopBits bits) {
    refuseOutOfRange(bits, 3, "StopBits");
    if (bits != stopBits_) {
        stopBits_ = bits;
        UpdateDataControlBlockLock();
    }
}

void TThreadComm::SetDataBits(TDataBits bits) {
    refuseOutOfRange(bits, 5, "DataBits");
    if (bits != dataBits_) {
        dataBits_ = bits;
        UpdateDataControlBlockLock();
    }
}

void TThreadComm::SetOptions(TCommOptions options) {
    if (!(options == options_)) {
        options_ = options;
        UpdateDataControlBlockLock();
    }
}

void TThreadComm::SetFlowControl(TFlowControl flow) {
    refuseOutOfRange(flow, 5, "FlowControl");
    if (flow != flowControl_) {
        flowControl_ = flow;
        UpdateDataControlBlockLock();
    }
}

// ---------------------------------------------------------------------------
// TComm: the program's serial port

comm::OpenResult TComm::open(const std::string& devicePath) {
    Close();
    SetDeviceName(devicePath);
    try {
        Open();
    } catch (const ECommError& e) {
        Close();
        comm::OpenResult r = comm::OpenResult::fromErrno(e.code(), devicePath);
        if (r.error != comm::OpenError::Gone) {
            // The device opened but refused its line set-up (or there is no
            // dispatcher to deliver its events, code -1).
            r.error = e.code() > 0 ? comm::OpenError::LineSettingsRefused : comm::OpenError::Failed;
        }
        return r;
    }
    if (!Enabled()) {
        comm::OpenResult r = comm::OpenResult::fromErrno(LastOpenError(), devicePath);
        r.holder = LastOpenHolder();
        return r;
    }
    return comm::OpenResult{comm::OpenError::None, 0, devicePath, {}};
}

void TComm::close() {
    Close();
}

bool TComm::isOpen() const {
    return Enabled();
}

int TComm::write(const std::uint8_t* bytes, std::size_t count) {
    if (!Enabled()) {
        return -1;
    }
    if (bytes == nullptr || count == 0) {
        return 0;
    }
    constexpr std::size_t most = std::numeric_limits<int32_t>::max();
    return Write(bytes, static_cast<uint32_t>(std::min(count, most)));
}

int TComm::read(std::uint8_t* buffer, std::size_t capacity) {
    if (!Enabled()) {
        return -1;
    }
    if (buffer == nullptr || capacity == 0) {
        return 0;
    }
    constexpr std::size_t most = std::numeric_limits<int32_t>::max();
    return Read(buffer, static_cast<uint32_t>(std::min(capacity, most)));
}

int TComm::queuedInput() {
    return InQueCount();
}

void TComm::discardInput() {
    PurgeIn();
}

void TComm::setReceivedHandler(std::function<void(std::uint32_t queued)> handler) {
    if (handler) {
        OnRxChar = [handler = std::move(handler)](TThreadComm*, uint32_t count) { handler(count); };
    } else {
        OnRxChar = nullptr;
    }
}

void TComm::setLostHandler(std::function<void()> handler) {
    if (handler) {
        OnLineLost = [handler = std::move(handler)](TThreadComm*) { handler(); };
    } else {
        OnLineLost = nullptr;
    }
}
