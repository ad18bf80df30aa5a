// Fuzz target over where a reply ends (the fast exchange's completeness
// rules). Input: one byte of flags (bit 0: the bootloader exchange), then the
// bytes queued on the line.
//
// The receive path asks the same question again with every piece that
// arrives, so the answers for the growing prefixes of one byte stream must
// agree with each other:
//  - a reported length lies within the bytes given;
//  - a prefix is complete only once the whole stream is: a reply reported
//    complete before its end would be analysed half-received, so a prefix of
//    k bytes reports either "not yet" or the stream's own end L (cut to k
//    when k < L, and then only line ends, which go with a reply, may follow
//    up to L; the bootloader's replies take none);
//  - once complete, a longer prefix stays complete.
#include "protocol/reply_end.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// Beyond the longest reply (a number packet of 254 bytes and its header)
// nothing new is decided; the cap keeps the quadratic check quick.
constexpr std::size_t kMaxBytes = 1024;

bool isLineEnd(std::uint8_t b) {
    return b == '\r' || b == '\n';
}

} // namespace

int fuzzReplyEnd(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool bootloader = (data[0] & 0x01) != 0;
    const std::uint8_t* bytes = data + 1;
    const std::size_t count = std::min(size - 1, kMaxBytes);
    const std::size_t whole = reply_end::completeReplyLength(bytes, count, bootloader);
    if (whole > count) {
        std::abort();
    }
    bool completeBefore = false;
    for (std::size_t k = 0; k <= count; ++k) {
        const std::size_t m = reply_end::completeReplyLength(bytes, k, bootloader);
        if (m == 0) {
            if (completeBefore) {
                std::abort(); // a longer prefix went back to "not yet"
            }
            continue;
        }
        completeBefore = true;
        if (m > k || whole == 0 || m != std::min(k, whole)) {
            std::abort();
        }
        for (std::size_t i = m; i < whole; ++i) {
            if (bootloader || !isLineEnd(bytes[i])) {
                std::abort(); // complete before the reply's last byte
            }
        }
    }
    return 0;
}

#ifdef VXRT7_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzReplyEnd(data, size);
}
#endif
