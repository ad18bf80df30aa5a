// Acting on what the device sends back: the replies that device_replies
// recognised in a chunk are carried out one by one, in the order the link
// checks them: log lines, the link flags, acknowledgements of number packets,
// the number list, the configuration read and the number writer.
//
// Receive_analyse takes a quiet chunk of the serial port; ServerSocket1ClientRead
// takes one read of the Internet link.
#pragma once

#include "link/link_state.h"
#include "protocol/device_replies.h"
#include "protocol/frames.h"
#include "protocol/protocol_state.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class LinkController;
class NumberGrid;

class ReplyHandler {
  public:
    // With a protocol state of its own (enough for the greeting and the
    // plain replies)...
    explicit ReplyHandler(LinkController& link);
    // ...or with the one shared with the command operations.
    ReplyHandler(LinkController& link, ProtocolState& protocol);

    // Reads the announced chunk from the serial port and acts on it. Called
    // by the 20 ms tick once the line has been quiet.
    void Receive_analyse();
    // Acts on a serial chunk already read (the part of Receive_analyse after
    // the read). At most 1024 bytes are looked at.
    void analyseChunk(const std::uint8_t* bytes, std::size_t count);

    // Acts on the bytes of one read of the Internet link client (at most
    // 1024 are looked at; the server reads no more at a time).
    void ServerSocket1ClientRead(const std::uint8_t* bytes, std::size_t count);

    ProtocolState& protocol() { return protocol_; }

    // The number grid that number packets are written into; none means the
    // records have nowhere to go and are dropped with a log line.
    NumberGrid* numberGrid = nullptr;

    // Calls into the rest of the program, set by the window. Unset hooks do
    // nothing.
    // The firmware exchange sees every serial chunk while the firmware page is active.
    std::function<void(const std::uint8_t*, std::size_t)> Bootloader_analyse;
    // The 68 bytes of a configuration reply: copy into configBlock, fill the pages.
    std::function<void(const frames::ConfigBlockBytes& block)> Read_conf;
    // The click action of Read_numbers: clear the grid and ask for the list.
    std::function<void()> Read_numbersClick;
    // One step of the bulk number writer: 0 start, 1 next, 2 refused.
    std::function<void(int step)> WriteNumbers;
    // A key the device reported, as UTF-8, for the number list (add if absent).
    std::function<void(const std::string& utf8)> AddToNumListString;
    // The page shown now; 0 is the number list.
    std::function<int()> currentPage;
    // The Internet link's "ADN": send the writer's last record batch again.
    std::function<void()> resendLastBatch;
    // The caption of Label7: the count of bad number packets.
    std::function<void(const std::string& caption)> setLabel7Caption;

    // Packets longer than this are not number packets (21 records).
    static constexpr std::size_t kMaxPacket = device_replies::kMaxPacket;

  private:
    void act(const device_replies::Reply& reply, device_replies::Channel channel);
    void numberPacket(const device_replies::NumberPacket& packet, device_replies::Channel channel);
    // Writes the records of an accepted packet into the grid and advances
    // nextNumberRow; logs the end of the list for the kind "E".
    void storePacket(const device_replies::NumberPacket& packet);
    void stopWatchdog();
    void writeNumbers(device_replies::WriterStep step);
    // The device said its list is over ("E" packet or "READOK").
    void numberReadEnded();

    LinkController& link_;
    ProtocolState ownProtocol_;
    ProtocolState& protocol_;
    // The serial chunk read from the port.
    std::array<std::uint8_t, kRxBufferSize> rxBuffer_{};
};
