// Fuzz target for the Internet server's client decisions: a script of
// accepts, reads, closes and time steps, read from the input. Whatever the
// clients send, the decisions must keep their bounds: the connection cap, a
// held packet never past its limit, only the device analysed, at most one
// device, and a client becomes the device only by the announcement rule: its
// first 1024 bytes hold "CONNECT", it did not begin with a TLS handshake, no
// line up to the end of the announcement's line held " HTTP/1.", and the
// analysis sees its bytes from "CONNECT" on. An input whose first byte has its
// top bit set runs the fleet server's rule (oneDevice off): any number of
// devices, each chunk named with the open, announced connection it came from.
#include "link/internet_clients.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Whether a client that sent `stream` before it was taken may be the device.
bool mayAnnounce(const std::string& stream) {
    const std::string_view first = std::string_view(stream).substr(0, 1024);
    const std::size_t at = first.find("CONNECT");
    if (at == std::string_view::npos || static_cast<unsigned char>(first[0]) == 0x16) {
        return false;
    }
    std::size_t end = at;
    while (end < first.size() && first[end] != '\r' && first[end] != '\n' && first[end] != '\0') {
        ++end;
    }
    return first.substr(0, end).find(" HTTP/1.") == std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InternetClients clients;
    clients.maxClients = 4;
    const bool fleet = size > 0 && (data[0] & 0x80) != 0;
    clients.oneDevice = !fleet;
    std::set<int> announced;         // open connections that announced themselves
    clients.allowedPeers = {};       // any
    std::set<int> open;              // connections the server still holds
    std::map<int, std::string> sent; // what each open client sent before it was the device
    int device = 0;
    int next = 1;
    std::int64_t now = 0;
    std::size_t at = 0;
    const auto byte = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };

    const auto apply = [&](const InternetClients::Actions& a) {
        for (const int c : a.close) {
            open.erase(c);
            sent.erase(c);
            announced.erase(c);
        }
        require(a.from.size() == a.analyse.size());
        for (std::size_t i = 0; i < a.analyse.size(); ++i) {
            const int c = a.from[i];
            require(open.count(c) == 1);
            if (announced.insert(c).second) {
                // A new device: taken by the rule, analysed from its "CONNECT".
                require(mayAnnounce(sent[c]));
                require(a.analyse[i].compare(0, 7, "CONNECT") == 0);
                require(sent[c].find(a.analyse[i]) != std::string::npos);
            }
            require(fleet || c == clients.device());
        }
        require(fleet || announced.size() <= 1);
        if (fleet) {
            return;
        }
        const int deviceNow = clients.device();
        require(deviceNow == 0 || open.count(deviceNow) == 1);
        if (deviceNow != device && deviceNow != 0) {
            // A new device: taken by the rule, analysed from its "CONNECT".
            const std::string& stream = sent[deviceNow];
            require(mayAnnounce(stream));
            require(!a.analyse.empty());
            require(a.analyse.front().compare(0, 7, "CONNECT") == 0);
            require(stream.find(a.analyse.front()) != std::string::npos);
        }
        for (const std::string& chunk : a.analyse) {
            require(!chunk.empty() && chunk.size() <= InternetClients::kMaxRead);
            require(deviceNow != 0);
        }
        device = deviceNow;
    };

    while (at < size) {
        const std::uint8_t op = byte();
        switch (op % 4) {
        case 0: { // accept
            const int c = next++;
            open.insert(c);
            sent[c];
            apply(clients.accepted(c, op & 4 ? "::ffff:10.0.0.1" : "127.0.0.1", 40000 + c, now));
            break;
        }
        case 1: { // read on one of the connections
            const int c = 1 + byte() % next;
            // The transport reads at most 1024 bytes at a time.
            const std::size_t n = std::min<std::size_t>(
                {byte() * (op & 4 ? 8u : 1u), InternetClients::kMaxRead, size - at});
            if (open.count(c) == 1 && announced.count(c) == 0) {
                sent[c].append(reinterpret_cast<const char*>(data + at), n);
            }
            apply(clients.received(c, reinterpret_cast<const char*>(data + at), n, now));
            at += n;
            break;
        }
        case 2: { // the peer closes
            const int c = 1 + byte() % next;
            open.erase(c);
            sent.erase(c);
            announced.erase(c);
            apply(clients.closed(c));
            break;
        }
        default: // time passes
            now += 100 * byte();
            apply(clients.tick(now));
            break;
        }
        require(clients.count() <= clients.maxClients);
        require(clients.count() <= static_cast<int>(open.size()));
    }
    return 0;
}
