#include "session/reply_handling.h"

#include "files/number_grid.h"
#include "link/link_controller.h"
#include "protocol/cp1251.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

using device_replies::Channel;
using device_replies::NumberPacket;
using device_replies::Reply;
using device_replies::ReplyKind;
using device_replies::WriterStep;

ReplyHandler::ReplyHandler(LinkController& link, ProtocolState& protocol, NumberGrid* numberGrid)
    : link_(link), protocol_(protocol), numberGrid_(numberGrid) {}

std::span<const std::uint8_t> ReplyHandler::takeSerial() {
    const std::size_t count = link_.readChunk(rxBuffer_.data(), kRxBufferSize);
    if (count == 0) {
        return {};
    }
    return takeSerial(rxBuffer_.data(), count);
}

std::span<const std::uint8_t> ReplyHandler::takeSerial(const std::uint8_t* bytes,
                                                       std::size_t count) {
    count = bytes == nullptr ? 0 : std::min<std::size_t>(count, kRxBufferSize);
    take(bytes, count, Channel::Serial);
    echo_ = device_replies::chunkText(bytes, count);
    return {bytes, count};
}

void ReplyHandler::takeInternetRead(const std::uint8_t* bytes, std::size_t count) {
    count = std::min<std::size_t>(count, kRxBufferSize);
    if (bytes == nullptr || count == 0) {
        replies_.clear();
        chunkOpen_ = false;
        return;
    }
    take(bytes, count, Channel::Internet);
}

void ReplyHandler::take(const std::uint8_t* bytes, std::size_t count, Channel channel) {
    replies_ = device_replies::parse(bytes, count, channel);
    nextReply_ = 0;
    channel_ = channel;
    chunkOpen_ = true;
    echo_.clear();
}

std::optional<ReplyRequest> ReplyHandler::next() {
    while (chunkOpen_) {
        if (std::exchange(listEnded_, false)) {
            return reply_requests::NumberListRead{};
        }
        if (nextReply_ >= replies_.size()) {
            break;
        }
        if (std::optional<ReplyRequest> request = act(replies_[nextReply_++])) {
            return request;
        }
    }
    if (chunkOpen_) {
        chunkOpen_ = false;
        if (channel_ == Channel::Serial && link_.state.debugMode) {
            link_.report(events::DiagnosticText{cp1251::toUtf8(echo_)});
        }
        link_.notifyTimers();
    }
    return std::nullopt;
}

std::optional<ReplyRequest> ReplyHandler::act(const Reply& reply) {
    LinkState& st = link_.state;
    switch (reply.kind) {
    case ReplyKind::Greeting:
        st.linkUp = true;
        st.directDevice = true;
        st.remoteConnected = true;
        // The reply's log line is the link's: one event says both.
        link_.report(events::Linked{channel_ == Channel::Serial ? events::Via::Serial
                                                                : events::Via::Internet,
                                    st.deviceName, reply.version});
        return std::nullopt;
    case ReplyKind::NumberPacket:
        numberPacket(reply.packet);
        return std::nullopt;
    case ReplyKind::Connected:
        if (reply.meaning.linksRemoteDevice) {
            st.remoteConnected = true;
            st.directDevice = false;
            link_.setPhase(&LinkPhase::linkHeld, true);
        }
        break;
    case ReplyKind::ReadDone:
        numberReadEnded();
        break;
    case ReplyKind::ResendBatch:
        stopWatchdog();
        return reply_requests::ResendBatch{};
    case ReplyKind::ConfigWritten:
        protocol_.configWritePending = false;
        break;
    case ReplyKind::ConfigRead:
        blockRead_ = reply.block;
        link_.report(events::ConfigRead{reply.block});
        protocol_.configReadPending = false;
        stopWatchdog();
        return reply_requests::ReadNumbers{};
    case ReplyKind::KeyReported:
        // A report without a key has nothing to add.
        if (reply.key.empty()) {
            return std::nullopt;
        }
        return reply_requests::AddKey{cp1251::toUtf8(reply.key)};
    default:
        break;
    }
    if (reply.meaning.logged) {
        reportReply(reply.kind);
    }
    if (reply.meaning.stopsWatchdog) {
        stopWatchdog();
    }
    if (reply.meaning.writerStep != WriterStep::None) {
        return reply_requests::StepWriter{reply.meaning.writerStep};
    }
    return std::nullopt;
}

