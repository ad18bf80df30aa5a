// The serial port component on the Windows communications interface: the
// device handle opened exclusively for overlapped input and output, the
// device control block, the time-outs, the queues and the modem lines.
#include "comm/tcomm.h"

#include "comm/comm_event_thread.h"
#include "comm/tcomm_shared.h"

#include <cerrno>
#include <chrono>
#include <mutex>
// After the component's headers: <windows.h> defines EV_RXCHAR, SETDTR and
// the other names that tcomm.h declares as constants, with the same values.
#include <windows.h>

namespace {

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// A write that the driver has not finished after its time-out (so many ms
// a byte at slow rates) and this much more is cut short: a line held by
// flow control must not hold the window's thread for ever.
constexpr DWORD kWriteSlackMs = 2000;

// OpenResult speaks the reasons of the system's error numbers
// (OpenResult::fromErrno); a Windows error of the open is told by the same
// reason. A COM port that another program has open refuses with "access
// denied": it is busy.
int openErrno(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NOT_READY:
    case ERROR_INVALID_HANDLE:
        return ENODEV;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return ENOTTY;
    default:
        // Keep the Windows code for the message unless it would read as
        // one of the reasons above.
        return error == 0 || error == EIO || error == EPERM || error == EACCES || error == EBUSY ||
                       error == ENXIO || error == ENODEV || error == ENOTTY || error == EISDIR ||
                       error == EWOULDBLOCK
                   ? EINVAL
                   : static_cast<int>(error);
    }
}

} // namespace

void TThreadComm::CreateHandle() {
    lastOpenError_ = 0;
    lastOpenHolder_.clear();
    if (shared_->readEvent == 0 || shared_->writeEvent == 0) {
        HANDLE readEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE writeEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (readEvent == nullptr || writeEvent == nullptr) {
            lastOpenError_ = openErrno(::GetLastError());
            if (readEvent != nullptr) {
                ::CloseHandle(readEvent);
            }
            if (writeEvent != nullptr) {
                ::CloseHandle(writeEvent);
            }
            return;
        }
        shared_->readEvent = reinterpret_cast<std::intptr_t>(readEvent);
        shared_->writeEvent = reinterpret_cast<std::intptr_t>(writeEvent);
    }
    HANDLE h = ::CreateFileA(deviceName_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        lastOpenError_ = openErrno(::GetLastError());
        return;
    }
    portHandle_ = reinterpret_cast<std::intptr_t>(h);
    shared_->portOpen = true;
    if (::GetFileType(h) != FILE_TYPE_CHAR) {
        lastOpenError_ = ENOTTY;
        DestroyHandle();
        return;
    }
    ::SetCommMask(h, comm::detail::kAllEvents);
    commMask_ = comm::detail::kAllEvents;
}

void TThreadComm::DestroyHandle() {
    if (portHandle_ != -1) {
        ::CloseHandle(handleOf(portHandle_));
    }
    portHandle_ = -1;
    shared_->portOpen = false;
    shared_->outputSuspended = false;
}

void TThreadComm::ReleasePortEvents() {
    for (std::intptr_t* event : {&shared_->readEvent, &shared_->writeEvent}) {
        if (*event != 0) {
            ::CloseHandle(handleOf(*event));
            *event = 0;
        }
    }
}

int TThreadComm::SetupComm() {
    if (!::SetupComm(handleOf(portHandle_), readBufSize_, writeBufSize_)) {
        return static_cast<int>(::GetLastError());
    }
    return 0;
}

int TThreadComm::ApplyCommTimeouts(const TCommTimeouts& t) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = t.ReadIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    timeouts.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    timeouts.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    timeouts.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    if (portHandle_ == -1 || !::SetCommTimeouts(handleOf(portHandle_), &timeouts)) {
        return portHandle_ == -1 ? ERROR_INVALID_HANDLE : static_cast<int>(::GetLastError());
    }
    return 0;
}

