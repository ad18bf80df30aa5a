#include "protocol/device_replies.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace device_replies {

namespace {

// One reply on one link: where it is checked (1 first; 0: the link does not
// know it) and what it means there.
struct OnLink {
    std::uint8_t order = 0;
    ReplyMeaning meaning;
};

struct Rule {
    ReplyKind kind;
    std::string_view token;
    std::string_view alternative; // empty when the test has one token
    OnLink serial;
    OnLink internet;
};

constexpr ReplyMeaning logs(bool logged, bool stops) {
    return ReplyMeaning{logged, stops, WriterStep::None, false};
}
constexpr ReplyMeaning logsAndSteps(bool logged, bool stops, WriterStep step) {
    return ReplyMeaning{logged, stops, step, false};
}

// The one table of replies. The serial column lists them in the order the
// serial link checks them; the Internet column has an order of its own.
// The Internet link differs in that:
//  - "CONNECT" is the device announcing itself and links it;
//  - a number packet is one whole read without "+IPD" header, at most 254
//    bytes, and stops the watchdog only when it is taken;
//  - "ADD" also steps the number writer on, "FULL" stops it, and "ERASE" is
//    only the start of its write (no log line, the watchdog runs on);
//  - "ADN" asks for the writer's last batch again;
//  - the greeting, the modem's texts and the writer's "+NTF:"/"+EFA:" of the
//    serial link, and key reports, do not come there.
constexpr Rule kRules[] = {
    {ReplyKind::Greeting, "VELIRAN", "", {1, logs(true, false)}, {}},
    {ReplyKind::NumberPacket, "+IPD", "", {2, logs(false, true)}, {3, logs(false, true)}},
    {ReplyKind::ConnectionClosed, "CLOSED", "", {3, logs(true, false)}, {}},
    {ReplyKind::ReadDone, "READOK", "", {4, logs(true, true)}, {2, logs(true, true)}},
    {ReplyKind::Connected,
     "CONNECT",
     "",
     {5, logs(true, false)},
     {1, ReplyMeaning{true, false, WriterStep::None, true}}},
    {ReplyKind::Alarm, "Trevoga", "", {6, logs(true, false)}, {}},
    {ReplyKind::NumberAdded,
     "ADD",
     "Dobavlen",
     {7, logs(true, true)},
     {4, logsAndSteps(true, true, WriterStep::Next)}},
    {ReplyKind::ListFull,
     "FULL",
     "svobo",
     {8, logs(true, true)},
     {7, logsAndSteps(true, true, WriterStep::Refused)}},
    {ReplyKind::NumberDeleted, "DEL", "Ydalen", {9, logs(true, true)}, {}},
    {ReplyKind::NumberNotFound, "NOT NUMBER", "ne naiden", {10, logs(true, true)}, {}},
    {ReplyKind::ListErased,
     "ERASE",
     "Vse nom",
     {11, logs(true, true)},
     {6, logsAndSteps(false, false, WriterStep::Next)}},
    {ReplyKind::WrongPassword, "Not corr", "", {12, logs(true, true)}, {8, logs(true, true)}},
    {ReplyKind::PasswordChanged,
     "CHPASS",
     "New pass",
     {13, logs(true, true)},
     {9, logs(true, true)}},
    {ReplyKind::ApnChanged, "APN", "", {14, logs(true, true)}, {}},
    {ReplyKind::OnTimeChanged, "TON_SET", "New Ton", {15, logs(true, true)}, {}},
    {ReplyKind::Disconnected, "DISCON", "", {16, logs(true, false)}, {}},
    {ReplyKind::NoGprs, "GPRS ser", "No GPRS", {17, logs(true, false)}, {}},
    {ReplyKind::CannotConnect, "Ne yda", "", {18, logs(true, false)}, {}},
    {ReplyKind::Busy, "BUSY", "", {19, logs(true, false)}, {}},
    {ReplyKind::ResendBatch, "ADN", "", {}, {5, logs(false, true)}},
    {ReplyKind::ConfigWritten,
     "CONFW",
     "",
     {20, logsAndSteps(true, true, WriterStep::Start)},
     {10, logsAndSteps(true, true, WriterStep::Start)}},
    {ReplyKind::ConfigRead, "CONFR", "", {21, logs(true, true)}, {11, logs(true, true)}},
    {ReplyKind::NumberStepResult, "+NTF:", "", {22, logs(false, false)}, {}},
    {ReplyKind::NumbersWritten, "+EFA:", "", {23, logs(true, false)}, {}},
    {ReplyKind::KeyReported, "+KEY", "", {24, logs(false, false)}, {}},
};

// The chunk as the tests see it.
struct Chunk {
    const std::uint8_t* data;
    std::size_t count;
    std::string_view text; // up to the first zero byte
    std::uint8_t at(std::size_t i) const { return i < count ? data[i] : 0; }
};

NumberPacket packetAt(const Chunk& c, std::size_t start, std::size_t length) {
    NumberPacket packet;
    packet.verdict = NumberPacket::Verdict::Accepted;
    packet.last = c.at(start) == 'E';
    const std::size_t records = (length - 2) / frames::kNumberRecordSize;
    packet.records.reserve(records);
    for (std::size_t i = 0; i < records; ++i) {
        frames::NumberRecordBytes bytes{};
        const std::size_t from = start + 1 + i * frames::kNumberRecordSize;
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            bytes[k] = c.at(from + k);
        }
        packet.records.push_back(frames::decodeNumberRecord(bytes.data()));
    }
    return packet;
}

