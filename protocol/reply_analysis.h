// Analysis of what the device sends back on the serial link: one quiet chunk
// at a time, by substring tests over its zero-terminated text.
#pragma once

#include "link/link_state.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

class LinkController;

class ReplyAnalyser {
  public:
    explicit ReplyAnalyser(LinkController& link);

    // Reads the announced chunk from the port and acts on it. Called by the
    // 20 ms tick once the line has been quiet.
    void Receive_analyse();

    // Acts on a chunk already read (the part of Receive_analyse after the read).
    void analyseChunk(const std::uint8_t* bytes, std::size_t count);

    // The firmware exchange looks at every chunk while the firmware page is active.
    std::function<void(const std::uint8_t*, std::size_t)> Bootloader_analyse;

  private:
    void greeting(std::string_view text, std::size_t at);

    LinkController& link_;
    // The chunk, then zero bytes: the token tests see a zero-terminated text
    // and fixed-offset fields after a token read zeros past the chunk's end.
    std::array<std::uint8_t, kRxBufferSize + 32> rxBuffer_{};
};
