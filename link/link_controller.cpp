#include "link/link_controller.h"

#include "comm/port_discovery.h"
#include "comm/port_names.h"
#include "protocol/cp1251.h"
#include "protocol/frames.h"
#include "protocol/reply_end.h"

#include <algorithm>
#include <utility>

namespace {

// Log lines show the text without its trailing carriage return.
std::string forLog(std::string_view bytes1251) {
    while (!bytes1251.empty() && (bytes1251.back() == '\r' || bytes1251.back() == '\n')) {
        bytes1251.remove_suffix(1);
    }
    return cp1251::toUtf8(bytes1251);
}

} // namespace

LinkController::LinkController(comm::Port& port, LinkObserver& observer)
    : port_(port), observer_(observer) {}

int LinkController::sendBytes(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr || count == 0) {
        return 0;
    }
    return port_.write(bytes, count);
}

int LinkController::sendText(std::string_view text) {
    const int result = sendBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (state.debugMode) {
        report(events::DiagnosticText{forLog(text)});
    }
    return result;
}

void LinkController::bytesArrived(std::uint32_t count) {
    if (fastExchange_) {
        takeInput();
        notifyTimers();
        return;
    }
    const std::uint64_t sum = std::uint64_t{state.rxCount} + count;
    state.rxCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(sum, kRxBufferSize));
    state.rxCountdown = state.quietTicks;
    notifyTimers();
}

bool LinkController::receiveTick() {
    // Receive pacing: the chunk is analysed once the line has been quiet for
    // quietTicks - 1 ticks.
    if (state.rxCountdown > 0) {
        --state.rxCountdown;
    }
    if (state.rxCountdown != 1) {
        return false;
    }
    if (fastExchange_) {
        // Past the quiet time everything taken is one chunk, as without the
        // fast exchange.
        pullInput();
        const std::size_t complete = completeLength();
        chunk_ = Chunk::Front;
        chunkSize_ = complete > 0 ? complete : pending_.size();
        return true;
    }
    // What is queued now is the chunk and whatever followed it unannounced;
    // all of it is done with once the chunk is analysed. An answer to a
    // command the analysis itself sends can arrive before the discard, so
    // only the bytes that were there before the analysis are dropped:
    // purging the whole queue would lose that answer.
    chunk_ = Chunk::Quiet;
    queuedBefore_ = port_.queuedInput();
    return true;
}

bool LinkController::beginChunk() {
    if (chunk_ == Chunk::None || analysing_) {
        return false;
    }
    analysing_ = true;
    chunkRead_ = 0;
    if (chunk_ == Chunk::Front) {
        state.rxCount = static_cast<std::uint32_t>(chunkSize_);
    }
    return true;
}

void LinkController::endChunk(bool completed) {
    const Chunk chunk = std::exchange(chunk_, Chunk::None);
    analysing_ = false;
    if (chunk == Chunk::Front) {
        // The chunk is done with even when the analysis failed (a port error
        // on its answer): analysing it again would repeat what it did.
        const std::size_t used = std::min(chunkSize_, pending_.size());
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
        state.rxCount = static_cast<std::uint32_t>(pending_.size());
        if (completed) {
            takeInput(); // bytes that came after it are the next chunk
        }
    } else if (chunk == Chunk::Quiet && completed) {
        state.rxCount = 0;
        discardInput(queuedBefore_ - static_cast<int>(chunkRead_));
    }
    notifyTimers();
}

WatchdogsFired LinkController::watchdogTick() {
    WatchdogsFired fired;
    // Reply watchdog: 1000 ticks (20 s) without a reply that stops it.
    if (state.replyTimer > 0) {
        ++state.replyTimer;
        if (state.replyTimer > 1000) {
            state.replyTimer = 0;
            report(events::ReplyTimedOut{});
            state.remoteConnected = false;
            setPhase(&LinkPhase::linkHeld, false);
            fired.reply = true;
        }
    }

    // Bootloader watchdog: 100 ticks (2 s) without an answer from the bootloader.
    if (state.bootTimer > 0) {
        ++state.bootTimer;
        if (state.bootTimer > 100) {
            awaitBootloaderAgain();
            fired.bootloader = true;
        }
    }
    notifyTimers();
    return fired;
}

