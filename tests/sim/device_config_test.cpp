// The device model's configuration, password, access point and session
// commands, and the faults that strike single commands: exact reply bytes.
#include "sim/device.h"
#include "wire_helpers.h"

#include <gtest/gtest.h>

using sim::SimDevice;
using namespace simtest;

namespace {

std::string answer(SimDevice& device, std::string_view bytes) {
    return sim::joined(device.feed(bytes));
}

sim::ConfigBlockBytes sampleBlock(std::uint16_t password) {
    sim::ConfigBlockBytes block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    block[0] = static_cast<std::uint8_t>(password & 0xFF);
    block[1] = static_cast<std::uint8_t>(password >> 8);
    return block;
}

TEST(SimDeviceConfig, ReadAnswersTheFactoryBlock) {
    SimDevice device;
    const std::string reply = answer(device, "CONFR" + passwordBytes(1234));
    ASSERT_EQ(reply.size(), 5u + 68u);
    EXPECT_EQ(reply.substr(0, 5), "CONFR");
    const std::string block = reply.substr(5);
    EXPECT_EQ(block.substr(0, 2), "\xD2\x04") << "password 1234";
    EXPECT_EQ(block[3], 3) << "relay mode: pulse";
    EXPECT_EQ(block.substr(4, 4), std::string("\x88\x13\0\0", 4)) << "pulse 5000 ms";
    EXPECT_EQ(block.substr(8, 4), std::string("\x32\0\0\0", 4)) << "pause 50 ms";
    EXPECT_EQ(block.substr(12, 5), std::string("\x01\x14\x14\x05\x03", 5));
    EXPECT_EQ(block.substr(58, 2), std::string("\x01\0", 2)) << "device number 1";
    EXPECT_EQ(block.substr(62, 6), std::string("+7\0\0\0\0", 6));
}

TEST(SimDeviceConfig, ReadWithAnotherPasswordIsRefused) {
    SimDevice device;
    device.state().setPassword(4); // the second byte on the line is a zero byte
    EXPECT_EQ(answer(device, "CONFR" + passwordBytes(1234)), "Not corr");
    EXPECT_EQ(answer(device, "CONFR" + passwordBytes(4 + 256)), "Not corr");
    const std::string reply = answer(device, "CONFR" + passwordBytes(4));
    EXPECT_EQ(reply.substr(0, 7), std::string("CONFR\x04\0", 7));
}

TEST(SimDeviceConfig, WrittenBlockIsKeptAndReadBack) {
    SimDevice device;
    const auto block = sampleBlock(1234);
    // The serial link writes the keyword and the block separately.
    EXPECT_EQ(answer(device, "CONFW"), "");
    EXPECT_EQ(answer(device, blockBytes(block).substr(0, 30)), "");
    EXPECT_EQ(answer(device, blockBytes(block).substr(30)), "CONFW");
    EXPECT_EQ(device.state().configBlock, block);
    EXPECT_EQ(answer(device, "CONFR" + passwordBytes(1234)), "CONFR" + blockBytes(block));
}

TEST(SimDeviceConfig, BlockWithAnotherPasswordIsRefusedWhole) {
    SimDevice device;
    const auto before = device.state().configBlock;
    EXPECT_EQ(answer(device, "CONFW" + blockBytes(sampleBlock(4321))), "Not corr");
    EXPECT_EQ(device.state().configBlock, before);
    EXPECT_EQ(device.state().password(), 1234);
}

TEST(SimDeviceConfig, BlockBytesThatSpellCommandsAreData) {
    SimDevice device;
    auto block = sampleBlock(1234);
    const std::string inside = "CONFO\rREAD 1234\rERASE 1234\r";
    std::copy(inside.begin(), inside.end(), block.begin() + 17);
    EXPECT_EQ(answer(device, "CONFW" + blockBytes(block)), "CONFW");
    EXPECT_EQ(device.state().configBlock, block);
}

TEST(SimDevicePassword, ChangedOnTheSerialLinkAndAsATextMessage) {
    SimDevice device;
    EXPECT_EQ(answer(device, "CHPASS 1234 5678\r"), "CHPASS");
    EXPECT_EQ(device.state().password(), 5678);
    EXPECT_EQ(device.state().configBlock[0], 0x2E);
    EXPECT_EQ(device.state().configBlock[1], 0x16);
    EXPECT_EQ(answer(device, "CONFR" + passwordBytes(1234)), "Not corr");
    EXPECT_EQ(answer(device, "CONFR" + passwordBytes(5678)).substr(0, 7), "CONFR\x2E\x16");

    // The Internet form ends in Ctrl-Z and a carriage return; the password
    // counts by its value, so leading zeros make no difference.
    EXPECT_EQ(answer(device, "CHPASS 5678 0042\x1A\r"), "CHPASS");
    EXPECT_EQ(device.state().password(), 42);
    EXPECT_EQ(answer(device, "CHPASS 00042 7\r"), "CHPASS");
    EXPECT_EQ(device.state().password(), 7);
}

TEST(SimDevicePassword, WrongOldOrUnusableNewPasswordKeepsTheOldOne) {
    for (const char* command :
         {"CHPASS 1235 5678\r", "CHPASS 1234 56789\r", "CHPASS 1234 12a4\r", "CHPASS 1234 \r",
          "CHPASS 1234\r", "CHPASS 1234 -1\r", "CHPASS 99999 1\r", "CHPASS  1234 5678\r"}) {
        SimDevice device;
        EXPECT_EQ(answer(device, command), "Not corr") << command;
        EXPECT_EQ(device.state().password(), 1234) << command;
    }
}

TEST(SimDeviceAccessPoint, KeepsTheTextBetweenTheOuterQuotes) {
    SimDevice device;
    EXPECT_EQ(answer(device, "APN 1234 \"internet.tele2.ru\"#\r"), "APN");
    EXPECT_EQ(device.state().accessPoint, "internet.tele2.ru");
    EXPECT_EQ(answer(device, "APN 1234 \"internet.beeline.ru\",\"beeline\",\"beeline\"#\r"), "APN");
    EXPECT_EQ(device.state().accessPoint, "internet.beeline.ru\",\"beeline\",\"beeline");
    EXPECT_EQ(answer(device, "APN 1234 \"\"#\r"), "APN");
    EXPECT_EQ(device.state().accessPoint, "");
}

TEST(SimDeviceAccessPoint, WrongPasswordIsRefusedAndMalformedCommandsIgnored) {
    SimDevice device;
    device.state().accessPoint = "before";
    EXPECT_EQ(answer(device, "APN 1 \"internet.mts.ru\"#\r"), "Not corr");
    for (const char* command : {"APN 1234 \"internet.mts.ru\"\r", "APN 1234 internet.mts.ru#\r",
                                "APN 1234\r", "APN \"x\"#\r"}) {
        EXPECT_EQ(answer(device, command), "") << command;
    }
    EXPECT_EQ(device.state().accessPoint, "before");
}

TEST(SimDeviceSession, CloseIsSilentAndResetEntersTheBootloader) {
    SimDevice device;
    EXPECT_EQ(answer(device, "CONFC\r"), "");
    EXPECT_FALSE(device.state().bootloaderMode);
    EXPECT_EQ(answer(device, "!RST"), "");
    EXPECT_TRUE(device.state().bootloaderMode);
    EXPECT_EQ(answer(device, "CONFR" + passwordBytes(1234)), "")
        << "the bootloader is not the firmware";
}

TEST(SimDeviceSession, TextAfterLinkingComesOnceAfterTheFirstGreeting) {
    SimDevice device;
    device.setSayAfterLink("BUSY", std::chrono::milliseconds(300));
    EXPECT_TRUE(device.takeUnsolicited().empty()) << "not before the link";
    EXPECT_EQ(answer(device, "CONFO"), std::string("VELIRAN \x1e#"));
    const sim::Reply said = device.takeUnsolicited();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0], (sim::ReplyPiece{"BUSY", std::chrono::milliseconds(300)}));
    EXPECT_EQ(answer(device, "CONFO"), std::string("VELIRAN \x1e#"));
    EXPECT_TRUE(device.takeUnsolicited().empty());

    device.say("Trevoga");
    EXPECT_EQ(sim::joined(device.takeUnsolicited()), "Trevoga");
}

