// The serial port component's own logic, the same on every platform: the
// properties, the order of Open and Close, the device control block and the
// time-outs it asks for, the event dispatch, and the program's comm::Port on
// top. What it asks of the system is in tcomm_posix.cpp or tcomm_win.cpp.
#include "comm/tcomm.h"

#include "comm/comm_event_thread.h"
#include "comm/tcomm_shared.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>
#include <system_error>

namespace {

using comm::detail::kRateCount;
using comm::detail::kRates;

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

TThreadComm::TThreadComm()
    : eventChars_(std::make_unique<TCommEventChars>(this)), shared_(std::make_unique<Shared>()) {}

TThreadComm::TThreadComm(comm::TMainThreadDispatcher& dispatcher) : TThreadComm() {
    dispatcher_ = &dispatcher;
}

TThreadComm::~TThreadComm() {
    Close();
    ReleasePortEvents();
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

void TThreadComm::UpdateCommTimeouts() {
    TCommTimeouts t;
    t.ReadIntervalTimeout = 0xFFFFFFFFu;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = comm::detail::kReadWaitMs;
    uint32_t rate = BaudRateValue(baudRate_);
    t.WriteTotalTimeoutMultiplier = rate != 0 ? 19200 / rate : 0;
    t.WriteTotalTimeoutConstant = 0;
    int err = ApplyCommTimeouts(t);
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

    if (int err = ApplyDcb(dcb)) {
        Raise("Error updating DataControlBlock", err);
    }
}

void TThreadComm::UpdateDataControlBlockLock() {
    std::lock_guard<std::recursive_mutex> guard(shared_->portLock);
    UpdateDataControlBlock();
}

// ---------------------------------------------------------------------------
// Reading and writing: the platform's transfer under the lock, so that a
// read and a write never overlap.

int32_t TThreadComm::Write(const void* buf, uint32_t count) {
    if (!shared_->portOpen) {
        return -1;
    }
    std::lock_guard<std::recursive_mutex> guard(shared_->portLock);
    if (!shared_->portOpen) {
        return -1;
    }
    return WriteLocked(buf, count);
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
    return ReadLocked(buf, count);
}

// ---------------------------------------------------------------------------
// Status and line control

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
    if (int err = EscapeFunction(code)) {
        Raise("EscapeCommFunction failure", err);
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
        PurgeAll();
    }
}

void TThreadComm::SetXONState(bool state) {
    EscapeComm(state ? SETXON : SETXOFF);
}

bool TThreadComm::GetModemState(int32_t which) {
    uint32_t bit = 0;
    switch (which) {
    case 1:
        bit = MS_CTS_ON;
        break;
    case 2:
        bit = MS_DSR_ON;
        break;
    case 3:
        bit = MS_RING_ON;
        break;
    case 4:
        bit = MS_RLSD_ON;
        break;
    default:
        return false;
    }
    uint32_t lines = 0;
    return shared_->portOpen && ModemStatus(&lines) && (lines & bit) != 0;
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
