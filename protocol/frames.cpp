#include "protocol/frames.h"

#include <algorithm>
#include <initializer_list>

namespace frames {
namespace {

// One piece of a text command: either fixed format text or an argument that
// came from the user, a file or the device's own list.
struct Piece {
    std::string_view text;
    bool argument;
};

Piece fixed(std::string_view text) {
    return {text, false};
}
Piece arg(std::string_view text) {
    return {text, true};
}

// Joins the pieces as the printf format would, refusing what the send
// buffer cannot hold and arguments that would break the command apart.
TextFrame format(std::initializer_list<Piece> pieces) {
    TextFrame frame;
    for (const Piece& p : pieces) {
        if (p.argument) {
            for (const char c : p.text) {
                if (c == '\0' || c == '\r' || c == '\n') {
                    frame.error = "Команда не отправлена: текст содержит управляющий символ";
                    frame.bytes.clear();
                    return frame;
                }
            }
        }
        frame.bytes.append(p.text);
    }
    if (frame.bytes.size() > kMaxTextCommand) {
        frame.error = "Команда не отправлена: длина команды " + std::to_string(frame.bytes.size()) +
                      " символов, допустимо не более " + std::to_string(kMaxTextCommand);
        frame.bytes.clear();
    }
    return frame;
}

} // namespace

std::string frameGreeting() {
    return "CONFO";
}
std::string frameClose() {
    return "CONFC\r";
}
std::string frameClosed() {
    return "CLOSED";
}
std::string frameModemCall() {
    return "AT\r";
}
std::string frameReset() {
    return "!RST";
}
std::string frameBootPrompt() {
    return "<";
}
std::string frameReceiveOk() {
    return "R_OK\r";
}
std::string frameReceiveFail() {
    return "RFAIL\r";
}
std::string frameEraseAll() {
    return "ERASE";
}

TextFrame frameDiagnostic(std::string_view command) {
    return format({arg(command), fixed("\r")});
}

std::string frameConfigRead(std::uint16_t password) {
    std::string out = "CONFR";
    out.push_back(static_cast<char>(password & 0xFF));
    out.push_back(static_cast<char>(password >> 8));
    return out;
}

std::string frameConfigWrite(const ConfigBlockBytes& block) {
    std::string out = "CONFW";
    out.append(reinterpret_cast<const char*>(block.data()), block.size());
    return out;
}

std::optional<std::uint16_t> passwordValue(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 0xFFFF) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint16_t>(value);
}

TextFrame frameChangePassword(std::string_view password, std::string_view newPassword,
                              bool direct) {
    return format({fixed("CHPASS "), arg(password), fixed(" "), arg(newPassword),
                   fixed(direct ? "\r" : "\x1A\r")});
}

TextFrame frameApn(std::string_view password, std::string_view apn) {
    return format({fixed("APN "), arg(password), fixed(" \""), arg(apn), fixed("\"#\r")});
}

TextFrame frameNumberAdd(std::string_view password, std::string_view number,
                         std::string_view apartment, bool direct) {
    if (direct) {
        return format(
            {fixed("ADD "), arg(password), fixed(" "), arg(number), arg(apartment), fixed("\r")});
    }
    return format({fixed("ADD"), arg(number), arg(apartment), fixed("\x1A\r")});
}

TextFrame frameNumberDel(std::string_view password, std::string_view number, bool direct) {
    if (direct) {
        return format({fixed("DEL "), arg(password), fixed(" "), arg(number), fixed("\r")});
    }
    return format({fixed("DEL"), arg(number), fixed("\x1A\r")});
}

TextFrame frameErase(std::string_view password, bool direct) {
    if (direct) {
        return format({fixed("ERASE "), arg(password), fixed("\r")});
    }
    return format({fixed("ERASE\r")});
}

TextFrame frameRead(std::string_view password, bool direct) {
    if (direct) {
        return format({fixed("READ "), arg(password), fixed("\r")});
    }
    return format({fixed("READ")});
}

TextFrame frameNtf(int cell, std::string_view number, std::string_view apartment) {
    const std::string cellText = std::to_string(cell);
    return format({fixed("RT+NTF="), fixed(cellText), fixed(","), arg(number), fixed(","),
                   arg(apartment), fixed("\r")});
}

TextFrame frameEfa(int cell) {
    const std::string cellText = std::to_string(cell);
    return format({fixed("RT+EFA="), fixed(cellText), fixed("\r")});
}

NumberRecordBytes encodeNumberRecord(std::string_view number, std::uint16_t apartment) {
    NumberRecordBytes record{};
    const std::size_t n = std::min(number.size(), kNumberTextSize);
    for (std::size_t i = 0; i < n; ++i) {
        record[i] = static_cast<std::uint8_t>(number[i]);
    }
    record[10] = static_cast<std::uint8_t>(apartment & 0xFF);
    record[11] = static_cast<std::uint8_t>(apartment >> 8);
    return record;
}

NumberRecord decodeNumberRecord(const std::uint8_t* record) {
    NumberRecord out;
    for (std::size_t i = 0; i < kNumberTextSize; ++i) {
        const std::uint8_t b = record[i];
        if (b == 0 || b == 13) {
            break;
        }
        out.number.push_back(static_cast<char>(b));
    }
    out.apartment = static_cast<std::uint16_t>(record[10] | (record[11] << 8));
    return out;
}

std::string frameNumberBatch(const std::vector<NumberRecordBytes>& records) {
    if (records.empty() || records.size() > kMaxBatchRecords) {
        return {};
    }
    std::string out = "ADN";
    out.push_back(static_cast<char>(records.size()));
    for (const auto& r : records) {
        out.append(reinterpret_cast<const char*>(r.data()), r.size());
    }
    out.push_back('@');
    return out;
}

} // namespace frames
