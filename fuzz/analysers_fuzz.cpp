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
// The session's serial port stays closed, so acknowledgements go nowhere;
// what the replies drive beyond the link is only checked, not carried out.
#include "files/number_grid.h"
#include "fuzz/fuzz_chunks.h"
#include "session/device_session.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Checks what the replies hand on.
struct Checks : ReplyTargets {
    int page = 0;
    void bootloaderChunk(const std::uint8_t* bytes, std::size_t n) override {
        if (n > kRxBufferSize || (n > 0 && bytes == nullptr)) {
            std::abort();
        }
    }
    void configBlockRead(const frames::ConfigBlockBytes&) override {}
    void numbersWanted() override {}
    void writerStep(device_replies::WriterStep step) override {
        const int code = static_cast<int>(step);
        if (code < 0 || code > 2) {
            std::abort();
        }
    }
    void keyReported(const std::string& key) override {
        // At most ten 1251 characters, each at most three UTF-8 bytes.
        if (key.empty() || key.size() > 30) {
            std::abort();
        }
    }
    bool numberListShown() const override { return page == 0; }
    void resendBatch() override {}
    void badPackets(std::uint8_t) override {}
};

struct Rig {
    SessionObserver quiet;
    MemoryNumberGrid grid; // throws on a cell outside the grid: a finding
    Checks checks;
    DeviceSession session{nullptr, grid, quiet, &checks};
    LinkController& link = session.link();
    ProtocolState& protocol = session.protocol();

    Rig() {
        session.attachInternet(
            {[](const std::uint8_t*, std::size_t n) { return static_cast<int>(n); }, {}, {}, {}});
    }

    void reset(std::uint8_t flags) {
        link.state = LinkState{};
        protocol = ProtocolState{};
        grid.clear();
        link.state.debugMode = flags & 0x04;
        link.state.bootloaderMode = flags & 0x20;
        link.state.directDevice = !(flags & 0x40);
        protocol.configReadPending = flags & 0x02;
        checks.page = (flags & 0x08) ? 1 : 0;
        if (flags & 0x10) {
            protocol.nextNumberRow = 640; // packets run past the last row
        }
        if (flags & 0x80) {
            protocol.nextNumberRow = -5; // a read position before the first row
        }
    }
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
            rig.session.replies().analyseInternetRead(chunk.data(), chunk.size());
        } else {
            rig.session.replies().analyseChunk(chunk.data(), chunk.size());
        }
    });
    return 0;
}
