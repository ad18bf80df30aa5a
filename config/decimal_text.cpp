#include "config/decimal_text.h"

#include <limits>

namespace decimal_text {

Number parse(std::string_view text) {
    Number n;
    if (text.empty()) {
        return n;
    }
    bool negative = false;
    std::size_t i = 0;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) {
        n.kind = Number::Kind::NotNumber;
        return n;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            n.kind = Number::Kind::NotNumber;
            return n;
        }
        const int digit = c - '0';
        magnitude = magnitude > (kMax - digit) / 10 ? kMax : magnitude * 10 + digit;
    }
    n.kind = Number::Kind::Value;
    n.value = negative ? -magnitude : magnitude;
    return n;
}

std::optional<std::int64_t> inRange(std::string_view text, std::string_view field, std::int64_t min,
                                    std::int64_t max, std::string& error) {
    const Number n = parse(text);
    const std::string name(field);
    switch (n.kind) {
    case Number::Kind::Empty:
        error = name + ": поле не заполнено";
        return std::nullopt;
    case Number::Kind::NotNumber:
        error = name + ": \"" + std::string(text) + "\" не является целым числом";
        return std::nullopt;
    case Number::Kind::Value:
        break;
    }
    if (n.value < 0 && min >= 0) {
        error = name + ": отрицательное значение " + std::string(text) + " недопустимо";
        return std::nullopt;
    }
    if (n.value < min || n.value > max) {
        error = name + ": значение " + std::string(text) + " вне допустимого диапазона " +
                std::to_string(min) + ".." + std::to_string(max);
        return std::nullopt;
    }
    return n.value;
}

} // namespace decimal_text
