// The decisions of the Internet link about its clients, without sockets:
// who may stay connected, which client is the device, what of each read goes
// to the reply analysis, and when a client or a half-received packet has
// waited too long. The server (InternetLink) feeds it accepts, reads, closes
// and the time, and carries out what it answers.
//
// The device's announcement: a connection is the device when the first bytes
// it sends are "CONNECT" followed by nothing else in that read, or by a line
// end (CR or LF) or a zero byte. An HTTP proxy request ("CONNECT host:443
// HTTP/1.1"), a banner grab ("GET / ...", "\r\n", "SSH-2.0-...") or random
// bytes fail this on their first byte or on the byte after "CONNECT"; such a
// client is closed at once and nothing it sent is analysed. A read that is
// still a beginning of "CONNECT" ("CONN") waits for the rest.
//
// Commands go to the oldest connection (in order of acceptance) that has
// announced itself; when it leaves, the next oldest announced one takes over.
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
#include <string>
#include <vector>

class InternetClients {
  public:
    // Clients that have not announced themselves within this time are closed.
    static constexpr std::int64_t kAnnounceTimeoutMs = 10000;
    // A number packet split over several reads must be complete within this time.
    static constexpr std::int64_t kPacketTimeoutMs = 2000;
    // Connections held at once; past it the oldest client that has not
    // announced itself is closed to make room.
    static constexpr int kDefaultMaxClients = 64;
    // The longest number packet (21 records).
    static constexpr std::size_t kMaxPacket = 254;

    int maxClients = kDefaultMaxClients;
    std::int64_t announceTimeoutMs = kAnnounceTimeoutMs;
    std::int64_t packetTimeoutMs = kPacketTimeoutMs;
    // Peer addresses that may be the device; empty: any. IPv4 addresses
    // match also in their IPv6-mapped form ("::ffff:127.0.0.2").
    std::vector<std::string> allowedPeers;

    // What the server must do after an event; log lines are UTF-8.
    struct Actions {
        std::vector<std::string> analyse; // chunks for the reply analysis, in order
        std::vector<int> close;           // connections to close
        std::vector<std::string> log;
    };

    // A connection was accepted from `address` (without the port).
    Actions accepted(int connection, const std::string& address, std::int64_t nowMs);
    // Bytes read from a connection.
    Actions received(int connection, const char* bytes, std::size_t count, std::int64_t nowMs);
    // The connection is gone (closed by the peer or by the server).
    Actions closed(int connection);
    // Time-outs; call a few times a second while waiting() is true.
    Actions tick(std::int64_t nowMs);
    // Forgets every client (the server stopped).
    void clear();

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
        std::string address;
        std::int64_t since = 0; // accepted
        bool announced = false;
        std::string held;           // the announcement so far, or a split packet
        std::int64_t heldSince = 0; // when a split packet began
    };
    void fromDevice(Client& client, std::string bytes, std::int64_t nowMs, Actions& out);
    void dropClient(int connection, Actions& out);

    std::map<int, Client> clients_; // connection numbers grow in order of acceptance
    bool full_ = false;             // the cap was reported and still holds
};
