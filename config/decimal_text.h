// Reading the decimal numbers the user types into the configuration's edit
// boxes, and the Russian messages for the ones that cannot be taken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace decimal_text {

// A text as a whole number: an optional sign and decimal digits, nothing else
// (no blanks, no hexadecimal). Magnitudes beyond 64 bits are kept at the
// largest value so that they still compare as "too large".
struct Number {
    enum class Kind { Empty, NotNumber, Value } kind = Kind::Empty;
    std::int64_t value = 0;
};
Number parse(std::string_view text);

// The value of `text` when it is a whole number from `min` to `max`;
// otherwise nullopt, and `error` gets a message that begins with `field`.
std::optional<std::int64_t> inRange(std::string_view text, std::string_view field, std::int64_t min,
                                    std::int64_t max, std::string& error);

} // namespace decimal_text
