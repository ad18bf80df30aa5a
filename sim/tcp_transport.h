// The simulator's Internet side: the device connects out to the
// configurator's server as a GPRS device in the field does.
#pragma once

#include "sim/stream_loop.h"

#include <chrono>
#include <string>

namespace sim {

struct TcpTarget {
    std::string host; // a name or a numeric address ("127.0.0.1", "::1")
    unsigned port = 0;
};

// Reads "HOST:PORT" or "[IPV6]:PORT" (port 1 to 65535). False when malformed.
bool parseTcpTarget(const std::string& text, TcpTarget* target);

// Connects to the target and returns a non-blocking socket (TCP_NODELAY, so
// that every write of the device leaves as it is written), or -1 with
// `error` set. Gives up after `timeout` or when `stop` is raised.
int connectTcp(const TcpTarget& target, const StopSignal& stop, std::chrono::milliseconds timeout,
               std::string* error);

} // namespace sim
