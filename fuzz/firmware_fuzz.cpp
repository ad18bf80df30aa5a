// Fuzz target over what comes into the firmware update from outside: image
// files and the bootloader's chunks. Neither may make the check or the
// exchange read outside what it was handed, send more than one frame's worth
// per chunk, or run past the image.
//
// Input: one byte of flags, then chunks, each a 16-bit little-endian length
// followed by that many bytes (a length past the end takes what is left).
// The first chunk is an image file: when it passes the check it is held and,
// with flag bit 0, programming starts. Every further chunk goes to the
// bootloader analysis, as the serial analysis hands it over.
//
// The serial port component stays closed, so frames go nowhere (the byte
// send reports that and the exchange goes on as if they had left).
#include "comm/tcomm.h"
#include "firmware/bootloader_session.h"
#include "firmware/firmware_image.h"
#include "fuzz/fuzz_chunks.h"
#include "link/link_controller.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct QuietView : LinkObserver {
    int progress = 0;
    void event(const SessionEvent& e) override {
        if (const auto* p = std::get_if<events::FirmwareProgress>(&e)) {
            if (p->percent < 0 || p->percent > 1000 || p->blocks > p->of) {
                std::abort();
            }
            progress = p->percent;
        }
    }
};

struct Rig {
    TComm port;
    QuietView view;
    LinkController link{port, view};
    BootloaderSession session{link};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Rig rig;
    const std::uint8_t flags = data[0];
    rig.link.state.bootloaderMode = true;
    std::size_t blocks = 0;
    bool first = true;
    forEachChunk(data, size, [&](const std::vector<std::uint8_t>& chunk) {
        if (first) {
            first = false;
            auto image = firmware::checkImage(chunk.data(), chunk.size());
            if (!image) {
                return;
            }
            if (image->body.size() > firmware::kMaxBodySize || image->fileSize() != chunk.size()) {
                std::abort();
            }
            blocks = image->blockCount();
            rig.session.holdImage(std::move(*image), "fuzz.bin");
            if (flags & 0x01) {
                rig.session.startProgramming();
            }
            return;
        }
        const std::uint32_t before = rig.session.blockIndex();
        rig.session.analyse(chunk.data(), chunk.size());
        // One "!" a chunk: at most one block further, never past the image.
        if (rig.session.blockIndex() > before + 1 || rig.session.blockIndex() > blocks ||
            rig.session.errorCount() > BootloaderSession::kMaxRejections) {
            std::abort();
        }
    });
    return 0;
}
