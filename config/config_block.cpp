#include "config/config_block.h"

#include <algorithm>

namespace {

// Where each field sits in the record. The device and the configuration
// file fix these; nothing outside this file needs them.
constexpr std::size_t kPasswordAt = 0;
constexpr std::size_t kOptionsAt = 2;
constexpr std::size_t kRelayModeAt = 3;
constexpr std::size_t kPulseAt = 4;
constexpr std::size_t kPauseAt = 8;
constexpr std::size_t kRepetitionsAt = 12;
constexpr std::size_t kDisarmAt = 13;
constexpr std::size_t kArmAt = 14;
constexpr std::size_t kRearmAt = 15;
constexpr std::size_t kInputModeAt = 16;
constexpr std::size_t kOwnerNumberAt = 17; // 10 characters, then a zero byte at 27
constexpr std::size_t kKeysAt = 28;        // five records of six bytes
constexpr std::size_t kDeviceNumberAt = 58;
constexpr std::size_t kRelayOptionsAt = 60;
constexpr std::size_t kRelayTimeoutAt = 61;
constexpr std::size_t kCountryCodeAt = 62; // 5 characters, then a zero byte at 67

static_assert(kOwnerNumberAt + ConfigBlock::kOwnerNumberLength + 1 == kKeysAt);
static_assert(kKeysAt + ConfigBlock::kKeyCount * ConfigBlock::kKeyBytes == kDeviceNumberAt);
static_assert(kCountryCodeAt + ConfigBlock::kCountryCodeLength + 1 == ConfigBlock::kSize);

void put16(ConfigBlock::Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(ConfigBlock::Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint16_t get16(const ConfigBlock::Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t get32(const ConfigBlock::Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        v |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
    }
    return v;
}

template <std::size_t N>
void putBytes(ConfigBlock::Bytes& b, std::size_t at, const std::array<std::uint8_t, N>& field) {
    std::copy(field.begin(), field.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

template <std::size_t N>
void getBytes(const ConfigBlock::Bytes& b, std::size_t at, std::array<std::uint8_t, N>& field) {
    std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at), N, field.begin());
}

} // namespace

ConfigBlock::Bytes ConfigBlock::encode() const {
    Bytes b{};
    put16(b, kPasswordAt, password);
    b[kOptionsAt] = options;
    b[kRelayModeAt] = relayMode;
    put32(b, kPulseAt, pulseMs);
    put32(b, kPauseAt, pauseMs);
    b[kRepetitionsAt] = repetitions;
    b[kDisarmAt] = disarmTime;
    b[kArmAt] = armTime;
    b[kRearmAt] = rearmTime;
    b[kInputModeAt] = inputMode;
    putBytes(b, kOwnerNumberAt, ownerNumber);
    b[kOwnerNumberAt + kOwnerNumberLength] = 0;
    for (std::size_t k = 0; k < kKeyCount; ++k) {
        putBytes(b, kKeysAt + k * kKeyBytes, keys[k]);
    }
    put16(b, kDeviceNumberAt, deviceNumber);
    b[kRelayOptionsAt] = relayOptions;
    b[kRelayTimeoutAt] = relayTimeout;
    putBytes(b, kCountryCodeAt, countryCode);
    b[kCountryCodeAt + kCountryCodeLength] = 0;
    return b;
}

ConfigBlock ConfigBlock::decode(const Bytes& b) {
    ConfigBlock c;
    c.password = get16(b, kPasswordAt);
    c.options = b[kOptionsAt];
    c.relayMode = b[kRelayModeAt];
    c.pulseMs = get32(b, kPulseAt);
    c.pauseMs = get32(b, kPauseAt);
    c.repetitions = b[kRepetitionsAt];
    c.disarmTime = b[kDisarmAt];
    c.armTime = b[kArmAt];
    c.rearmTime = b[kRearmAt];
    c.inputMode = b[kInputModeAt];
    getBytes(b, kOwnerNumberAt, c.ownerNumber);
    for (std::size_t k = 0; k < kKeyCount; ++k) {
        getBytes(b, kKeysAt + k * kKeyBytes, c.keys[k]);
    }
    c.deviceNumber = get16(b, kDeviceNumberAt);
    c.relayOptions = b[kRelayOptionsAt];
    c.relayTimeout = b[kRelayTimeoutAt];
    getBytes(b, kCountryCodeAt, c.countryCode);
    return c;
}
