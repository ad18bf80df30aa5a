#include "sim/device.h"

#include <algorithm>
#include <utility>

namespace sim {

std::string joined(const Reply& reply) {
    std::string all;
    for (const auto& piece : reply) {
        all += piece.bytes;
    }
    return all;
}

namespace {

void put16(ConfigBlockBytes& block, std::size_t at, std::uint16_t value) {
    block[at] = static_cast<std::uint8_t>(value & 0xFF);
    block[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(ConfigBlockBytes& block, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        block[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace

ConfigBlockBytes factoryConfigBlock() {
    ConfigBlockBytes block{};
    put16(block, 0, kFactoryPassword);
    block[3] = 3;          // relay mode: pulse
    put32(block, 4, 5000); // pulse, ms
    put32(block, 8, 50);   // pause, ms
    block[12] = 1;         // repetitions
    block[13] = 20;        // disarm time, s
    block[14] = 20;        // arm time, s
    block[15] = 5;         // re-arm time, min
    block[16] = 3;         // input mode: touch memory
    put16(block, 58, 1);   // device number
    block[62] = '+';
    block[63] = '7';
    return block;
}

std::uint16_t DeviceState::password() const {
    return static_cast<std::uint16_t>(configBlock[0] | (configBlock[1] << 8));
}

void DeviceState::setPassword(std::uint16_t value) {
    put16(configBlock, 0, value);
}

std::vector<std::pair<std::size_t, NumberEntry>> DeviceState::storedNumbers() const {
    std::vector<std::pair<std::size_t, NumberEntry>> stored;
    for (std::size_t cell = 0; cell < numbers.size() && cell < numberCapacity; ++cell) {
        if (!numbers[cell].free()) {
            stored.emplace_back(cell, numbers[cell]);
        }
    }
    return stored;
}

SimDevice::SimDevice() : SimDevice(DeviceState{}) {}

SimDevice::SimDevice(DeviceState state, Carrier carrier)
    : state_(std::move(state)), carrier_(carrier) {
    installSharedCommands();
    if (carrier_ == Carrier::Serial) {
        installSerialCommands();
    } else {
        installTcpCommands();
    }
}

namespace {

// Text commands may come as a text message from a phone, ending in Ctrl-Z
// before the carriage return; the device reads them the same way.
std::string_view withoutCtrlZ(std::string_view payload) {
    if (!payload.empty() && payload.back() == '\x1A') {
        payload.remove_suffix(1);
    }
    return payload;
}

} // namespace

void SimDevice::installSharedCommands() {
    using F = Command::Framing;
    addCommand({.keyword = "CONFR",
                .framing = F::FixedPayload,
                .payloadBytes = 2,
                .handler = [](SimDevice& d, std::string_view p) { return d.onConfigRead(p); }});
    addCommand({.keyword = "CONFW",
                .framing = F::FixedPayload,
                .payloadBytes = kConfigBlockSize,
                .handler = [](SimDevice& d, std::string_view p) { return d.onConfigWrite(p); }});
    addCommand({.keyword = "CHPASS",
                .framing = F::CarriageReturn,
                .handler = [](SimDevice& d, std::string_view p) {
                    return d.onChangePassword(withoutCtrlZ(p));
                }});
    addCommand({.keyword = "APN",
                .framing = F::CarriageReturn,
                .handler = [](SimDevice& d, std::string_view p) { return d.onAccessPoint(p); }});
    // Commands without arguments are known with their carriage return, so
    // that a stray keyword never holds back the commands after it.
    addCommand({.keyword = "R_OK\r",
                .framing = F::Bare,
                .handler = [](SimDevice& d, std::string_view) { return d.onReceiveOk(); }});
    addCommand({.keyword = "RFAIL\r",
                .framing = F::Bare,
                .handler = [](SimDevice& d, std::string_view) { return d.onReceiveFail(); }});
}

void SimDevice::installSerialCommands() {
    using F = Command::Framing;
    // The configurator greets with "CONFO" once a second until the device
    // answers; the greeting carries the firmware version.
    addCommand(
        {.keyword = "CONFO", .framing = F::Bare, .handler = [](SimDevice& d, std::string_view) {
             if (!d.linked_) {
                 d.linked_ = true;
                 if (!d.sayAfterLink_.empty()) {
                     d.unsolicited_.push_back({d.sayAfterLink_, d.sayDelay_});
                 }
             }
             return d.greeting();
         }});
    addCommand(
        {.keyword = "CONFC\r", .framing = F::Bare, .handler = [](SimDevice& d, std::string_view) {
             d.linkClosed();
             return std::string();
         }});
    addCommand(
        {.keyword = "!RST", .framing = F::Bare, .handler = [](SimDevice& d, std::string_view) {
             d.linkClosed();
             d.state_.bootloaderMode = true;
             d.loader_ = LoaderSession{};
             return std::string();
         }});
    addCommand({.keyword = "READ",
                .framing = F::CarriageReturn,
                .handler = [](SimDevice& d, std::string_view p) { return d.onRead(p); }});
    addCommand({.keyword = "RT+NTF",
                .framing = F::CarriageReturn,
                .handler = [](SimDevice& d, std::string_view p) { return d.onWriteCell(p); }});
    addCommand({.keyword = "RT+EFA",
                .framing = F::CarriageReturn,
                .handler = [](SimDevice& d, std::string_view p) { return d.onFreeFrom(p); }});
    addCommand({.keyword = "ADD",
                .framing = F::CarriageReturn,
                .handler = [](SimDevice& d, std::string_view p) { return d.onAdd(p); }});
    addCommand({.keyword = "DEL",
                .framing = F::CarriageReturn,
                .handler = [](SimDevice& d, std::string_view p) { return d.onDelete(p); }});
    addCommand({.keyword = "ERASE",
                .framing = F::CarriageReturn,
                .handler = [](SimDevice& d, std::string_view p) { return d.onErase(p); }});
}

void SimDevice::installTcpCommands() {
    using F = Command::Framing;
    // On the Internet link the list commands have no terminator and no password:
    // the connection itself was opened by the device.
    addCommand({.keyword = "READ",
                .framing = F::Bare,
                .handler = [](SimDevice& d, std::string_view) { return d.onRead({}); }});
    addCommand({.keyword = "ERASE",
                .framing = F::Bare,
                .handler = [](SimDevice& d, std::string_view) { return d.onErase({}); }});
    addCommand({.keyword = "ADN",
                .framing = F::Measured,
                .measure = [](std::string_view rest) -> std::size_t {
                    if (rest.empty()) {
                        return Command::kNeedMore;
                    }
                    const auto n = static_cast<unsigned char>(rest[0]);
                    if (n == 0 || n > kMaxBatchRecords) {
                        // No sound batch starts like this; what came with it is
                        // part of the same spoiled packet.
                        return rest.size();
                    }
                    const std::size_t size = 1 + n * kNumberRecordSize + 1;
                    return rest.size() >= size ? size : Command::kNeedMore;
                },
                .handler = [](SimDevice& d, std::string_view p) { return d.onBatch(p); }});
    addCommand(
        {.keyword = "CLOSED", .framing = F::Bare, .handler = [](SimDevice& d, std::string_view) {
             d.closeRequested_ = true;
             return std::string();
         }});
}

void SimDevice::addCommand(Command command) {
    commands_.push_back(std::move(command));
}

std::string SimDevice::greeting() const {
    std::string g = "VELIRAN ";
    g.push_back(static_cast<char>(state_.firmwareVersion));
    g.push_back('#');
    return g;
}

void SimDevice::setSayAfterLink(std::string text, std::chrono::milliseconds delay) {
    sayAfterLink_ = std::move(text);
    sayDelay_ = delay;
}

void SimDevice::say(std::string text) {
    if (!text.empty()) {
        unsolicited_.push_back({std::move(text), std::chrono::milliseconds{0}});
    }
}

void SimDevice::linkOpened() {
    closeRequested_ = false;
    batchesThisLink_ = 0;
    input_.clear();
    read_ = ReadSession{};
    linked_ = true;
    announcePending_ = true;
    if (!sayAfterLink_.empty()) {
        unsolicited_.push_back({sayAfterLink_, sayDelay_});
    }
}

void SimDevice::linkClosed() {
    read_ = ReadSession{};
    if (carrier_ == Carrier::Tcp) {
        input_.clear();
        unsolicited_.clear();
        announcePending_ = false;
        linked_ = false;
    }
}

Reply SimDevice::takeUnsolicited() {
    Reply out;
    if (announcePending_) {
        // The announcement is not an answer: a device that answers nothing
        // still says who it is when it connects.
        out.push_back({"CONNECT", std::chrono::milliseconds{0}});
        announcePending_ = false;
    }
    if (!faults_.noReply) {
        out.insert(out.end(), unsolicited_.begin(), unsolicited_.end());
    }
    unsolicited_.clear();
    return out;
}

std::size_t SimDevice::keywordStartAtEnd() const {
    std::size_t keep = 0;
    for (const auto& command : commands_) {
        const std::string& k = command.keyword;
        if (k.empty() || command.inBootloader != state_.bootloaderMode) {
            continue;
        }
        for (std::size_t n = std::min(k.size() - 1, input_.size()); n > keep; --n) {
            if (input_.compare(input_.size() - n, n, k, 0, n) == 0) {
                keep = n;
                break;
            }
        }
    }
    return keep;
}

SimDevice::Match SimDevice::findCommand() const {
    Match best{std::string::npos, nullptr};
    for (const auto& command : commands_) {
        if (command.keyword.empty() || command.inBootloader != state_.bootloaderMode) {
            continue;
        }
        const auto at = input_.find(command.keyword);
        if (at == std::string::npos) {
            continue;
        }
        // The earliest command wins; at the same place the longer keyword.
        if (best.command == nullptr || at < best.position ||
            (at == best.position && command.keyword.size() > best.command->keyword.size())) {
            best = {at, &command};
        }
    }
    return best;
}

bool SimDevice::answerAllowed(std::string_view keyword) {
    if (faults_.silence != armedSilence_) {
        armedSilence_ = faults_.silence;
        silenceCount_ = 0;
    }
    const StepFault& f = armedSilence_;
    if (!keyword.empty() && keyword.back() == '\r') {
        keyword.remove_suffix(1); // "R_OK\r" is named "R_OK"
    }
    if (f.mode == StepFault::Mode::Off || f.keyword != keyword) {
        return true;
    }
    ++silenceCount_;
    if (silenceCount_ != f.step) {
        return true;
    }
    if (f.mode == StepFault::Mode::GoSilent) {
        faults_.noReply = true; // visible to the tests, and lifted by them
    }
    return false;
}

Reply SimDevice::feed(std::string_view bytes) {
    if (state_.bootloaderMode && carrier_ == Carrier::Serial) {
        return feedBootloader(bytes);
    }
    input_.append(bytes);
    std::string out;
    while (!closeRequested_) {
        const Match match = findCommand();
        if (match.command == nullptr) {
            // Nothing recognisable: keep only what may still grow into a keyword.
            input_.erase(0, input_.size() - keywordStartAtEnd());
            break;
        }
        input_.erase(0, match.position); // noise before the command
        const Command& command = *match.command;
        const std::size_t kw = command.keyword.size();
        std::size_t consumed = kw;
        std::string payload;
        bool complete = true;
        switch (command.framing) {
        case Command::Framing::Bare:
            break;
        case Command::Framing::FixedPayload:
            if (input_.size() < kw + command.payloadBytes) {
                complete = false;
            } else {
                payload = input_.substr(kw, command.payloadBytes);
                consumed = kw + command.payloadBytes;
            }
            break;
        case Command::Framing::Measured: {
            const std::size_t size = command.measure(std::string_view(input_).substr(kw));
            if (size == Command::kNeedMore) {
                complete = false;
            } else {
                payload = input_.substr(kw, size);
                consumed = kw + size;
            }
            break;
        }
        case Command::Framing::CarriageReturn: {
            const auto cr = input_.find('\r', kw);
            if (cr == std::string::npos) {
                complete = false;
                if (input_.size() > kMaxTextCommand) {
                    // A line that never ends is noise; look past its keyword.
                    input_.erase(0, kw);
                    continue;
                }
            } else {
                payload = input_.substr(kw, cr - kw);
                consumed = cr + 1;
            }
            break;
        }
        }
        if (!complete) {
            break; // wait for the rest of this command
        }
        input_.erase(0, consumed);
        if (command.handler) {
            const std::string keyword = command.keyword; // the table entry may not outlive the call
            std::string answer = command.handler(*this, payload);
            if (answerAllowed(keyword)) {
                out += answer;
            }
        }
    }
    if (closeRequested_) {
        input_.clear(); // nothing after "CLOSED" is read any more
    }
    if (faults_.noReply) {
        return {};
    }
    return shape(std::move(out));
}

Reply SimDevice::shape(std::string reply) const {
    Reply pieces;
    if (reply.empty()) {
        return pieces;
    }
    if (faults_.randomSplitSeed != 0) {
        if (!splitRandomSeeded_) {
            splitRandom_.seed(faults_.randomSplitSeed);
            splitRandomSeeded_ = true;
        }
        std::uniform_int_distribution<std::size_t> size(1, 16);
        std::uniform_int_distribution<long> gap(0, faults_.splitGap.count());
        for (std::size_t at = 0; at < reply.size();) {
            const std::size_t take = std::min(size(splitRandom_), reply.size() - at);
            pieces.push_back({reply.substr(at, take),
                              std::chrono::milliseconds{at == 0 ? 0 : gap(splitRandom_)}});
            at += take;
        }
        return pieces;
    }
    if (faults_.splitReplyBytes == 0 || reply.size() <= faults_.splitReplyBytes) {
        pieces.push_back({std::move(reply), std::chrono::milliseconds{0}});
        return pieces;
    }
    for (std::size_t at = 0; at < reply.size(); at += faults_.splitReplyBytes) {
        pieces.push_back({reply.substr(at, faults_.splitReplyBytes),
                          at == 0 ? std::chrono::milliseconds{0} : faults_.splitGap});
    }
    return pieces;
}

namespace wire {

bool decimal(std::string_view text, std::size_t maxDigits, unsigned long* value) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    unsigned long v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + static_cast<unsigned long>(c - '0');
    }
    *value = v;
    return true;
}

bool passwordMatches(std::string_view text, std::uint16_t password) {
    unsigned long value = 0;
    return decimal(text, 5, &value) && value == password;
}

std::string numberPacket(const std::vector<NumberEntry>& records, bool last) {
    std::string packet(1, last ? 'E' : 'R');
    for (const auto& r : records) {
        std::string text = r.number.substr(0, kNumberTextSize);
        text.resize(kNumberTextSize, '\0');
        packet += text;
        packet.push_back(static_cast<char>(r.apartment & 0xFF));
        packet.push_back(static_cast<char>(r.apartment >> 8));
    }
    packet.push_back('@');
    return packet;
}

std::string ipdFrame(std::string_view packet) {
    return "+IPD," + std::to_string(packet.size()) + ":" + std::string(packet);
}

} // namespace wire

} // namespace sim
