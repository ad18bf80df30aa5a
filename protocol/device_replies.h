// What the device sends back, recognised: the bytes of one chunk (a quiet
// chunk of the serial port, or one read of the Internet link) become the
// replies they hold, in the order they are acted on. Nothing here acts: the
// session's reply handling logs, acknowledges and fills the list.
//
// Replies are found by substring tests over the chunk's text up to its first
// zero byte; the parts read at fixed offsets (greeting version, number
// packets, configuration block, key text) read a zero for an offset past the
// received bytes, so nothing is ever read beyond the chunk. A chunk may hold
// several replies; replies are not matched to the command that caused them.
//
// Both links share one table (device_replies.cpp). Where the Internet link
// differs, the table says so in its column: it knows fewer replies, checks
// them in an order of its own, takes a number packet as one whole read
// without a header, and some replies there also drive the number writer.
#pragma once

#include "protocol/frames.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace device_replies {

// At most this many bytes of a chunk are looked at.
inline constexpr std::size_t kMaxChunk = 1024;
// Packets longer than this are not number packets (21 records).
inline constexpr std::size_t kMaxPacket = 254;

enum class Channel { Serial, Internet };

enum class ReplyKind : std::uint8_t {
    Greeting,         // "VELIRAN", one byte, the firmware version, "#"
    NumberPacket,     // records of the device's number list
    ConnectionClosed, // "CLOSED"
    ReadDone,         // "READOK": the number list is over
    Connected,        // "CONNECT"
    Alarm,            // "Trevoga"
    NumberAdded,      // "ADD" / "Dobavlen"
    ListFull,         // "FULL" / "svobo"
    NumberDeleted,    // "DEL" / "Ydalen"
    NumberNotFound,   // "NOT NUMBER" / "ne naiden"
    ListErased,       // "ERASE" / "Vse nom"
    WrongPassword,    // "Not corr"
    PasswordChanged,  // "CHPASS" / "New pass"
    ApnChanged,       // "APN"
    OnTimeChanged,    // "TON_SET" / "New Ton"
    Disconnected,     // "DISCON"
    NoGprs,           // "GPRS ser" / "No GPRS"
    CannotConnect,    // "Ne yda"
    Busy,             // "BUSY"
    ResendBatch,      // "ADN": the last batch of numbers again
    ConfigWritten,    // "CONFW"
    ConfigRead,       // "CONFR" and the 68 bytes of the block
    NumberStepResult, // "+NTF:" and a result digit
    NumbersWritten,   // "+EFA:"
    KeyReported,      // "+KEY", two characters, up to ten of the key
};

// The steps of the number writer: the first three are driven by replies, the
// tick by the 20 ms tick. (The design numbers them 0 to 3.)
enum class WriterStep : std::int8_t { None = -1, Start = 0, Next = 1, Refused = 2, Tick = 3 };

// What a reply means on one link.
struct ReplyMeaning {
    bool logged = false; // it puts a line in the log (the session's event texts say which)
    bool stopsWatchdog = false;
    WriterStep writerStep = WriterStep::None;
    // The Internet device announced itself: it is the device linked now.
    bool linksRemoteDevice = false;
};

struct NumberPacket {
    enum class Verdict {
        Unreadable, // a "+IPD" header without ":" or with a length of 11 or less
        Accepted,   // ends in "@" where its length says: acknowledge, store
        Refused,    // the end mark is not there: ask for it again
        TooLong,    // an Internet read longer than a packet can be
    };
    Verdict verdict = Verdict::Unreadable;
    bool last = false;                         // kind "E": the end of the list
    std::vector<frames::NumberRecord> records; // of an accepted packet
};

struct Reply {
    ReplyKind kind = ReplyKind::Greeting;
    ReplyMeaning meaning;
    std::uint8_t version = 0;         // Greeting; 0 when the "#" is missing
    NumberPacket packet;              // NumberPacket
    frames::ConfigBlockBytes block{}; // ConfigRead; missing bytes read as zero
    bool stepAccepted = false;        // NumberStepResult: "+NTF:1"
    std::string key;                  // KeyReported, 1251 bytes, maybe empty
};

// The replies in the first min(count, kMaxChunk) bytes, in the order the
// link acts on them.
std::vector<Reply> parse(const std::uint8_t* bytes, std::size_t count, Channel channel);

// The chunk's text as the tests see it: up to its first zero byte.
std::string chunkText(const std::uint8_t* bytes, std::size_t count);

} // namespace device_replies
