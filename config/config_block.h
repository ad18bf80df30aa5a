// The device's settings record: 68 bytes, packed, little-endian, texts in
// code page 1251. It travels in "CONFR" and "CONFW" and opens every
// configuration file. This is the only place that knows where a field sits
// in the record; everything else works with the named fields below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Bits of `ConfigBlock::options`; a bit is 1 when its check box is checked.
namespace ConfigOption {
inline constexpr std::uint8_t All_num_ch = 1u << 0;
inline constexpr std::uint8_t SMS_ch = 1u << 1;
inline constexpr std::uint8_t RING_ch = 1u << 2;
inline constexpr std::uint8_t Ohrana_en = 1u << 3;
inline constexpr std::uint8_t Input_inv = 1u << 4;
inline constexpr std::uint8_t Short_num = 1u << 5;
inline constexpr std::uint8_t Mes_in = 1u << 6;
inline constexpr std::uint8_t Mes_rele = 1u << 7;
} // namespace ConfigOption

// Bits of `ConfigBlock::relayOptions`; the other six bits are always 0.
namespace RelayOption {
inline constexpr std::uint8_t SendToRing = 1u << 0;
inline constexpr std::uint8_t KEYNUMBUT = 1u << 1;
} // namespace RelayOption

struct ConfigBlock {
    static constexpr std::size_t kSize = 68;
    static constexpr std::size_t kKeyCount = 5;
    static constexpr std::size_t kKeyBytes = 6;
    // Characters of the two texts; each is followed by a zero byte in the
    // record, which the codec writes itself.
    static constexpr std::size_t kOwnerNumberLength = 10;
    static constexpr std::size_t kCountryCodeLength = 5;

    using Bytes = std::array<std::uint8_t, kSize>;
    using KeyRecord = std::array<std::uint8_t, kKeyBytes>;

    std::uint16_t password = 0; // asked for by the device before it takes a write
    std::uint8_t options = 0;   // ConfigOption bits
    std::uint8_t relayMode = 0; // item of RELE_REJ: 0 off, 1 on, 2 invert, 3 pulse
    std::uint32_t pulseMs = 0;  // relay pulse length
    std::uint32_t pauseMs = 0;  // pause between pulses
    std::uint8_t repetitions = 0;
    std::uint8_t disarmTime = 0; // seconds (T_in)
    std::uint8_t armTime = 0;    // seconds (T_out)
    std::uint8_t rearmTime = 0;  // minutes (T_mem)
    std::uint8_t inputMode = 0;  // 0..3: rej_but1..rej_but4
    // The owner's number, 1251 bytes padded with zero bytes; the byte after
    // it is always 0, so the device always finds the end of the text.
    std::array<std::uint8_t, kOwnerNumberLength> ownerNumber{};
    // Touch-memory keys 1..5; a record whose byte 0 is 0 holds no key.
    std::array<KeyRecord, kKeyCount> keys{};
    std::uint16_t deviceNumber = 0;
    std::uint8_t relayOptions = 0; // RelayOption bits
    std::uint8_t relayTimeout = 0; // seconds (OUT_TOUT)
    // The country code, 1251 bytes padded with zero bytes; followed by a zero
    // byte in the record, like the owner's number.
    std::array<std::uint8_t, kCountryCodeLength> countryCode{};

    Bytes encode() const;
    static ConfigBlock decode(const Bytes& bytes);

    friend bool operator==(const ConfigBlock&, const ConfigBlock&) = default;
};
