// What the configurator's side of the tests sends and expects, written out
// independently of the simulator's own code.
#pragma once

#include "sim/device.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace simtest {

// The password as "CONFR" carries it: low byte, high byte.
inline std::string passwordBytes(std::uint16_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

inline std::string blockBytes(const sim::ConfigBlockBytes& block) {
    return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

// A 12-byte number record: the text padded with zero bytes to 10, then the
// apartment low byte first.
inline std::string record(std::string number, std::uint16_t apartment) {
    number.resize(10, '\0');
    number.push_back(static_cast<char>(apartment & 0xFF));
    number.push_back(static_cast<char>(apartment >> 8));
    return number;
}

// An Internet-link batch: "ADN", the count, the records, "@".
inline std::string batch(const std::vector<std::string>& records) {
    std::string b = "ADN";
    b.push_back(static_cast<char>(records.size()));
    for (const auto& r : records) {
        b += r;
    }
    b.push_back('@');
    return b;
}

struct Packet {
    char kind = 0;
    std::vector<sim::NumberEntry> records;
    bool endMark = false; // the last byte is "@"
};

// A bare number packet as the configurator reads it.
inline Packet decodePacket(std::string_view bytes) {
    Packet p;
    if (bytes.size() < 2) {
        return p;
    }
    p.kind = bytes[0];
    p.endMark = bytes.back() == '@';
    const std::size_t n = (bytes.size() - 2) / 12;
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view r = bytes.substr(1 + 12 * i, 12);
        std::string_view text = r.substr(0, 10);
        text = text.substr(0, std::min(text.find('\0'), text.find('\r')));
        const auto apartment = static_cast<std::uint16_t>(static_cast<unsigned char>(r[10]) |
                                                          (static_cast<unsigned char>(r[11]) << 8));
        p.records.push_back({std::string(text), apartment});
    }
    return p;
}

// Splits a serial "+IPD,<len>:<packet>" frame; false when `frame` is not
// exactly one such frame.
inline bool splitIpd(std::string_view frame, std::string_view* packet) {
    if (frame.substr(0, 5) != "+IPD,") {
        return false;
    }
    const auto colon = frame.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    const std::string length(frame.substr(5, colon - 5));
    if (length.empty() || length.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(length) != frame.size() - colon - 1) {
        return false;
    }
    *packet = frame.substr(colon + 1);
    return true;
}

// n distinct numbers of ten digits; apartment = index + 1.
inline std::vector<sim::NumberEntry> sampleNumbers(std::size_t n) {
    std::vector<sim::NumberEntry> out;
    for (std::size_t i = 0; i < n; ++i) {
        std::string number = std::to_string(9'100'000'000ULL + i * 7);
        out.push_back({number, static_cast<std::uint16_t>(i + 1)});
    }
    return out;
}

inline sim::DeviceState stateWith(std::vector<sim::NumberEntry> numbers) {
    sim::DeviceState state;
    state.numbers = std::move(numbers);
    return state;
}

} // namespace simtest
