// Code page 1251: every text that goes to the device or into a file is 1251,
// the window works in Unicode. The conversion happens at that boundary, here,
// and nowhere else.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cp1251 {

// Why a text could not be put into code page 1251.
struct EncodeError {
    char32_t character = 0;   // the first character with no 1251 form (0 for bad UTF-8)
    std::size_t position = 0; // its index in characters, counted from 0
    bool invalidUtf8 = false; // the input itself was not valid UTF-8
    // A message for the user, in Russian, naming the character.
    std::string message() const;
};

struct EncodeResult {
    std::string bytes;                // the 1251 bytes when ok
    std::optional<EncodeError> error; // set when the text cannot be held
    bool ok() const { return !error.has_value(); }
};

// UTF-8 -> 1251. Refuses (never replaces) a character that 1251 cannot hold.
EncodeResult fromUtf8(std::string_view utf8);

// 1251 -> UTF-8. Every byte has a meaning: the one hole of the code page
// (0x98) is carried as U+0098 so that bytes read from a device or a file
// survive a round trip unchanged.
std::string toUtf8(std::string_view bytes);

// The number of characters of a UTF-8 text, or nullopt when the bytes are
// not valid UTF-8 (a malformed, overlong, surrogate or cut-short sequence).
std::optional<std::size_t> utf8Length(std::string_view text);

// The Unicode character of one 1251 byte, and the byte of one character.
char32_t decodeByte(unsigned char byte);
std::optional<unsigned char> encodeChar(char32_t ch);

} // namespace cp1251