void ReplyHandler::numberPacket(const NumberPacket& packet) {
    if (channel_ == Channel::Internet) {
        if (packet.verdict == NumberPacket::Verdict::TooLong) {
            link_.report(events::PacketTooLong{kMaxPacket});
            return;
        }
        storePacket(packet);
        const std::string ok = frames::frameReceiveOk();
        if (InternetTransport* internet = link_.internet()) {
            internet->sendToClient(reinterpret_cast<const std::uint8_t*>(ok.data()), ok.size());
        }
        stopWatchdog();
        awaitNextPacket();
        return;
    }
    stopWatchdog();
    if (protocol_.configReadPending) {
        // A configuration reply may come inside a "+IPD" header; "CONFR" takes it.
        return;
    }
    switch (packet.verdict) {
    case NumberPacket::Verdict::Accepted:
        storePacket(packet);
        link_.sendText(frames::frameReceiveOk());
        awaitNextPacket();
        return;
    case NumberPacket::Verdict::Refused:
        link_.sendText(frames::frameReceiveFail());
        ++protocol_.badPacketCount;
        link_.report(events::BadPackets{protocol_.badPacketCount});
        awaitNextPacket();
        return;
    default:
        return;
    }
}

void ReplyHandler::numberReadEnded() {
    if (protocol_.numberReadPending) {
        protocol_.numberReadPending = false;
        protocol_.numberListComplete = true;
        listEnded_ = true;
        if (const auto block = std::exchange(blockRead_, std::nullopt)) {
            link_.report(events::DeviceRead{*block});
        }
    }
}

void ReplyHandler::storePacket(const NumberPacket& packet) {
    if (packet.last) {
        link_.report(events::NumberListEnded{});
    }
    const int rows = numberGrid_ != nullptr ? numberGrid_->rowCount() : 0;
    std::size_t dropped = 0;
    for (std::size_t i = 0; i < packet.records.size(); ++i) {
        const frames::NumberRecord& record = packet.records[i];
        const std::int64_t row = std::int64_t{protocol_.nextNumberRow} + std::int64_t(i);
        if (row < 1 || row > rows) {
            ++dropped;
            continue;
        }
        numberGrid_->setCell(NumberGrid::kNumberColumn, static_cast<int>(row),
                             cp1251::toUtf8(record.number));
        numberGrid_->setCell(NumberGrid::kApartmentColumn, static_cast<int>(row),
                             std::to_string(record.apartment));
    }
    const std::int64_t next =
        std::int64_t{protocol_.nextNumberRow} + std::int64_t(packet.records.size());
    protocol_.nextNumberRow = static_cast<std::int32_t>(
        std::min<std::int64_t>(next, std::numeric_limits<std::int32_t>::max()));
    if (dropped > 0) {
        link_.report(events::NumbersOutsideList{rows, dropped});
        // The grid does not hold what the device sent.
        protocol_.numberReadPending = false;
        protocol_.numberListComplete = false;
    }
    // The end only once the last records are in the grid.
    if (packet.last) {
        numberReadEnded();
    }
}

void ReplyHandler::reportReply(ReplyKind kind) {
    switch (kind) {
    case ReplyKind::WrongPassword:
        link_.report(events::WrongPassword{});
        return;
    case ReplyKind::PasswordChanged:
        link_.report(events::PasswordChanged{});
        return;
    case ReplyKind::ApnChanged:
        link_.report(events::ApnSent{});
        return;
    case ReplyKind::ConfigWritten:
        link_.report(events::ConfigWritten{});
        return;
    case ReplyKind::ReadDone:
        link_.report(events::NumberListEnded{});
        return;
    case ReplyKind::NumbersWritten:
        // How many the writer sent is the session's to say.
        link_.report(events::NumbersWritten{-1});
        return;
    default:
        link_.report(events::DeviceSaid{kind});
        return;
    }
}

void ReplyHandler::stopWatchdog() {
    link_.state.replyTimer = 0;
}

void ReplyHandler::awaitNextPacket() {
    // Each packet answers the acknowledgement of the one before: a device
    // that falls silent in the middle of its list is lost like any other
    // that stops answering.
    if (protocol_.numberReadPending) {
        link_.startReplyWatchdog();
    }
}
