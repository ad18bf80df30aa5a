// The event thread's wait on a Windows port: SetCommMask with the monitored
// events and an overlapped WaitCommEvent, beside a stop event that wakes it.
#include "comm/comm_event_thread.h"

#include "comm/delivery_gate.h"

#include <system_error>
// After the component's headers (tcomm_win.cpp says why).
#include <windows.h>

namespace {

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

[[noreturn]] void throwLastError(const char* what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

// A wait that ends at once with nothing new is tried again after this long,
// so that a port in that state does not keep a core busy.
constexpr DWORD kRecheckMs = 10;

} // namespace

void TCommEventThread::PrepareWait() {
    HANDLE stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr) {
        throwLastError("CreateEvent");
    }
    if (!::SetCommMask(handleOf(portHandle_), waitMask_)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(stop);
        ::SetLastError(error);
        throwLastError("SetCommMask");
    }
    wake_ = reinterpret_cast<std::intptr_t>(stop);
}

void TCommEventThread::ReleaseWait() {
    ::CloseHandle(handleOf(wake_));
}

void TCommEventThread::Wake() {
    ::SetEvent(handleOf(wake_));
}

void TCommEventThread::NotifyWritten() {
    // The port reports EV_TXEMPTY itself; this is for a wait that ends
    // without an event (below), which then looks at the output queue.
    if ((waitMask_ & EV_TXEMPTY) != 0) {
        txPending_ = true;
    }
}

void TCommEventThread::NotifyRead() {
    inputTaken_ = true;
}

void TCommEventThread::Execute() {
    HANDLE port = handleOf(portHandle_);
    HANDLE stop = handleOf(wake_);
    OVERLAPPED ov{};
    ov.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ov.hEvent == nullptr) {
        running_ = false;
        return;
    }
    // The input queue as last announced. EV_RXCHAR is an arrival: Wine's
    // driver reports it for every wait while bytes sit unread, so a report
    // counts only when the queue has grown since (or since a Read took
    // bytes), and a wait that ends without an event looks at the queue too.
    DWORD announced = 0;
    while (!stopRequested_) {
        DWORD mask = 0;
        bool happened = false; // else cancelled or refused
        if (::WaitCommEvent(port, &mask, &ov)) {
            happened = true;
        } else if (::GetLastError() == ERROR_IO_PENDING) {
            HANDLE both[2] = {ov.hEvent, stop};
            if (::WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0) {
                // Stopping: the pending wait must be over before the record
                // goes away.
                DWORD ignored = 0;
                ::CancelIoEx(port, &ov);
                ::GetOverlappedResult(port, &ov, &ignored, TRUE);
                break;
            }
            DWORD ignored = 0;
            happened = ::GetOverlappedResult(port, &ov, &ignored, FALSE) != 0;
        }
        ::ResetEvent(ov.hEvent);
        if (stopRequested_) {
            break;
        }
        if (!happened) {
            mask = 0;
        }
        // A wait without an event: cancelled (Wine's serial driver ends
        // every wait so when the line has no modem lines to read, as a
        // pseudo-terminal has not; some USB adapters do the same), or
        // refused. The queues then say whether bytes came or the output
        // drained meanwhile.
        const bool look = !happened || (mask & EV_RXCHAR) != 0;
        if (look) {
            COMSTAT cs{};
            DWORD errors = 0;
            if (!::ClearCommError(port, &errors, &cs)) {
                // The device is gone (unplugged): say so once and wait for
                // the owner to close the port.
                if (LineLostTarget && Deliver(LineLostTarget)) {
                    ::WaitForSingleObject(stop, INFINITE);
                }
                break;
            }
            if (inputTaken_.exchange(false)) {
                announced = 0;
            }
            mask &= ~static_cast<DWORD>(EV_RXCHAR);
            if (cs.cbInQue > announced) {
                mask |= waitMask_ & EV_RXCHAR;
            }
            announced = cs.cbInQue;
            if (!happened && txPending_ && cs.cbOutQue == 0) {
                mask |= waitMask_ & EV_TXEMPTY;
            }
            if (errors != 0) {
                mask |= waitMask_ & EV_ERR;
            }
        }
        if ((mask & EV_TXEMPTY) != 0) {
            txPending_ = false;
        }
        if (mask == 0) {
            // Nothing new. A driver that reports unread bytes at once, ends
            // the wait at once or refuses it is looked at again a little
            // later rather than in a loop that keeps a core busy.
            ::WaitForSingleObject(stop, kRecheckMs);
            continue;
        }
        eventMask_ = mask;
        // The closure owns a copy of the target: a handler may close the
        // port, and Close ends this thread object while the closure runs.
        if (EventTarget &&
            !Deliver([target = EventTarget, self = this, mask] { target(self, mask); })) {
            break;
        }
    }
    ::CloseHandle(ov.hEvent);
    running_ = false;
}
