// The simulated bootloader: prompt and greeting, frame checks, the faults a
// test can ask for, and the way back to the firmware.
#include "sim/device.h"

#include <gtest/gtest.h>

using sim::SimDevice;

namespace {

std::string answer(SimDevice& device, std::string_view bytes) {
    return sim::joined(device.feed(bytes));
}

// Block `n` filled with `fill`; `spoil` breaks its checksum.
std::string frame(std::size_t n, char fill, bool spoil = false) {
    std::string f = {static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)};
    f += std::string(128, fill);
    f.push_back(
        static_cast<char>((128 * static_cast<unsigned char>(fill) + (spoil ? 1 : 0)) & 0xFF));
    return f;
}

TEST(SimBootloader, PromptsUntilAnsweredThenChecksEveryFrame) {
    SimDevice device;
    device.state().loaderVersion = 7;
    EXPECT_EQ(device.promptPeriod().count(), 0) << "the firmware does not prompt";
    EXPECT_EQ(answer(device, "!RST"), "");
    EXPECT_EQ(device.promptPeriod(), SimDevice::kPromptPeriod);
    EXPECT_EQ(sim::joined(device.prompt()), ">");
    EXPECT_EQ(answer(device, "CONFO>"), "") << "noise before the answer";
    EXPECT_EQ(answer(device, "<"), "RT\x07");
    EXPECT_EQ(device.promptPeriod().count(), 0);
    EXPECT_EQ(answer(device, "<"), "RT\x07") << "a late answer to a prompt is greeted again";

    // Frames in any split; a wrong checksum or a block ahead of the next is refused.
    const std::string first = frame(0, 'a');
    EXPECT_EQ(answer(device, first.substr(0, 50)), "");
    EXPECT_EQ(answer(device, first.substr(50)), "!");
    EXPECT_EQ(answer(device, frame(1, 'b', true)), "@");
    EXPECT_EQ(answer(device, frame(2, 'b')), "@");
    EXPECT_EQ(answer(device, frame(1, 'b') + frame(1, 'c')), "!!") << "a block sent again";
    std::vector<std::uint8_t> image(128, 'a');
    image.resize(256, 'c');
    EXPECT_EQ(device.state().programmedImage, image);

    // The end marker starts the firmware, which answers the greeting again.
    EXPECT_EQ(answer(device, "\xFF\xFF"), "");
    EXPECT_FALSE(device.state().bootloaderMode);
    EXPECT_EQ(answer(device, "CONFO"), device.greeting());
    EXPECT_EQ(device.state().programmedImage, image);
}

TEST(SimBootloader, RejectionsAndAHangOnRequestAndARestart) {
    SimDevice device;
    device.faults().rejectFrames = 2;
    device.faults().muteLoaderAt = 4;
    answer(device, "!RST");
    answer(device, "<");
    EXPECT_EQ(answer(device, frame(0, 'a') + frame(0, 'a') + frame(0, 'a')), "@@!");
    EXPECT_EQ(device.faults().rejectFrames, 0u);
    EXPECT_EQ(answer(device, frame(1, 'a')), "") << "the 4th frame hangs it";
    EXPECT_EQ(answer(device, frame(1, 'a')), "");
    // "!RST" where a frame would start restarts it; block 0 starts a new image.
    EXPECT_EQ(answer(device, "!RST"), "");
    EXPECT_EQ(sim::joined(device.prompt()), ">");
    EXPECT_EQ(answer(device, "<" + frame(0, 'z')), std::string("RT\x02!"));
    EXPECT_EQ(device.state().programmedImage, std::vector<std::uint8_t>(128, 'z'));
}

} // namespace