void LinkController::awaitBootloaderAgain() {
    state.bootTimer = 0;
    setPhase(&LinkPhase::imageReady, false);
    setPhase(&LinkPhase::bootloaderReady, false);
    state.bootloaderMode = true;
    setPortTimerEnabled(false);
    state.linkUp = false;
    observer_.firmwarePageReset();
    report(events::BootloaderSilent{});
}

void LinkController::reportOpenFailure(bool searching) {
    const comm::OpenFailureText f = comm::describeOpenFailure(lastOpen_, state.portName);
    // The same cause found again by the next try is not news; a port that
    // is simply not there yet, while it is searched for, is none.
    bool newCause = false;
    if (!(searching && lastOpen_.error == comm::OpenError::NotFound) && f.log != lastOpenFailure_) {
        lastOpenFailure_ = f.log;
        newCause = true;
    }
    report(events::PortNotOpened{state.portName, lastOpen_, newCause, searching});
}

bool LinkController::openPort(const std::string& path) {
    lastOpen_ = port_.open(path);
    if (lastOpen_.ok()) {
        lastOpenFailure_.clear();
        // A freshly opened port starts empty, as a serial driver that was
        // closed has kept nothing: whatever a pseudo-terminal queued while no
        // one had it open is stale.
        port_.discardInput();
    }
    return lastOpen_.ok();
}

std::string LinkController::devicePath() const {
    return devicePathForPort(state.portName);
}

void LinkController::tick1s() {
    if (!state.portReady) {
        state.linkUp = false;
        if (openPort(devicePath())) {
            state.portReady = true;
            lostPortSearch_ = false;
            report(events::PortOpened{state.portName});
        } else if (lostPortSearch_) {
            // The port went away; keep looking for it every second until it
            // comes back or the user chooses something else.
            reportOpenFailure(true);
        } else {
            setPortTimerEnabled(false);
            reportOpenFailure(false);
        }
    } else if (state.linkUp) {
        setPortTimerEnabled(false);
        setPhase(&LinkPhase::manualConnect, true);
        setPhase(&LinkPhase::linkHeld, true);
    } else {
        sendText(frames::frameGreeting());
        report(events::Searching{});
    }
}

bool LinkController::portLost() {
    if (!port_.isOpen()) {
        return false;
    }
    port_.close();
    state.portReady = false;
    state.linkUp = false;
    state.remoteConnected = false;
    state.replyTimer = 0;
    state.rxCountdown = 0;
    state.rxCount = 0;
    pending_.clear();
    chunk_ = Chunk::None;
    setPhase(&LinkPhase::linkHeld, false);
    report(events::PortLost{state.portName});
    if (state.bootloaderMode) {
        // The firmware page opens the port itself when it is selected again.
        notifyTimers();
        return true;
    }
    lostPortSearch_ = true;
    setPortTimerEnabled(true);
    notifyTimers();
    return true;
}

void LinkController::connect(const std::string& deviceNumber, const std::string& serverPortText) {
    state.quietTicks = 15;
    if (!state.portReady) {
        setPortTimerEnabled(true);
    } else if (state.remoteConnected) {
        report(events::Refused{events::Refusal::AlreadyLinked});
    } else {
        if (state.directDevice) {
            sendText(frames::frameGreeting());
        } else if (state.dialing) {
            report(events::Refused{events::Refusal::Dialing});
        } else if (deviceNumber == "00000000000") {
            report(events::Refused{events::Refusal::NoDeviceNumber});
        } else {
            // The server port must be a number that a TCP port can be.
            const std::string& text = serverPortText;
            std::size_t used = 0;
            long value = -1;
            try {
                value = std::stol(text, &used);
            } catch (const std::exception&) {
                value = -1;
            }
            if (used != text.size() || value < 1 || value > 65535) {
                report(events::BadServerPort{text});
            } else {
                sendText(frames::frameModemCall());
                state.dialing = true;
                state.serverPort = static_cast<std::uint32_t>(value);
            }
        }
        setPhase(&LinkPhase::linkHeld, true);
    }
    setPhase(&LinkPhase::serialMode, true);
    notifyTimers();
}

