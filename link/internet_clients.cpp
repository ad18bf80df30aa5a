#include "link/internet_clients.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kAnnouncement = "CONNECT";

bool numberFieldByte(unsigned char b) {
    return (b >= '0' && b <= '9') || b == '+' || b == '*' || b == '#' || b == '\r' || b == 0;
}

std::string seconds(std::int64_t ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " с" : std::to_string(ms) + " мс";
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
                                                   std::int64_t nowMs) {
    Actions out;
    const std::string plain = plainAddress(address);
    if (!allowedPeers.empty() &&
        std::find(allowedPeers.begin(), allowedPeers.end(), plain) == allowedPeers.end()) {
        out.log.push_back("Интернет - адрес " + plain +
                          " не в списке разрешенных: соединение закрыто");
        out.close.push_back(connection);
        return out;
    }
    if (count() >= maxClients) {
        // Make room by closing the oldest client that has not announced
        // itself: a flood of scanners then cannot lock the device out. Only
        // when every place holds an announced device is the newcomer closed.
        const auto oldest = std::find_if(clients_.begin(), clients_.end(),
                                         [](const auto& entry) { return !entry.second.announced; });
        if (!full_) {
            full_ = true;
            out.log.push_back("Интернет - открыто соединений: " + std::to_string(count()) +
                              ", больше не держится: закрываются самые старые без \"CONNECT\"");
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
    client.since = nowMs;
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
        fromDevice(client, std::string(bytes, count), nowMs, out);
        return out;
    }
    // Not yet known: only an announcement at the very start makes it the
    // device. What is held meanwhile is a beginning of "CONNECT", so at most
    // six bytes.
    std::string seen = client.held + std::string(bytes, count);
    client.held.clear();
    const std::size_t n = std::min(seen.size(), kAnnouncement.size());
    const bool fits = std::string_view(seen).substr(0, n) == kAnnouncement.substr(0, n);
    const char after = seen.size() > kAnnouncement.size() ? seen[kAnnouncement.size()] : '\0';
    if (!fits || (after != '\r' && after != '\n' && after != '\0')) {
        out.log.push_back("Интернет - клиент с адреса " + client.address +
                          " не прибор (нет \"CONNECT\"): соединение закрыто");
        dropClient(connection, out);
        return out;
    }
    if (seen.size() < kAnnouncement.size()) {
        client.held = std::move(seen); // the rest of the word is still to come
        return out;
    }
    // The announcement, and whatever came with it, is analysed as one read.
    client.announced = true;
    out.analyse.push_back(std::move(seen));
    return out;
}

void InternetClients::fromDevice(Client& client, std::string bytes, std::int64_t nowMs,
                                 Actions& out) {
    if (!client.held.empty()) {
        std::string joined = client.held + bytes;
        if (joined.size() > kMaxPacket) {
            out.log.push_back("Пакет номеров длиннее " + std::to_string(kMaxPacket) +
                              " байт пропущен");
            client.held.clear();
            return;
        }
        if (joined.back() == '@' && (joined.size() - 2) % 12 == 0) {
            client.held.clear();
            out.analyse.push_back(std::move(joined));
            return;
        }
        if (packetIncomplete(joined)) {
            client.held = std::move(joined);
            return;
        }
        // What came is not the rest of the packet: the packet is lost, the
        // new read stands by itself.
        out.log.push_back("Пакет номеров оборван: пропущено байт: " +
                          std::to_string(client.held.size()));
        client.held.clear();
    }
    if (packetIncomplete(bytes)) {
        client.held = std::move(bytes);
        client.heldSince = nowMs;
        return;
    }
    out.analyse.push_back(std::move(bytes));
}

InternetClients::Actions InternetClients::closed(int connection) {
    Actions out;
    const auto it = clients_.find(connection);
    if (it == clients_.end()) {
        return out;
    }
    const bool wasDevice = device() == connection;
    const std::string address = it->second.address;
    clients_.erase(it);
    if (count() < maxClients) {
        full_ = false;
    }
    if (wasDevice) {
        if (const int next = device(); next != 0) {
            out.log.push_back("Прибор с адреса " + address +
                              " отключился; команды идут прибору с адреса " +
                              clients_.at(next).address);
        }
    }
    return out;
}

void InternetClients::dropClient(int connection, Actions& out) {
    const Actions gone = closed(connection);
    out.log.insert(out.log.end(), gone.log.begin(), gone.log.end());
    out.close.push_back(connection);
}

InternetClients::Actions InternetClients::tick(std::int64_t nowMs) {
    Actions out;
    std::vector<int> silent;
    for (auto& [connection, client] : clients_) {
        if (!client.announced && nowMs - client.since >= announceTimeoutMs) {
            silent.push_back(connection);
        } else if (client.announced && !client.held.empty() &&
                   nowMs - client.heldSince >= packetTimeoutMs) {
            out.log.push_back("Пакет номеров не пришел целиком за " + seconds(packetTimeoutMs) +
                              ": пропущено байт: " + std::to_string(client.held.size()));
            client.held.clear();
        }
    }
    for (const int connection : silent) {
        out.log.push_back("Интернет - клиент с адреса " + clients_.at(connection).address +
                          " не назвался прибором за " + seconds(announceTimeoutMs) +
                          ": соединение закрыто");
        dropClient(connection, out);
    }
    return out;
}

void InternetClients::clear() {
    clients_.clear();
    full_ = false;
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
    return std::any_of(clients_.begin(), clients_.end(), [](const auto& entry) {
        return !entry.second.announced || !entry.second.held.empty();
    });
}
