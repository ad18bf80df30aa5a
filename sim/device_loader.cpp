// The simulated device's bootloader (see device.h).
#include "sim/device.h"

namespace sim {

std::chrono::milliseconds SimDevice::promptPeriod() const {
    const bool waiting = state_.bootloaderMode && carrier_ == Carrier::Serial && !loader_.greeted;
    return waiting && !faults_.noReply ? kPromptPeriod : std::chrono::milliseconds{0};
}

Reply SimDevice::prompt() const {
    if (promptPeriod().count() == 0) {
        return {};
    }
    return {{">", std::chrono::milliseconds{0}}};
}

Reply SimDevice::feedBootloader(std::string_view bytes) {
    const std::string greeting = std::string("RT") + static_cast<char>(state_.loaderVersion);
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char b = bytes[i];
        if (!loader_.greeted) {
            // Everything but the answer to the prompt is noise.
            if (b == '<') {
                loader_.greeted = true;
                out += greeting;
            }
            continue;
        }
        std::string& frame = loader_.frame;
        frame.push_back(b);
        if (frame == "<") {
            out += greeting; // the configurator answered a prompt late
            frame.clear();
        } else if (frame == "!RST") {
            loader_ = LoaderSession{};
        } else if (frame.size() == 2 && frame == "\xff\xff") {
            // The end marker: the new firmware starts; it waits for "CONFO".
            loader_ = LoaderSession{};
            state_.bootloaderMode = false;
            linkClosed();
            input_.append(bytes.substr(i + 1));
            break;
        } else if (frame.size() == kLoaderFrameSize) {
            out += onLoaderFrame();
            frame.clear();
        }
    }
    if (faults_.noReply) {
        return {};
    }
    return shape(std::move(out));
}

std::string SimDevice::onLoaderFrame() {
    const std::string& f = loader_.frame;
    if (++loaderFrames_ == faults_.muteLoaderAt) {
        loader_.hung = true;
    }
    auto answer = [&](const char* text) {
        return loader_.hung ? std::string() : std::string(text);
    };
    if (faults_.rejectFrames > 0) {
        --faults_.rejectFrames;
        return answer("@");
    }
    const std::size_t number = (static_cast<std::size_t>(static_cast<unsigned char>(f[0])) << 8) |
                               static_cast<unsigned char>(f[1]);
    unsigned sum = 0;
    for (std::size_t i = 2; i < 2 + kLoaderBlockSize; ++i) {
        sum += static_cast<unsigned char>(f[i]);
    }
    if ((sum & 0xFF) != static_cast<unsigned char>(f[kLoaderFrameSize - 1]) ||
        number > loader_.nextBlock || number >= kLoaderMaxBlocks) {
        return answer("@");
    }
    std::vector<std::uint8_t>& image = state_.programmedImage;
    if (number == 0) {
        image.clear();
        loader_.nextBlock = 0;
    }
    const std::size_t at = number * kLoaderBlockSize;
    if (image.size() < at + kLoaderBlockSize) {
        image.resize(at + kLoaderBlockSize);
    }
    for (std::size_t i = 0; i < kLoaderBlockSize; ++i) {
        image[at + i] = static_cast<std::uint8_t>(f[2 + i]);
    }
    if (number == loader_.nextBlock) {
        ++loader_.nextBlock;
    }
    return answer("!");
}

} // namespace sim
