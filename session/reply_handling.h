// Acting on what the device sends back: the replies that device_replies
// recognised in a chunk are carried out one by one, in the order the link
// checks them: log lines, the link flags, acknowledgements of number packets
// and the number list. What a reply asks of the rest of the session (the
// number read after a configuration read, the number writer, a key for the
// list) is handed back as a request; the session carries it out before the
// next reply of the chunk is acted on.
//
// The session takes a chunk (a quiet chunk of the serial port, or one read of
// the Internet link) and then calls next() until it answers nothing.
#pragma once

#include "link/link_state.h"
#include "protocol/device_replies.h"
#include "protocol/frames.h"
#include "protocol/protocol_state.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

class LinkController;
class NumberGrid;

// What a reply asks of the session beyond the link and the number list.
namespace reply_requests {
// A configuration read is answered: the number list is read next.
struct ReadNumbers {};
struct StepWriter {
    device_replies::WriterStep step = device_replies::WriterStep::None;
};
// A number read has ended with the whole list in the grid.
struct NumberListRead {};
// The Internet link's "ADN": the writer's last batch again.
struct ResendBatch {};
// A key the device reported, as UTF-8: it belongs in the list while the list
// is in front of the user.
struct AddKey {
    std::string utf8;
};
} // namespace reply_requests

using ReplyRequest = std::variant<reply_requests::ReadNumbers, reply_requests::StepWriter,
                                  reply_requests::NumberListRead, reply_requests::ResendBatch,
                                  reply_requests::AddKey>;

class ReplyHandler {
  public:
    // The grid that number packets are written into; none means the records
    // have nowhere to go and are dropped with a log line.
    ReplyHandler(LinkController& link, ProtocolState& protocol, NumberGrid* numberGrid);

    // Reads the announced chunk from the serial port and takes it. Returns
    // its bytes (empty when none came): while the bootloader has the line,
    // it sees the whole chunk before the replies are acted on.
    std::span<const std::uint8_t> takeSerial();
    // Takes a serial chunk already read; at most 1024 bytes are looked at.
    std::span<const std::uint8_t> takeSerial(const std::uint8_t* bytes, std::size_t count);
    // Takes one read of the Internet link client (at most 1024 bytes are
    // looked at; the server reads no more at a time).
    void takeInternetRead(const std::uint8_t* bytes, std::size_t count);

    // Acts on the replies of the chunk taken, up to the first one that asks
    // something of the session, and returns what it asks. Nothing: the
    // chunk is done (in diagnostic mode its text went to the log, and the
    // ticks were adjusted).
    std::optional<ReplyRequest> next();

    // A number read without a configuration read before it, or a read cut
    // short: its end reports no DeviceRead.
    void forgetConfigRead() { blockRead_.reset(); }

    ProtocolState& protocol() { return protocol_; }
    // Where the records of number packets go from now on.
    void setNumberGrid(NumberGrid* grid) { numberGrid_ = grid; }

    // Packets longer than this are not number packets (21 records).
    static constexpr std::size_t kMaxPacket = device_replies::kMaxPacket;

  private:
    void take(const std::uint8_t* bytes, std::size_t count, device_replies::Channel channel);
    std::optional<ReplyRequest> act(const device_replies::Reply& reply);
    void numberPacket(const device_replies::NumberPacket& packet);
    // Writes the records of an accepted packet into the grid and advances
    // nextNumberRow; logs the end of the list for the kind "E".
    void storePacket(const device_replies::NumberPacket& packet);
    // The event of a reply whose meaning is a log line.
    void reportReply(device_replies::ReplyKind kind);
    void stopWatchdog();
    // While the number read is incomplete, the watchdog waits for the next packet.
    void awaitNextPacket();
    // The device said its list is over ("E" packet or "READOK").
    void numberReadEnded();

    LinkController& link_;
    ProtocolState& protocol_;
    NumberGrid* numberGrid_;
    // The serial chunk read from the port.
    std::array<std::uint8_t, kRxBufferSize> rxBuffer_{};
    // The chunk taken: its replies, the next one to act on, and its text
    // for the diagnostic echo of a serial chunk.
    std::vector<device_replies::Reply> replies_;
    std::size_t nextReply_ = 0;
    device_replies::Channel channel_ = device_replies::Channel::Serial;
    bool chunkOpen_ = false;
    std::string echo_;
    // The block of a configuration read whose number read is under way.
    std::optional<frames::ConfigBlockBytes> blockRead_;
    // The reply just acted on ended a number read: next() says so before
    // the next reply.
    bool listEnded_ = false;
};
