#include "link/internet_clients.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kAnnouncement = "CONNECT";
constexpr std::string_view kHttpVersion = " HTTP/1.";

enum class Verdict { Wait, Device, Stranger };

struct Judgement {
    Verdict verdict = Verdict::Wait;
    std::size_t at = 0; // where "CONNECT" begins, for Device
};

bool lineEnd(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

// The announcement rule of the header over what a client sent so far.
// `quiet`: nothing came for the quiet time; `late`: the time-out is reached.
Judgement judge(std::string_view sent, bool quiet, bool late) {
    const bool full = sent.size() >= InternetClients::kAnnounceWindow;
    sent = sent.substr(0, InternetClients::kAnnounceWindow);
    if (!sent.empty() && static_cast<unsigned char>(sent[0]) == 0x16) {
        return {Verdict::Stranger};
    }
    for (std::size_t start = 0; start <= sent.size();) {
        std::size_t end = start;
        while (end < sent.size() && !lineEnd(sent[end])) {
            ++end;
        }
        const std::string_view line = sent.substr(start, end - start);
        const bool open = end == sent.size();
        if (line.find(kHttpVersion) != std::string_view::npos) {
            return {Verdict::Stranger};
        }
        if (const std::size_t at = line.find(kAnnouncement); at != std::string_view::npos) {
            const bool waited =
                quiet && line.substr(line.size() - kAnnouncement.size()) == kAnnouncement;
            if (!open || full || late || waited) {
                return {Verdict::Device, start + at};
            }
            return {Verdict::Wait};
        }
        if (open) {
            break;
        }
        start = end + 1;
    }
    return {full ? Verdict::Stranger : Verdict::Wait};
}

bool numberFieldByte(unsigned char b) {
    return (b >= '0' && b <= '9') || b == '+' || b == '*' || b == '#' || b == '\r' || b == 0;
}

} // namespace

std::string InternetClients::plainAddress(const std::string& address) {
    constexpr std::string_view mapped = "::ffff:";
    if (address.size() > mapped.size() && address.compare(0, mapped.size(), mapped) == 0 &&
        address.find('.') != std::string::npos) {
        return address.substr(mapped.size());
    }
    return address;
}

bool InternetClients::packetIncomplete(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaxPacket || (bytes[0] != 'R' && bytes[0] != 'E')) {
        return false;
    }
    // The end mark sits right after the last record; an "@" elsewhere is an
    // apartment byte.
    if (bytes.back() == '@' && (bytes.size() - 2) % 12 == 0) {
        return false;
    }
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        if ((i - 1) % 12 < 10 && !numberFieldByte(static_cast<unsigned char>(bytes[i]))) {
            return false;
        }
    }
    return true;
}

InternetClients::Actions InternetClients::accepted(int connection, const std::string& address,
                                                   int port, std::int64_t nowMs) {
    Actions out;
    const std::string plain = plainAddress(address);
    if (!allowedPeers.empty() &&
        std::find(allowedPeers.begin(), allowedPeers.end(), plain) == allowedPeers.end()) {
        refusal({events::ClientRefusal::NotAllowed, plain}, nowMs, out);
        out.close.push_back(connection);
        return out;
    }
    if (count() >= maxClients) {
        // Make room by closing the oldest client that has not announced
        // itself: a flood of scanners then cannot lock the device out. Only
        // when every place holds the device is the newcomer closed.
        const auto oldest = std::find_if(clients_.begin(), clients_.end(),
                                         [](const auto& entry) { return !entry.second.announced; });
        if (!full_) {
            full_ = true;
            out.log.push_back(events::ConnectionsCapped{count()});
        }
        if (oldest == clients_.end()) {
            out.close.push_back(connection);
            return out;
        }
        out.close.push_back(oldest->first);
        clients_.erase(oldest);
    }
    Client& client = clients_[connection];
    client.address = plain;
    client.peer = port > 0 ? plain + ":" + std::to_string(port) : plain;
    client.since = nowMs;
    client.lastRead = nowMs;
    out.status = events::InternetClient{true};
    return out;
}

InternetClients::Actions InternetClients::received(int connection, const char* bytes,
                                                   std::size_t count, std::int64_t nowMs) {
    Actions out;
    const auto it = clients_.find(connection);
    if (it == clients_.end() || count == 0) {
        return out;
    }
    Client& client = it->second;
    if (client.announced) {
        fromDevice(connection, client, std::string(bytes, count), nowMs, out);
        return out;
    }
    // Not yet known: gathered until the announcement rule decides, so at
    // most kAnnounceWindow - 1 bytes are held between reads.
    client.held.append(bytes, count);
    client.lastRead = nowMs;
    judgeClient(connection, nowMs, out);
    return out;
}

void InternetClients::judgeClient(int connection, std::int64_t nowMs, Actions& out) {
    Client& client = clients_.at(connection);
    const Judgement j = judge(client.held, nowMs - client.lastRead >= announceQuietMs,
                              nowMs - client.since >= announceTimeoutMs);
    switch (j.verdict) {
    case Verdict::Device:
        announce(connection, j.at, out);
        return;
    case Verdict::Stranger:
        refusal({events::ClientRefusal::NotTheDevice, client.address}, nowMs, out);
        dropClient(connection, out);
        return;
    case Verdict::Wait:
        if (nowMs - client.since >= announceTimeoutMs) {
            refusal({events::ClientRefusal::Silent, client.address, announceTimeoutMs}, nowMs, out);
            dropClient(connection, out);
        }
        return;
    }
}

