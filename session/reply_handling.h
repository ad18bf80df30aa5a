// Acting on what the device sends back: the replies that device_replies
// recognised in a chunk are carried out one by one, in the order the link
// checks them: log lines, the link flags, acknowledgements of number packets,
// the number list, the configuration read and the number writer.
//
// analyseSerial takes a quiet chunk of the serial port; analyseInternetRead
// one read of the Internet link.
#pragma once

#include "link/link_state.h"
#include "protocol/device_replies.h"
#include "protocol/frames.h"
#include "protocol/protocol_state.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class LinkController;
class NumberGrid;

// What the replies drive beyond the link: the session's number list, its
// writer, its firmware exchange and the configuration it shows.
class ReplyTargets {
  public:
    virtual ~ReplyTargets() = default;
    // Every serial chunk while the firmware page is active.
    virtual void bootloaderChunk(const std::uint8_t* bytes, std::size_t count) = 0;
    // The 68 bytes of a configuration reply.
    virtual void configBlockRead(const frames::ConfigBlockBytes& block) = 0;
    // A configuration read is answered: the number list is read next.
    virtual void numbersWanted() = 0;
    virtual void writerStep(device_replies::WriterStep step) = 0;
    // A key the device reported, as UTF-8 (only while the list is shown).
    virtual void keyReported(const std::string& utf8) = 0;
    virtual bool numberListShown() const = 0;
    // The Internet link's "ADN": the writer's last batch again.
    virtual void resendBatch() = 0;
    // Number packets refused since the number read started.
    virtual void badPackets(std::uint8_t count) = 0;
    // The number read ended with the device's whole list in the grid.
    virtual void numberListRead() {}
};

class ReplyHandler {
  public:
    // The grid that number packets are written into; none means the records
    // have nowhere to go and are dropped with a log line.
    ReplyHandler(LinkController& link, ProtocolState& protocol, NumberGrid* numberGrid,
                 ReplyTargets& targets);

    // Reads the announced chunk from the serial port and acts on it. Called
    // by the 20 ms tick once the line has been quiet.
    void analyseSerial();
    // Acts on a serial chunk already read (the part of analyseSerial after
    // the read). At most 1024 bytes are looked at.
    void analyseChunk(const std::uint8_t* bytes, std::size_t count);

    // Acts on the bytes of one read of the Internet link client (at most
    // 1024 are looked at; the server reads no more at a time).
    void analyseInternetRead(const std::uint8_t* bytes, std::size_t count);

    ProtocolState& protocol() { return protocol_; }
    // Where the records of number packets go from now on.
    void setNumberGrid(NumberGrid* grid) { numberGrid_ = grid; }

    // Packets longer than this are not number packets (21 records).
    static constexpr std::size_t kMaxPacket = device_replies::kMaxPacket;

  private:
    void act(const device_replies::Reply& reply, device_replies::Channel channel);
    void numberPacket(const device_replies::NumberPacket& packet, device_replies::Channel channel);
    // Writes the records of an accepted packet into the grid and advances
    // nextNumberRow; logs the end of the list for the kind "E".
    void storePacket(const device_replies::NumberPacket& packet);
    // The event of a reply whose meaning is a log line.
    void reportReply(device_replies::ReplyKind kind);
    void stopWatchdog();
    // While the number read is incomplete, the watchdog waits for the next packet.
    void awaitNextPacket();
    void writeNumbers(device_replies::WriterStep step);
    // The device said its list is over ("E" packet or "READOK").
    void numberReadEnded();

    LinkController& link_;
    ProtocolState& protocol_;
    NumberGrid* numberGrid_;
    ReplyTargets& targets_;
    // The serial chunk read from the port.
    std::array<std::uint8_t, kRxBufferSize> rxBuffer_{};
};
