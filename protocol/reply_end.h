// Where a reply of the device ends, for the fast exchange: instead of waiting
// for the line to go quiet, the receive path asks whether the bytes queued so
// far begin with a reply that is complete, and has exactly that much analysed.
//
// Recognised as complete:
//  - a number packet once the length its "+IPD" header announces is there;
//  - "CONFR" and the 68 bytes of the configuration block;
//  - the replies whose form fixes their length: the greeting ("VELIRAN",
//    one byte, the version, "#"), "CONFW", "READOK", "+NTF:" and "+EFA:"
//    with their result digit;
//  - any other text once its line end (byte 13 or 10) has arrived;
//  - in the bootloader exchange: "!", "@", ">" at once, and "RT" with the
//    version byte.
// Line ends before a reply and right after it belong to it. Everything else
// (an unknown or broken reply, a header that cannot be read) is "not yet":
// the caller then waits for the quiet time as without the fast exchange.
#pragma once

#include <cstddef>
#include <cstdint>

namespace reply_end {

// The number of leading bytes that form one complete reply; 0 for not yet.
std::size_t completeReplyLength(const std::uint8_t* bytes, std::size_t count, bool bootloader);

} // namespace reply_end
