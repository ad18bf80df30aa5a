// The device's configuration commands: the settings block, the password and
// the access point.
#include "sim/device.h"

#include <algorithm>

namespace sim {
namespace {

constexpr const char* kWrongPassword = "Not corr";

std::uint16_t le16(std::string_view bytes) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[0]) |
                                      (static_cast<unsigned char>(bytes[1]) << 8));
}

// Splits " <first> <rest>" into its first word and the remainder after the
// blank that ends it. False when the text does not start with one blank and a
// word followed by a blank.
bool firstWord(std::string_view text, std::string_view* word, std::string_view* rest) {
    if (text.size() < 2 || text[0] != ' ') {
        return false;
    }
    text.remove_prefix(1);
    const auto blank = text.find(' ');
    if (blank == std::string_view::npos) {
        return false;
    }
    *word = text.substr(0, blank);
    *rest = text.substr(blank + 1);
    return true;
}

} // namespace

std::string SimDevice::onConfigRead(std::string_view payload) {
    if (le16(payload) != state_.password()) {
        return kWrongPassword;
    }
    std::string reply = "CONFR";
    reply.append(reinterpret_cast<const char*>(state_.configBlock.data()),
                 state_.configBlock.size());
    return reply;
}

std::string SimDevice::onConfigWrite(std::string_view payload) {
    // The block carries the password in its first two bytes; a block with
    // another one is refused whole, so a write cannot change the password.
    if (le16(payload) != state_.password()) {
        return kWrongPassword;
    }
    std::copy(payload.begin(), payload.end(), state_.configBlock.begin());
    return "CONFW";
}

std::string SimDevice::onChangePassword(std::string_view payload) {
    std::string_view old;
    std::string_view fresh;
    if (!firstWord(payload, &old, &fresh) || !wire::passwordMatches(old, state_.password())) {
        return kWrongPassword;
    }
    unsigned long value = 0;
    if (!wire::decimal(fresh, 4, &value)) {
        return kWrongPassword; // the new one could not be typed back into "Пароль"
    }
    state_.setPassword(static_cast<std::uint16_t>(value));
    return "CHPASS";
}

std::string SimDevice::onAccessPoint(std::string_view payload) {
    std::string_view password;
    std::string_view quoted;
    if (!firstWord(payload, &password, &quoted)) {
        return {};
    }
    // "<text>"#: the outer quotation marks belong to the command, inner ones
    // separate the name, user and password fields.
    if (quoted.size() < 3 || quoted.front() != '"' || quoted.substr(quoted.size() - 2) != "\"#") {
        return {};
    }
    if (!wire::passwordMatches(password, state_.password())) {
        return kWrongPassword;
    }
    state_.accessPoint = std::string(quoted.substr(1, quoted.size() - 3));
    return "APN";
}

} // namespace sim
