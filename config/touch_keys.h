// Touch-memory (1-Wire) key codes: the user types twelve hexadecimal digits,
// the configuration record keeps six bytes with the first digit pair in the
// last byte. A record whose byte 0 is 0 holds no key.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace touch_keys {

inline constexpr std::size_t kDigits = 12;
inline constexpr std::size_t kBytes = 6;
inline constexpr std::size_t kKeyCount = 5;

using KeyBytes = std::array<std::uint8_t, kBytes>;

// The typing filter of a key cell: hexadecimal digits of either case and
// backspace (byte 8) pass, everything else is swallowed.
bool KeyPressHex(char32_t c);

// Whether the typed character c may go into a key cell that already holds
// `cellLength` characters: a hexadecimal digit only while the cell holds
// fewer than twelve; backspace always.
bool keyCellAccepts(std::size_t cellLength, char32_t c);

// Either the six stored bytes of a key cell or why the cell cannot be stored.
struct KeyConversion {
    KeyBytes bytes{};
    std::optional<std::string> error; // Russian, names the key's row
    bool ok() const { return !error.has_value(); }
};

// Key text (UTF-8) -> six bytes. An empty text is six zero bytes. A text of
// anything but exactly twelve hexadecimal digits is refused with a message
// naming `row` (1..5): the device would otherwise store a different key than
// the one on the screen. So is a code ending in "00", which would land as a
// zero byte 0, the device's mark of an empty slot.
KeyConversion keyTextToBytes(std::string_view text, int row);

// Six bytes -> key text: empty when byte 0 is 0, otherwise twelve upper-case
// digits, byte 5 first.
std::string bytesToKeyText(const KeyBytes& bytes);

} // namespace touch_keys
