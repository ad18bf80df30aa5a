#include "config/touch_keys.h"

#include <cstdio>

namespace touch_keys {

namespace {

std::optional<std::uint8_t> hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    return std::nullopt;
}

// Characters (not bytes) of a UTF-8 text, for the messages.
std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

// The whole UTF-8 sequence that starts at `at`, so that a message can show
// a Cyrillic or other character as the user typed it.
std::string characterAt(std::string_view text, std::size_t at) {
    std::size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        ++end;
    }
    return std::string(text.substr(at, end - at));
}

std::string rowName(int row) {
    return "Ключ " + std::to_string(row);
}

} // namespace

bool KeyPressHex(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'F') || (c >= U'a' && c <= U'f') ||
           c == U'\b';
}

bool keyCellAccepts(std::size_t cellLength, char32_t c) {
    if (!KeyPressHex(c)) {
        return false;
    }
    return c == U'\b' || cellLength < kDigits;
}

KeyConversion keyTextToBytes(std::string_view text, int row) {
    KeyConversion result;
    if (text.empty()) {
        return result;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!hexValue(text[i])) {
            const std::string shown =
                text[i] == ' ' ? std::string("пробел") : "\"" + characterAt(text, i) + "\"";
            result.error = rowName(row) + ": недопустимый символ " + shown +
                           " в коде ключа; код состоит из цифр 0-9 и букв A-F";
            return result;
        }
    }
    if (text.size() != kDigits) {
        result.error = rowName(row) + ": код ключа должен содержать 12 шестнадцатеричных цифр, " +
                       "введено " + std::to_string(characterCount(text));
        return result;
    }
    for (std::size_t pair = 0; pair < kBytes; ++pair) {
        const std::uint8_t high = *hexValue(text[2 * pair]);
        const std::uint8_t low = *hexValue(text[2 * pair + 1]);
        result.bytes[kBytes - 1 - pair] = static_cast<std::uint8_t>((high << 4) | low);
    }
    // The last digit pair lands in byte 0, and the device takes a record
    // whose byte 0 is 0 for an empty slot: such a key would be dropped
    // without a word, so it is refused here instead.
    if (result.bytes[0] == 0) {
        result.bytes = {};
        result.error = rowName(row) + ": код ключа, оканчивающийся на \"00\", устройство " +
                       "не сохранит (такая запись означает пустую ячейку)";
    }
    return result;
}

std::string bytesToKeyText(const KeyBytes& b) {
    if (b[0] == 0) {
        return {};
    }
    char text[kDigits + 1];
    std::snprintf(text, sizeof text, "%.2X%.2X%.2X%.2X%.2X%.2X", b[5], b[4], b[3], b[2], b[1],
                  b[0]);
    return std::string(text, kDigits);
}

} // namespace touch_keys
