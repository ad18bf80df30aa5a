// Fuzz target for the Internet server's client decisions: a script of
// accepts, reads, closes and time steps, read from the input. Whatever the
// clients send, the decisions must keep their bounds: the connection cap, a
// held packet never past its limit, only announced clients analysed, and a
// device that is one of the clients.
#include "link/internet_clients.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InternetClients clients;
    clients.maxClients = 4;
    clients.allowedPeers = {}; // any
    std::set<int> open;        // connections the server still holds
    std::set<int> announced;
    int next = 1;
    std::int64_t now = 0;
    std::size_t at = 0;
    const auto byte = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };

    const auto apply = [&](const InternetClients::Actions& a, int from) {
        for (const std::string& chunk : a.analyse) {
            require(!chunk.empty());
            require(from != 0 && open.count(from) == 1);
            announced.insert(from);
        }
        for (const int c : a.close) {
            open.erase(c);
            announced.erase(c);
        }
    };

    while (at < size) {
        const std::uint8_t op = byte();
        switch (op % 4) {
        case 0: { // accept
            const int c = next++;
            open.insert(c);
            apply(clients.accepted(c, op & 4 ? "::ffff:10.0.0.1" : "127.0.0.1", now), 0);
            break;
        }
        case 1: { // read on one of the connections
            const int c = 1 + byte() % next;
            const std::size_t n = std::min<std::size_t>(byte(), size - at);
            apply(clients.received(c, reinterpret_cast<const char*>(data + at), n, now), c);
            at += n;
            break;
        }
        case 2: { // the peer closes
            const int c = 1 + byte() % next;
            apply(clients.closed(c), 0);
            open.erase(c);
            announced.erase(c);
            break;
        }
        default: // time passes
            now += 100 * byte();
            apply(clients.tick(now), 0);
            break;
        }
        require(clients.count() <= clients.maxClients);
        require(clients.device() == 0 || announced.count(clients.device()) == 1);
    }
    return 0;
}
