// The event thread's hand-over to the window's thread and its life, the same
// on every platform; its wait on the port is in comm_event_thread_posix.cpp
// or comm_event_thread_win.cpp.
#include "comm/comm_event_thread.h"

#include "comm/delivery_gate.h"

#include <array>

namespace {

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

TCommEventThread::TCommEventThread(std::intptr_t portHandle, uint32_t suspendTime,
                                   TCommEventTypes monitorEvents,
                                   comm::TMainThreadDispatcher* dispatcher)
    : portHandle_(portHandle), suspendTime_(suspendTime), waitMask_(MaskOf(monitorEvents)),
      dispatcher_(dispatcher), gate_(std::make_shared<comm::detail::DeliveryGate>()) {
    PrepareWait();
}

TCommEventThread::~TCommEventThread() {
    Stop();
    ReleaseWait();
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
    Wake();
    std::call_once(joinOnce_, [this] {
        if (thread_.joinable()) {
            thread_.join();
        }
    });
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