void InternetClients::announce(int connection, std::size_t at, Actions& out) {
    Client& client = clients_.at(connection);
    const std::string sent = std::move(client.held);
    client.held.clear();
    client.announced = true;
    out.log.push_back(events::DeviceConnected{client.peer});
    // One device at a time: the newer announcement wins over a connection
    // that may have died without closing.
    std::vector<int> older;
    for (const auto& [other, c] : clients_) {
        if (oneDevice && other != connection && c.announced) {
            older.push_back(other);
        }
    }
    for (const int other : older) {
        out.log.push_back(events::DeviceReplaced{clients_.at(other).peer, client.peer});
        clients_.erase(other);
        out.close.push_back(other);
    }
    for (std::size_t from = at; from < sent.size(); from += kMaxRead) {
        out.analyse.push_back(sent.substr(from, kMaxRead));
        out.from.push_back(connection);
    }
    out.status = statusNow();
}

void InternetClients::fromDevice(int connection, Client& client, std::string bytes,
                                 std::int64_t nowMs, Actions& out) {
    if (!client.held.empty()) {
        std::string joined = client.held + bytes;
        if (joined.size() > kMaxPacket) {
            out.log.push_back(events::PacketTooLong{kMaxPacket});
            client.held.clear();
            return;
        }
        if (joined.back() == '@' && (joined.size() - 2) % 12 == 0) {
            client.held.clear();
            out.analyse.push_back(std::move(joined));
            out.from.push_back(connection);
            return;
        }
        if (packetIncomplete(joined)) {
            client.held = std::move(joined);
            return;
        }
        // What came is not the rest of the packet: the packet is lost, the
        // new read stands by itself.
        out.log.push_back(events::PacketCut{client.held.size()});
        client.held.clear();
    }
    if (packetIncomplete(bytes)) {
        client.held = std::move(bytes);
        client.heldSince = nowMs;
        return;
    }
    out.analyse.push_back(std::move(bytes));
    out.from.push_back(connection);
}

InternetClients::Actions InternetClients::closed(int connection) {
    Actions out;
    if (clients_.erase(connection) == 0) {
        return out; // not one of ours (refused, or already dropped)
    }
    if (count() < maxClients) {
        full_ = false;
    }
    out.status = statusNow();
    return out;
}

void InternetClients::dropClient(int connection, Actions& out) {
    const Actions gone = closed(connection);
    out.status = gone.status;
    out.close.push_back(connection);
}

events::InternetClient InternetClients::statusNow() const {
    return events::InternetClient{device() != 0};
}

void InternetClients::refusal(events::ClientRefused refused, std::int64_t nowMs, Actions& out) {
    summary(nowMs, out);
    if (counting_) {
        ++unlogged_;
        return;
    }
    out.log.push_back(std::move(refused));
    counting_ = true;
    countUntil_ = nowMs + refusalSummaryMs;
}

void InternetClients::summary(std::int64_t nowMs, Actions& out) {
    if (!counting_ || nowMs < countUntil_) {
        return;
    }
    if (unlogged_ == 0) {
        counting_ = false; // a quiet spell: the next refusal is logged in full
        return;
    }
    out.log.push_back(events::RefusalsCounted{unlogged_, refusalSummaryMs});
    unlogged_ = 0;
    countUntil_ = nowMs + refusalSummaryMs;
}

InternetClients::Actions InternetClients::tick(std::int64_t nowMs) {
    Actions out;
    std::vector<int> unknown;
    for (auto& [connection, client] : clients_) {
        if (!client.announced) {
            unknown.push_back(connection);
        } else if (!client.held.empty() && nowMs - client.heldSince >= packetTimeoutMs) {
            out.log.push_back(events::PacketTimedOut{packetTimeoutMs, client.held.size()});
            client.held.clear();
        }
    }
    // Several clients may announce themselves in one tick: the newest one is
    // the device, and what an older one sent is never analysed, since its
    // connection is closed in the same breath.
    struct Chunks {
        int connection;
        std::vector<std::string> analyse;
        std::vector<int> from;
    };
    std::vector<Chunks> announced;
    for (const int connection : unknown) {
        // An announcement may have closed an older client in this loop, but
        // never one that had not announced itself.
        Actions one;
        judgeClient(connection, nowMs, one);
        std::erase_if(announced, [&](const Chunks& entry) {
            return std::find(one.close.begin(), one.close.end(), entry.connection) !=
                   one.close.end();
        });
        if (!one.analyse.empty()) {
            announced.push_back({connection, std::move(one.analyse), std::move(one.from)});
        }
        out.close.insert(out.close.end(), one.close.begin(), one.close.end());
        out.log.insert(out.log.end(), one.log.begin(), one.log.end());
        if (one.status) {
            out.status = one.status;
        }
    }
    for (Chunks& chunks : announced) {
        out.analyse.insert(out.analyse.end(), chunks.analyse.begin(), chunks.analyse.end());
        out.from.insert(out.from.end(), chunks.from.begin(), chunks.from.end());
    }
    summary(nowMs, out);
    return out;
}

InternetClients::Actions InternetClients::clear() {
    Actions out;
    if (unlogged_ > 0) {
        out.log.push_back(events::RefusalsCounted{unlogged_, 0});
    }
    clients_.clear();
    full_ = false;
    counting_ = false;
    unlogged_ = 0;
    return out;
}

int InternetClients::device() const {
    for (const auto& [connection, client] : clients_) {
        if (client.announced) {
            return connection;
        }
    }
    return 0;
}

bool InternetClients::waiting() const {
    return unlogged_ > 0 || std::any_of(clients_.begin(), clients_.end(), [](const auto& entry) {
               return !entry.second.announced || !entry.second.held.empty();
           });
}