// "+IPD", one separator, the packet length in decimal digits, ":", the packet.
NumberPacket serialPacket(const Chunk& c, std::size_t at) {
    std::size_t length = 0;
    for (std::size_t i = at + 5; i < c.text.size() && c.text[i] >= '0' && c.text[i] <= '9'; ++i) {
        if (length <= kMaxPacket) { // past that it only has to stay too long
            length = length * 10 + static_cast<std::size_t>(c.text[i] - '0');
        }
    }
    const std::size_t colon = c.text.find(':', at);
    if (colon == std::string_view::npos || length <= 11) {
        return {};
    }
    const std::size_t start = colon + 1;
    // The end mark sits at the last byte of the packet; a packet that ends
    // past the received bytes finds a zero there and is refused.
    if (length <= kMaxPacket && c.at(start + length - 1) == '@') {
        return packetAt(c, start, length);
    }
    NumberPacket refused;
    refused.verdict = NumberPacket::Verdict::Refused;
    return refused;
}

// One whole read that starts with "R" or "E" and ends with "@".
bool internetPacket(const Chunk& c, NumberPacket& packet) {
    const std::uint8_t first = c.at(0);
    if (c.count == 0 || c.at(c.count - 1) != '@' || (first != 'R' && first != 'E')) {
        return false;
    }
    if (c.count > kMaxPacket) {
        // Several packets run together, or something else that merely looks
        // like one: its records cannot be told apart.
        packet.verdict = NumberPacket::Verdict::TooLong;
        return true;
    }
    packet = packetAt(c, 0, c.count);
    return true;
}

} // namespace

std::string chunkText(const std::uint8_t* bytes, std::size_t count) {
    // An empty chunk may come without any buffer at all (an empty vector's
    // data()); strnlen must never see that.
    if (bytes == nullptr || count == 0) {
        return {};
    }
    const char* chars = reinterpret_cast<const char*>(bytes);
    return std::string(chars, ::strnlen(chars, std::min(count, kMaxChunk)));
}

std::vector<Reply> parse(const std::uint8_t* bytes, std::size_t count, Channel channel) {
    count = bytes == nullptr ? 0 : std::min(count, kMaxChunk);
    const char* chars = reinterpret_cast<const char*>(bytes);
    const Chunk c{bytes, count,
                  count == 0 ? std::string_view()
                             : std::string_view(chars, ::strnlen(chars, count))};
    const bool internet = channel == Channel::Internet;

    std::vector<std::pair<std::uint8_t, Reply>> found;
    for (const Rule& rule : kRules) {
        const OnLink& on = internet ? rule.internet : rule.serial;
        if (on.order == 0) {
            continue;
        }
        Reply reply;
        reply.kind = rule.kind;
        reply.meaning = on.meaning;
        if (rule.kind == ReplyKind::NumberPacket && internet) {
            if (!internetPacket(c, reply.packet)) {
                continue;
            }
            found.emplace_back(on.order, std::move(reply));
            continue;
        }
        std::size_t at = c.text.find(rule.token);
        if (at == std::string_view::npos && !rule.alternative.empty()) {
            at = c.text.find(rule.alternative);
        }
        if (at == std::string_view::npos) {
            continue;
        }
        switch (rule.kind) {
        case ReplyKind::Greeting:
            reply.version = c.at(at + 9) == '#' ? c.at(at + 8) : 0;
            break;
        case ReplyKind::NumberPacket:
            reply.packet = serialPacket(c, at);
            break;
        case ReplyKind::ConfigRead:
            for (std::size_t k = 0; k < reply.block.size(); ++k) {
                reply.block[k] = c.at(at + 5 + k);
            }
            break;
        case ReplyKind::NumberStepResult:
            reply.stepAccepted = c.at(at + 5) == '1';
            reply.meaning.writerStep = reply.stepAccepted ? WriterStep::Next : WriterStep::Refused;
            break;
        case ReplyKind::KeyReported:
            for (std::size_t k = 0; k < 10; ++k) {
                const std::uint8_t b = c.at(at + 6 + k);
                if (b == 0) {
                    break;
                }
                reply.key.push_back(static_cast<char>(b));
            }
            break;
        default:
            break;
        }
        found.emplace_back(on.order, std::move(reply));
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Reply> replies;
    replies.reserve(found.size());
    for (auto& f : found) {
        replies.push_back(std::move(f.second));
    }
    return replies;
}

} // namespace device_replies
