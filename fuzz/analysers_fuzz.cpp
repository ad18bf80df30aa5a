// Fuzz target over both reply analysers: whatever a device (or anything that
// connects to the server) sends must never make the analysis read or write
// outside the chunk, the grid or its own buffers.
//
// Input: one byte of situation flags, then chunks, each a 16-bit
// little-endian length followed by that many bytes (a length past the end
// takes what is left). Every chunk goes to the serial analyser or, with flag
// bit 0, to the Internet link's analyser; state carries from chunk to chunk
// as it does between reads.
//
// The link's serial port stays closed, so acknowledgements go nowhere;
// what the replies ask of the rest of the session is only checked, not
// carried out.
#include "comm/tcomm.h"
#include "files/number_grid.h"
#include "fuzz/fuzz_chunks.h"
#include "link/link_controller.h"
#include "session/reply_handling.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

// The link with its reply handling, as the session drives them.
struct Rig : InternetTransport {
    LinkObserver quiet;
    MemoryNumberGrid grid; // throws on a cell outside the grid: a finding
    TComm port;
    LinkController link{port, quiet};
    ProtocolState protocol;
    ReplyHandler replies{link, protocol, &grid};

    Rig() { link.attachInternet(this); }
    ~Rig() override { port.Close(); }

    void reset(std::uint8_t flags) {
        link.state = LinkState{};
        protocol = ProtocolState{};
        grid.clear();
        link.state.debugMode = flags & 0x04;
        link.state.bootloaderMode = flags & 0x20;
        link.state.directDevice = !(flags & 0x40);
        protocol.configReadPending = flags & 0x02;
        if (flags & 0x10) {
            protocol.nextNumberRow = 640; // packets run past the last row
        }
        if (flags & 0x80) {
            protocol.nextNumberRow = -5; // a read position before the first row
        }
        // Flag 0x08 (a page other than the number list) is the session's to
        // weigh: the key reports are checked on every page.
        replies.forgetConfigRead();
    }

    // Checks what the replies ask of the rest of the session.
    void checkRequests() {
        while (const std::optional<ReplyRequest> request = replies.next()) {
            if (const auto* writer = std::get_if<reply_requests::StepWriter>(&*request)) {
                const int code = static_cast<int>(writer->step);
                if (code < 0 || code > 2) {
                    std::abort();
                }
            } else if (const auto* key = std::get_if<reply_requests::AddKey>(&*request)) {
                // At most ten 1251 characters, each at most three UTF-8 bytes.
                if (key->utf8.empty() || key->utf8.size() > 30) {
                    std::abort();
                }
            }
        }
    }

    // InternetTransport: every byte taken.
    int sendToClient(const std::uint8_t*, std::size_t n) override { return static_cast<int>(n); }
    void stopServer(int) override {}
    bool serverListening() const override { return true; }
    bool clientLinked() const override { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    if (size == 0) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    rig.reset(flags);
    forEachChunk(data, size, [&](const std::vector<std::uint8_t>& chunk) {
        if (flags & 0x01) {
            rig.replies.takeInternetRead(chunk.data(), chunk.size());
        } else {
            const std::span<const std::uint8_t> taken =
                rig.replies.takeSerial(chunk.data(), chunk.size());
            if (taken.size() > kRxBufferSize || (!taken.empty() && taken.data() == nullptr)) {
                std::abort();
            }
        }
        rig.checkRequests();
    });
    return 0;
}
