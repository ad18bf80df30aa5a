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

SimDevice::SimDevice() : SimDevice(DeviceState{}) {}

SimDevice::SimDevice(DeviceState state) : state_(std::move(state)) {
    // The configurator greets with "CONFO" once a second until the device
    // answers; the greeting carries the firmware version.
    addCommand({.keyword = "CONFO",
                .framing = Command::Framing::Bare,
                .handler = [](SimDevice& device, std::string_view) { return device.greeting(); }});
}

void SimDevice::addCommand(Command command) {
    longestKeyword_ = std::max(longestKeyword_, command.keyword.size());
    commands_.push_back(std::move(command));
}

std::string SimDevice::greeting() const {
    std::string g = "VELIRAN ";
    g.push_back(static_cast<char>(state_.firmwareVersion));
    g.push_back('#');
    return g;
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

Reply SimDevice::feed(std::string_view bytes) {
    input_.append(bytes);
    std::string out;
    for (;;) {
        const Match match = findCommand();
        if (match.command == nullptr) {
            // Nothing recognisable: keep only what may still grow into a keyword.
            const std::size_t keep =
                std::min(input_.size(), longestKeyword_ > 0 ? longestKeyword_ - 1 : 0);
            input_.erase(0, input_.size() - keep);
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
            out += command.handler(*this, payload);
        }
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

} // namespace sim