void LinkController::disconnect() {
    hangUp();
}

void LinkController::hangUp() {
    state.quietTicks = 15;
    if (state.remoteConnected || state.dialing) {
        if (state.directDevice) {
            sendText(frames::frameClose());
        } else {
            const std::string closed = frames::frameClosed();
            if (internet_ != nullptr) {
                internet_->sendToClient(reinterpret_cast<const std::uint8_t*>(closed.data()),
                                        closed.size());
                // The device needs a moment to take "CLOSED" before the server goes.
                internet_->stopServer(100);
            }
        }
        state.remoteConnected = false;
    } else {
        report(events::Refused{events::Refusal::NoLink});
    }
    state.replyTimer = 0;
    notifyTimers();
}

void LinkController::goOffline() {
    if (state.portReady) {
        state.portReady = false;
        if (state.remoteConnected || state.dialing) {
            hangUp();
        }
    }
    lostPortSearch_ = false;
    state.linkUp = false;
    setPortTimerEnabled(false);
    report(events::Offline{});
    setPhase(&LinkPhase::serialMode, false);
    setPhase(&LinkPhase::manualConnect, true);
    setPhase(&LinkPhase::linkHeld, false);
    if (port_.isOpen()) {
        port_.close();
    }
    notifyTimers();
}

void LinkController::setDiagnostics(bool checked) {
    state.debugMode = checked;
}

void LinkController::sendDiagnostic(const std::string& command) {
    const auto encoded = cp1251::fromUtf8(command);
    if (!encoded.ok()) {
        report(events::CommandNotEncoded{encoded.error->message()});
        return;
    }
    const frames::TextFrame frame = frames::frameDiagnostic(encoded.bytes);
    if (!frame.ok()) {
        report(events::CommandNotBuilt{frame.error});
        return;
    }
    sendText(frame.bytes);
}

void LinkController::choosePort(const std::string& text) {
    lostPortSearch_ = false;
    if (text != kInternetEntry) {
        state.portName = text;
        state.portReady = false;
        setPortTimerEnabled(true); // its next tick closes the old port and opens this one
        internetChosen_ = false;
        if (serverUp()) {
            internet_->stopServer(0);
        }
        notifyTimers();
        return;
    }
    if (state.portReady) {
        state.portReady = false;
        if (state.remoteConnected || state.dialing) {
            hangUp();
        }
    }
    state.linkUp = false;
    setPortTimerEnabled(false);
    report(events::InternetChosen{});
    setPhase(&LinkPhase::serialMode, false);
    setPhase(&LinkPhase::manualConnect, true);
    setPhase(&LinkPhase::linkHeld, false);
    if (port_.isOpen()) {
        port_.close();
    }
    internetChosen_ = true;
    notifyTimers();
}

void LinkController::enterBootloader() {
    // The line belongs to the bootloader from now on.
    state.quietTicks = 5;
    state.bootloaderMode = true;
    setPortTimerEnabled(false);
    report(events::AwaitingBootloader{});
    if (port_.isOpen()) {
        return;
    }
    if (openPort(devicePath())) {
        state.portReady = true;
        report(events::PortOpened{state.portName});
    } else {
        setPortTimerEnabled(false);
        reportOpenFailure(false);
    }
}

void LinkController::leaveBootloader() {
    if (serverUp()) {
        report(events::InternetWaiting{state.remoteConnected});
    } else if (phase_.serialMode) {
        // A serial link mode.
        if (phase_.bootloaderReady) {
            setPhase(&LinkPhase::bootloaderReady, false);
        }
        state.bootloaderMode = false;
        if (!state.linkUp) {
            setPortTimerEnabled(true);
        } else {
            report(events::LinkShown{state.directDevice, state.deviceName});
        }
    } else {
        report(events::Offline{});
    }
}

