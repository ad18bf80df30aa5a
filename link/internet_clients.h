// The decisions of the Internet link about its clients, without sockets:
// who may stay connected, which client is the device, what of each read goes
// to the reply analysis, what panel 2 says, and when a client or a
// half-received packet has waited too long. The server (InternetLink) feeds
// it accepts, reads, closes and the time, and carries out what it answers.
//
// The device's announcement. The device's modem may pass line ends, blanks
// or a banner on before the device's "CONNECT", and TCP may cut it anywhere,
// so a new client's bytes are gathered, over as many reads as they come in,
// until one of these decides (only its first 1024 bytes count):
//  - its very first byte is 0x16 (a TLS handshake): not the device;
//  - a line (ended by CR, LF or a zero byte) that holds " HTTP/1." comes
//    before any line with "CONNECT": not the device. So an HTTP proxy
//    request "CONNECT host:443 HTTP/1.1" or a "GET / HTTP/1.1" is refused,
//    however it is cut into reads;
//  - a line that holds "CONNECT" and not " HTTP/1." is the device: at once
//    when the line has ended; while it is still open only when it ends with
//    "CONNECT" and no byte followed for announceQuietMs (a device that says
//    "CONNECT" and waits; a proxy sends its request line in one piece, so
//    " host:443 HTTP/1.1" would have come), or once 1024 bytes have come or
//    the announcement time-out is reached with the line still open;
//  - 1024 bytes without "CONNECT": not the device;
//  - the announcement time-out (announceTimeoutMs from the accept) without
//    "CONNECT": closed as silent.
// A client that is not the device is closed at once, nothing it sent is
// analysed and it is never sent anything. For the device, the reply analysis
// gets what it sent from "CONNECT" on (so it sees the announcement first and
// links the device; what came before it is the modem's), in reads of at most
// 1024 bytes.
//
// One device at a time: when a client announces itself while an older one
// that announced itself is still held (a GPRS connection that died without
// closing, or the same device reconnecting), the newer is the device and the
// older is closed, with a log line naming both. Commands go to the device.
//
// Refusals are logged without flooding the log: the first one is logged in
// full; those within the next refusalSummaryMs (10 s) are only counted, and
// when that time is over (at the next tick) one line gives their count and
// the counting goes on for another 10 s; a 10 s without a refusal ends it.
// A connection that turns out to be the device is logged with its address.
//
// Panel 2 follows the clients that are really there: an accepted client
// shows "Интернет - Соединение установлено"; when a client goes, whoever
// closed it, panel 2 says "Интернет - Соединение установлено" while a client
// that announced itself remains and "Интернет - Соединение прервано"
// otherwise.
//
// Number packets come one per read, but TCP may deliver one in two or more
// reads. A read from the device that starts like a number packet ("R" or "E",
// then number fields of digits, "+", "*", "#", CR or zero bytes) and has not
// reached its end mark ("@" as the last byte of 12·N + 2 bytes) is held and
// joined with the following reads until it has, at most 254 bytes and at most
// packetTimeoutMs (2 s); past either bound it is dropped with a log line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/session_events.h"

class InternetClients {
  public:
    // Clients that have not announced themselves within this time are closed.
    static constexpr std::int64_t kAnnounceTimeoutMs = 10000;
    // A "CONNECT" that ends what came, with nothing after it for this long,
    // is the device's announcement.
    static constexpr std::int64_t kAnnounceQuietMs = 500;
    // The announcement must come within a client's first this many bytes.
    static constexpr std::size_t kAnnounceWindow = 1024;
    // A number packet split over several reads must be complete within this time.
    static constexpr std::int64_t kPacketTimeoutMs = 2000;
    // Refusals after a logged one are counted for this long, then summed up.
    static constexpr std::int64_t kRefusalSummaryMs = 10000;
    // Connections held at once; past it the oldest client that has not
    // announced itself is closed to make room.
    static constexpr int kDefaultMaxClients = 64;
    // The longest number packet (21 records).
    static constexpr std::size_t kMaxPacket = 254;
    // The longest piece handed to the reply analysis.
    static constexpr std::size_t kMaxRead = 1024;

    int maxClients = kDefaultMaxClients;
    std::int64_t announceTimeoutMs = kAnnounceTimeoutMs;
    std::int64_t announceQuietMs = kAnnounceQuietMs;
    std::int64_t packetTimeoutMs = kPacketTimeoutMs;
    std::int64_t refusalSummaryMs = kRefusalSummaryMs;
    // One device at a time (the window's server): a client that announces
    // itself closes an older one that did. A fleet server sets it false and
    // keeps every announced client, each a device of its own.
    bool oneDevice = true;
    // Peer addresses that may be the device; empty: any. IPv4 addresses
    // match also in their IPv6-mapped form ("::ffff:127.0.0.2").
    std::vector<std::string> allowedPeers;

    // What the server must do after an event.
    struct Actions {
        std::vector<std::string> analyse; // the device's chunks for the reply analysis, in order
        std::vector<int> from;            // the connection each chunk of `analyse` came from
        std::vector<int> close;           // connections to close
        std::vector<SessionEvent> log;    // what it says in the log, in order
        // What panel 2 says now; none: unchanged.
        std::optional<events::InternetClient> status;
    };

    // A connection was accepted from `address` (without the port) and `port`.
    Actions accepted(int connection, const std::string& address, int port, std::int64_t nowMs);
    // Bytes read from a connection.
    Actions received(int connection, const char* bytes, std::size_t count, std::int64_t nowMs);
    // The connection is gone (closed by the peer).
    Actions closed(int connection);
    // Time-outs and the refusal summary; call a few times a second while
    // waiting() is true.
    Actions tick(std::int64_t nowMs);
    // Forgets every client (the server stopped); a refusal count not yet
    // logged is logged now.
    Actions clear();

    // The connection commands go to, or 0.
    int device() const;
    int count() const { return static_cast<int>(clients_.size()); }
    // Whether something waits for a time-out (tick() has work).
    bool waiting() const;

    // The address in the form the allowed list is compared in: an
    // IPv6-mapped IPv4 address ("::ffff:1.2.3.4") as plain IPv4.
    static std::string plainAddress(const std::string& address);
    // Whether the bytes are the beginning of a number packet that has not yet
    // reached its end mark and may still grow into one.
    static bool packetIncomplete(const std::string& bytes);

  private:
    struct Client {
        std::string address;       // plain, as the allowed list has it
        std::string peer;          // address and port, for log lines
        std::int64_t since = 0;    // accepted
        std::int64_t lastRead = 0; // the last bytes came
        bool announced = false;
        std::string held;           // before the announcement all it sent, after it a split packet
        std::int64_t heldSince = 0; // when a split packet began
    };
    // Decides on a client that has not announced itself yet, by what it sent.
    void judgeClient(int connection, std::int64_t nowMs, Actions& out);
    void announce(int connection, std::size_t at, Actions& out);
    void fromDevice(int connection, Client& client, std::string bytes, std::int64_t nowMs,
                    Actions& out);
    // Logs a refusal, or counts it while a summary is due.
    void refusal(events::ClientRefused refused, std::int64_t nowMs, Actions& out);
    void summary(std::int64_t nowMs, Actions& out);
    // Closes a client the server gives up on.
    void dropClient(int connection, Actions& out);
    events::InternetClient statusNow() const;

    std::map<int, Client> clients_; // connection numbers grow in order of acceptance
    bool full_ = false;             // the cap was reported and still holds
    bool counting_ = false;         // refusals are being counted, not logged
    std::int64_t countUntil_ = 0;
    int unlogged_ = 0; // refusals counted and not yet logged
};
