#include "session/reply_handling.h"

#include "files/number_grid.h"
#include "link/link_controller.h"
#include "protocol/cp1251.h"

#include <algorithm>
#include <limits>
#include <string>

using device_replies::Channel;
using device_replies::NumberPacket;
using device_replies::Reply;
using device_replies::ReplyKind;
using device_replies::WriterStep;

ReplyHandler::ReplyHandler(LinkController& link, ProtocolState& protocol, NumberGrid* numberGrid,
                           ReplyTargets& targets)
    : link_(link), protocol_(protocol), numberGrid_(numberGrid), targets_(targets) {}

void ReplyHandler::analyseSerial() {
    const std::size_t count = link_.readChunk(rxBuffer_.data(), kRxBufferSize);
    if (count > 0) {
        analyseChunk(rxBuffer_.data(), count);
    }
}

void ReplyHandler::analyseChunk(const std::uint8_t* bytes, std::size_t count) {
    count = bytes == nullptr ? 0 : std::min<std::size_t>(count, kRxBufferSize);
    if (link_.state.bootloaderMode) {
        targets_.bootloaderChunk(bytes, count);
    }
    for (const Reply& reply : device_replies::parse(bytes, count, Channel::Serial)) {
        act(reply, Channel::Serial);
    }
    if (link_.state.debugMode) {
        link_.report(
            events::DiagnosticText{cp1251::toUtf8(device_replies::chunkText(bytes, count))});
    }
    link_.notifyTimers();
}

void ReplyHandler::analyseInternetRead(const std::uint8_t* bytes, std::size_t count) {
    count = std::min<std::size_t>(count, kRxBufferSize);
    if (bytes == nullptr || count == 0) {
        return;
    }
    for (const Reply& reply : device_replies::parse(bytes, count, Channel::Internet)) {
        act(reply, Channel::Internet);
    }
    link_.notifyTimers();
}

void ReplyHandler::act(const Reply& reply, Channel channel) {
    LinkState& st = link_.state;
    switch (reply.kind) {
    case ReplyKind::Greeting:
        st.linkUp = true;
        st.directDevice = true;
        st.remoteConnected = true;
        // The reply's log line is the link's: one event says both.
        link_.report(
            events::Linked{channel == Channel::Serial ? events::Via::Serial : events::Via::Internet,
                           st.deviceName, reply.version});
        return;
    case ReplyKind::NumberPacket:
        numberPacket(reply.packet, channel);
        return;
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
        targets_.resendBatch();
        return;
    case ReplyKind::ConfigWritten:
        protocol_.configWritePending = false;
        break;
    case ReplyKind::ConfigRead:
        targets_.configBlockRead(reply.block);
        link_.report(events::ConfigRead{reply.block});
        protocol_.configReadPending = false;
        stopWatchdog();
        targets_.numbersWanted();
        return;
    case ReplyKind::KeyReported:
        // A report without a key has nothing to add.
        if (!reply.key.empty() && targets_.numberListShown()) {
            targets_.keyReported(cp1251::toUtf8(reply.key));
        }
        return;
    default:
        break;
    }
    if (reply.meaning.logged) {
        reportReply(reply.kind);
    }
    if (reply.meaning.stopsWatchdog) {
        stopWatchdog();
    }
    writeNumbers(reply.meaning.writerStep);
}

void ReplyHandler::numberPacket(const NumberPacket& packet, Channel channel) {
    if (channel == Channel::Internet) {
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
        targets_.badPackets(protocol_.badPacketCount);
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
        targets_.numberListRead();
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

void ReplyHandler::writeNumbers(WriterStep step) {
    if (step != WriterStep::None) {
        targets_.writerStep(step);
    }
}
