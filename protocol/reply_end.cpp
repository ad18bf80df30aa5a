#include "protocol/reply_end.h"

#include <string_view>

namespace reply_end {
namespace {

constexpr std::size_t kConfigBlockSize = 68;
constexpr std::size_t kMaxPacket = 254; // 21 records: the length fits one byte

bool isLineEnd(std::uint8_t b) {
    return b == '\r' || b == '\n';
}

bool startsWith(const std::uint8_t* bytes, std::size_t count, std::size_t at,
                std::string_view token) {
    if (count - at < token.size()) {
        return false;
    }
    for (std::size_t k = 0; k < token.size(); ++k) {
        if (bytes[at + k] != static_cast<std::uint8_t>(token[k])) {
            return false;
        }
    }
    return true;
}

// The reply ends at `end` if that many bytes are there; line ends already
// queued right after it go with it.
std::size_t endAt(const std::uint8_t* bytes, std::size_t count, std::size_t end) {
    if (end > count) {
        return 0;
    }
    while (end < count && isLineEnd(bytes[end])) {
        ++end;
    }
    return end;
}

// "+IPD", one separator, the length in decimal digits, ":", the packet.
std::size_t packetEnd(const std::uint8_t* bytes, std::size_t count, std::size_t at) {
    std::size_t i = at + 5;
    std::size_t length = 0;
    std::size_t digits = 0;
    while (i < count && bytes[i] >= '0' && bytes[i] <= '9') {
        length = length * 10 + static_cast<std::size_t>(bytes[i] - '0');
        if (++digits > 3 || length > kMaxPacket) {
            return 0; // no number packet: left to the quiet time
        }
        ++i;
    }
    if (i >= count || digits == 0 || bytes[i] != ':') {
        return 0; // header not all there yet, or not a header
    }
    return endAt(bytes, count, i + 1 + length);
}

std::size_t bootloaderReply(const std::uint8_t* bytes, std::size_t count) {
    const std::uint8_t first = bytes[0];
    if (first == '!' || first == '@' || first == '>') {
        return 1;
    }
    if (first == 'R' && count >= 3 && bytes[1] == 'T') {
        return 3; // "RT" and the loader's version byte
    }
    return 0;
}

} // namespace

std::size_t completeReplyLength(const std::uint8_t* bytes, std::size_t count, bool bootloader) {
    if (bytes == nullptr || count == 0) {
        return 0;
    }
    if (bootloader) {
        return bootloaderReply(bytes, count);
    }
    std::size_t j = 0;
    while (j < count && isLineEnd(bytes[j])) {
        ++j;
    }
    for (; j < count; ++j) {
        if (isLineEnd(bytes[j])) {
            return endAt(bytes, count, j + 1);
        }
        if (startsWith(bytes, count, j, "+IPD")) {
            return packetEnd(bytes, count, j);
        }
        if (startsWith(bytes, count, j, "CONFR")) {
            return endAt(bytes, count, j + 5 + kConfigBlockSize);
        }
        if (startsWith(bytes, count, j, "VELIRAN")) {
            return endAt(bytes, count, j + 10);
        }
        if (startsWith(bytes, count, j, "+NTF:") || startsWith(bytes, count, j, "+EFA:")) {
            return endAt(bytes, count, j + 6);
        }
        if (startsWith(bytes, count, j, "READOK")) {
            return endAt(bytes, count, j + 6);
        }
        if (startsWith(bytes, count, j, "CONFW")) {
            return endAt(bytes, count, j + 5);
        }
    }
    return 0;
}

} // namespace reply_end