TEST(SimDeviceStepFaults, SkipOneSwallowsOnlyThatAnswerButCarriesTheCommandOut) {
    SimDevice device;
    device.faults().silence = {sim::StepFault::Mode::SkipOne, "CHPASS", 2};
    EXPECT_EQ(answer(device, "CHPASS 1234 1111\r"), "CHPASS");
    EXPECT_EQ(answer(device, "CONFO"), std::string("VELIRAN \x1e#"))
        << "other commands do not count";
    EXPECT_EQ(answer(device, "CHPASS 1111 2222\r"), "");
    EXPECT_EQ(device.state().password(), 2222);
    EXPECT_EQ(answer(device, "CHPASS 2222 3333\r"), "CHPASS");

    // Setting the fault again starts the count again.
    device.faults().silence = {sim::StepFault::Mode::SkipOne, "CHPASS", 1};
    EXPECT_EQ(answer(device, "CHPASS 3333 4444\r"), "");
    EXPECT_EQ(answer(device, "CHPASS 4444 5555\r"), "CHPASS");
}

TEST(SimDeviceStepFaults, GoSilentEndsEveryAnswerFromThatStepOn) {
    SimDevice device;
    device.faults().silence = {sim::StepFault::Mode::GoSilent, "CONFR", 2};
    EXPECT_EQ(answer(device, "CONFR" + passwordBytes(1234)).size(), 73u);
    EXPECT_EQ(answer(device, "CONFR" + passwordBytes(1234)), "");
    EXPECT_EQ(answer(device, "CONFO"), "");
    EXPECT_EQ(answer(device, "CHPASS 1234 1\r"), "");
    EXPECT_EQ(device.state().password(), 1) << "commands are still carried out";
    EXPECT_TRUE(device.faults().noReply);
    device.faults().noReply = false;
    EXPECT_EQ(answer(device, "CONFO"), std::string("VELIRAN \x1e#"));
}

} // namespace
