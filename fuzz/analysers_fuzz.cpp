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
// The serial port component stays closed, so acknowledgements go nowhere;
// the hooks only check what they are handed.
#include "comm/tcomm.h"
#include "fuzz/fuzz_chunks.h"
#include "link/link_controller.h"
#include "lists/number_grid.h"
#include "protocol/protocol_state.h"
#include "session/reply_handling.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct QuietView : LinkView {
    void logLine(const std::string&) override {}
    void setStatusPanel(int, const std::string&) override {}
    void setButtonEnabled(LinkButton, bool) override {}
    bool isButtonEnabled(LinkButton) const override { return false; }
    void showMessage(const std::string&) override {}
    void setDiagnosticControlsVisible(bool) override {}
    void resetFirmwarePage() override {}
    std::string numberDeviceText() const override { return "00000000000"; }
    std::string servPortText() const override { return "2020"; }
    void setInternetControlsVisible(bool) override {}
    void setFirmwareProgress(int) override {}
};

struct Rig {
    TComm port;
    QuietView view;
    LinkController link{port, view};
    ProtocolState protocol;
    MemoryNumberGrid grid; // throws on a cell outside the grid: a finding
    ReplyHandler analyser{link, protocol};
    int page = 0;

    Rig() {
        analyser.numberGrid = &grid;
        analyser.Bootloader_analyse = [](const std::uint8_t* bytes, std::size_t n) {
            if (n > kRxBufferSize || (n > 0 && bytes == nullptr)) {
                std::abort();
            }
        };
        analyser.Read_conf = [](const frames::ConfigBlockBytes&) {};
        analyser.Read_numbersClick = [] {};
        analyser.WriteNumbers = [](int step) {
            if (step < 0 || step > 2) {
                std::abort();
            }
        };
        analyser.AddToNumListString = [](const std::string& key) {
            // At most ten 1251 characters, each at most three UTF-8 bytes.
            if (key.empty() || key.size() > 30) {
                std::abort();
            }
        };
        analyser.currentPage = [this] { return page; };
        analyser.resendLastBatch = [] {};
        analyser.setLabel7Caption = [](const std::string&) {};
        link.sendData = [](const std::uint8_t*, std::size_t n) { return static_cast<int>(n); };
    }

    void reset(std::uint8_t flags) {
        link.state = LinkState{};
        protocol = ProtocolState{};
        grid.clear();
        link.state.debugMode = flags & 0x04;
        link.state.bootloaderMode = flags & 0x20;
        link.state.directDevice = !(flags & 0x40);
        protocol.configReadPending = flags & 0x02;
        page = (flags & 0x08) ? 1 : 0;
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
            rig.analyser.ServerSocket1ClientRead(chunk.data(), chunk.size());
        } else {
            rig.analyser.analyseChunk(chunk.data(), chunk.size());
        }
    });
    return 0;
}