void LinkController::startReplyWatchdog() {
    state.replyTimer = 1;
    notifyTimers();
}

void LinkController::startBootWatchdog() {
    state.bootTimer = 1;
    notifyTimers();
}

void LinkController::setFastExchange(bool on) {
    if (on == fastExchange_) {
        return;
    }
    fastExchange_ = on;
    if (on) {
        // Whatever is queued now waits for the quiet time, as it did.
        return;
    }
    // Bytes already taken are the front of the next chunk: the quiet-time
    // analysis reads them before the port's queue.
    if (!pending_.empty()) {
        state.rxCountdown = state.quietTicks;
        notifyTimers();
    }
}

void LinkController::takeInput() {
    if (analysing_) {
        // An analysis under way (one that let events run) keeps its chunk at
        // the front; what came since is taken once it is done.
        return;
    }
    // Every complete reply is analysed while the receive event that brought
    // its last byte is handled, each alone and in order; whatever is left
    // waits for more bytes or for the line to be quiet.
    pullInput();
    const std::size_t complete = completeLength();
    if (complete > 0) {
        chunk_ = Chunk::Front;
        chunkSize_ = complete;
        return;
    }
    state.rxCountdown = pending_.empty() ? 0 : state.quietTicks;
}

void LinkController::pullInput() {
    const std::size_t capacity = kRxBufferSize;
    const std::size_t room = capacity - std::min(pending_.size(), capacity);
    const int queued = port_.queuedInput();
    const std::size_t want = std::min<std::size_t>(room, queued > 0 ? queued : 0);
    if (want > 0) {
        const std::size_t old = pending_.size();
        pending_.resize(old + want);
        const int got = port_.read(pending_.data() + old, want);
        pending_.resize(old + (got > 0 ? static_cast<std::size_t>(got) : 0));
    }
    state.rxCount = static_cast<std::uint32_t>(pending_.size());
}

std::size_t LinkController::completeLength() const {
    return reply_end::completeReplyLength(pending_.data(), pending_.size(), state.bootloaderMode);
}

std::size_t LinkController::readChunk(std::uint8_t* buffer, std::size_t capacity) {
    std::size_t want = std::min<std::size_t>(state.rxCount, capacity);
    if (want == 0) {
        return 0;
    }
    std::size_t fromPending = 0;
    if (!pending_.empty()) {
        fromPending = std::min(want, pending_.size());
        std::copy_n(pending_.begin(), fromPending, buffer);
        if (!fastExchange_) {
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(fromPending));
        }
        want -= fromPending;
        buffer += fromPending;
        if (fastExchange_ || want == 0) {
            return fromPending;
        }
    }
    const int got = port_.read(buffer, want);
    const std::size_t read = got > 0 ? static_cast<std::size_t>(got) : 0;
    chunkRead_ += read;
    return fromPending + read;
}

void LinkController::discardInput(int count) {
    std::uint8_t scratch[256];
    while (count > 0) {
        // Only bytes known to be queued are read, so this never waits.
        const int queued = port_.queuedInput();
        const int take = std::min({count, queued, static_cast<int>(sizeof scratch)});
        if (take <= 0) {
            return;
        }
        const int got = port_.read(scratch, take);
        if (got <= 0) {
            return;
        }
        count -= got;
    }
}

void LinkController::setPortTimerEnabled(bool enabled) {
    if (portTimerEnabled_ == enabled) {
        return;
    }
    portTimerEnabled_ = enabled;
    observer_.timersChanged();
}

bool LinkController::tickNeeded() const {
    return state.rxCountdown > 0 || state.replyTimer > 0 || state.bootTimer > 0;
}

void LinkController::notifyTimers() {
    const bool needed = tickNeeded();
    if (needed != lastTickNeeded_) {
        lastTickNeeded_ = needed;
        observer_.timersChanged();
    }
}

void LinkController::setPhase(bool LinkPhase::*flag, bool on) {
    if (phase_.*flag == on) {
        return;
    }
    phase_.*flag = on;
    observer_.phaseChanged(phase_);
}
