// Analysis of what the device sends back: one chunk at a time, by substring
// tests over the chunk's zero-terminated text, in a fixed order. Every test
// that matches acts; replies are not matched to the command that caused them.
//
// Receive_analyse takes a quiet chunk of the serial port; ServerSocket1ClientRead
// takes one read of the Internet link. The byte-wise parts (greeting version,
// number packets, configuration block, key text) read the chunk at fixed
// offsets; an offset past the received bytes reads as zero, so nothing is
// ever read beyond the chunk.
#pragma once

#include "link/link_state.h"
#include "protocol/frames.h"
#include "protocol/protocol_state.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class LinkController;
class NumberGrid;

class ReplyAnalyser {
  public:
    // With a protocol state of its own (enough for the greeting and the
    // plain replies)...
    explicit ReplyAnalyser(LinkController& link);
    // ...or with the one shared with the command operations.
    ReplyAnalyser(LinkController& link, ProtocolState& protocol);

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
    static constexpr std::size_t kMaxPacket = 254;

  private:
    // The received chunk and a zero after it, as the token tests see it.
    struct Chunk {
        const std::uint8_t* data;
        std::size_t count;
        std::string_view text; // up to the first zero byte
        std::uint8_t at(std::size_t i) const { return i < count ? data[i] : 0; }
        bool has(std::string_view token) const { return text.find(token) != npos; }
        std::size_t find(std::string_view token) const { return text.find(token); }
        static constexpr std::size_t npos = std::string_view::npos;
    };
    static Chunk makeChunk(const std::uint8_t* buffer, std::size_t count);

    void greeting(const Chunk& c, std::size_t at);
    void serialNumberPacket(const Chunk& c, std::size_t at);
    void configWrittenOrRead(const Chunk& c);
    void configReply(const Chunk& c, std::size_t at);
    void keyReport(const Chunk& c, std::size_t at);
    // Writes the records of an accepted packet into the grid and advances
    // nextNumberRow; logs the end of the list for the kind "E".
    void storePacket(const Chunk& c, std::size_t start, std::size_t length);
    void stopWatchdog();
    void writeNumbers(int step);
    // The device said its list is over ("E" packet or "READOK").
    void numberReadEnded();

    LinkController& link_;
    ProtocolState ownProtocol_;
    ProtocolState& protocol_;
    // The chunk, then zero bytes: the token tests see a zero-terminated text.
    std::array<std::uint8_t, kRxBufferSize + 1> rxBuffer_{};
    std::array<std::uint8_t, kRxBufferSize + 1> tcpBuffer_{};
};