int TThreadComm::ApplyDcb(const TDcb& dcb) {
    // Every field not set here keeps what the driver reports (the flow
    // control fields and fBinary among them).
    DCB d{};
    d.DCBlength = sizeof d;
    ::GetCommState(handleOf(portHandle_), &d);
    d.BaudRate = dcb.BaudRate;
    d.Parity = dcb.Parity;
    d.StopBits = dcb.StopBits;
    d.ByteSize = dcb.ByteSize;
    d.XonChar = dcb.XonChar;
    d.XoffChar = dcb.XoffChar;
    d.ErrorChar = dcb.ErrorChar;
    d.EofChar = dcb.EofChar;
    d.EvtChar = dcb.EvtChar;
    d.XonLim = dcb.XonLim;
    d.XoffLim = dcb.XoffLim;
    d.fParity = dcb.fParity;
    d.fDsrSensitivity = dcb.fDsrSensitivity;
    d.fTXContinueOnXoff = dcb.fTXContinueOnXoff;
    d.fErrorChar = dcb.fErrorChar;
    d.fNull = dcb.fNull;
    if (!::SetCommState(handleOf(portHandle_), &d)) {
        return static_cast<int>(::GetLastError());
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Reading and writing

int32_t TThreadComm::WriteLocked(const void* buf, uint32_t count) {
    HANDLE h = handleOf(portHandle_);
    OVERLAPPED ov{};
    ov.hEvent = handleOf(shared_->writeEvent);
    DWORD done = 0;
    int32_t result = 0;
    if (::WriteFile(h, buf, count, &done, &ov)) {
        result = static_cast<int32_t>(done);
    } else if (::GetLastError() == ERROR_IO_PENDING) {
        // The design polls until the write completes; waiting on the
        // record's event is the same without the spinning, bounded so that
        // a held line gives up.
        const DWORD limit = commTimeouts_.WriteTotalTimeoutMultiplier * count +
                            commTimeouts_.WriteTotalTimeoutConstant + kWriteSlackMs;
        if (::WaitForSingleObject(ov.hEvent, limit) != WAIT_OBJECT_0) {
            ::CancelIoEx(h, &ov);
        }
        if (::GetOverlappedResult(h, &ov, &done, TRUE)) {
            result = static_cast<int32_t>(done);
        } else {
            ClearCommError(nullptr, nullptr);
            result = static_cast<int32_t>(done);
        }
    } else {
        ClearCommError(nullptr, nullptr);
        result = 0;
    }
    if (result > 0 && shared_->eventThread) {
        shared_->eventThread->NotifyWritten();
    }
    return result;
}

int32_t TThreadComm::ReadLocked(void* buf, uint32_t count) {
    // The time-outs (MAXDWORD, 0, 1000) make the driver return at once with
    // what is queued, and otherwise wait up to a second for the first bytes.
    HANDLE h = handleOf(portHandle_);
    OVERLAPPED ov{};
    ov.hEvent = handleOf(shared_->readEvent);
    DWORD done = 0;
    if (!::ReadFile(h, buf, count, &done, &ov)) {
        if (::GetLastError() != ERROR_IO_PENDING) {
            return 0;
        }
        if (!::GetOverlappedResult(h, &ov, &done, TRUE)) {
            ClearCommError(nullptr, nullptr);
        }
    }
    if (done > 0 && shared_->eventThread) {
        shared_->eventThread->NotifyRead();
    }
    return static_cast<int32_t>(done);
}

void TThreadComm::PurgeIn() {
    if (shared_->portOpen) {
        ::PurgeComm(handleOf(portHandle_), PURGE_RXABORT | PURGE_RXCLEAR);
        if (shared_->eventThread) {
            shared_->eventThread->NotifyRead();
        }
    }
}

void TThreadComm::PurgeOut() {
    if (shared_->portOpen) {
        ::PurgeComm(handleOf(portHandle_), PURGE_TXABORT | PURGE_TXCLEAR);
    }
}

void TThreadComm::PurgeAll() {
    ::PurgeComm(handleOf(portHandle_),
                PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (shared_->eventThread) {
        shared_->eventThread->NotifyRead();
    }
}

// ---------------------------------------------------------------------------
// Status and line control

bool TThreadComm::ClearCommError(int32_t* errors, TComStat* stat) {
    DWORD flags = 0;
    COMSTAT cs{};
    const bool ok = portHandle_ != -1 && ::ClearCommError(handleOf(portHandle_), &flags, &cs);
    if (!ok) {
        flags = 0;
        cs = COMSTAT{};
    }
    if (errors != nullptr) {
        *errors = static_cast<int32_t>(flags);
    }
    if (stat != nullptr) {
        stat->fCtsHold = cs.fCtsHold;
        stat->fDsrHold = cs.fDsrHold;
        stat->fRlsdHold = cs.fRlsdHold;
        stat->fXoffHold = cs.fXoffHold;
        stat->fXoffSent = cs.fXoffSent;
        stat->fEof = cs.fEof;
        stat->fTxim = cs.fTxim;
        stat->cbInQue = cs.cbInQue;
        stat->cbOutQue = cs.cbOutQue;
    }
    return ok;
}

int TThreadComm::EscapeFunction(int32_t code) {
    if (!::EscapeCommFunction(handleOf(portHandle_), static_cast<DWORD>(code))) {
        return static_cast<int>(::GetLastError());
    }
    return 0;
}

bool TThreadComm::ModemStatus(uint32_t* lines) {
    DWORD status = 0;
    if (!::GetCommModemStatus(handleOf(portHandle_), &status)) {
        return false;
    }
    *lines = status;
    return true;
}
