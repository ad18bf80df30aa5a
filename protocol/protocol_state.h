// The little state that the command operations and the two reply analysers
// share: whether a configuration read waits for its reply, where the next
// number read from the device goes, and how many number packets were bad.
// Only the window's thread touches it.
#pragma once

#include <cstdint>

struct ProtocolState {
    // Set by the configuration read request, cleared by its reply. While it
    // is set the serial analyser leaves "+IPD" number packets alone.
    bool configReadPending = false;
    // The grid row that receives the next number read from the device; the
    // number read request puts it back to 1.
    std::int32_t nextNumberRow = 1;
    // Number packets refused on the serial link since the last number read
    // request (wraps after 255); shown beside the number list.
    std::uint8_t badPacketCount = 0;
    // A configuration write went out and its "CONFW" has not come back.
    bool configWritePending = false;
    // The number read: under way from its request until the last packet
    // ("E") or "READOK"; complete only when it ended that way. A list that
    // was not read to its end (unplug, watchdog, a refused packet) is not
    // the device's whole list.
    bool numberReadPending = false;
    bool numberListComplete = true;
};
