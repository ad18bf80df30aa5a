// The device model on its own: how it finds commands in a byte stream, what it
// answers, and its fault switches.
#include "sim/device.h"

#include <gtest/gtest.h>
#include <random>

using sim::Command;
using sim::Reply;
using sim::SimDevice;

namespace {

std::string greeting30() {
    return std::string("VELIRAN \x1e#", 10);
}

TEST(SimDeviceGreeting, AnswersConfoSplitAtEveryPoint) {
    const std::string confo = "CONFO";
    for (std::size_t cut = 0; cut <= confo.size(); ++cut) {
        SimDevice device;
        const Reply first = device.feed(confo.substr(0, cut));
        const Reply second = device.feed(confo.substr(cut));
        if (cut == confo.size()) {
            EXPECT_EQ(sim::joined(first), greeting30());
            EXPECT_TRUE(second.empty());
        } else {
            EXPECT_TRUE(first.empty()) << "cut " << cut;
            EXPECT_EQ(sim::joined(second), greeting30()) << "cut " << cut;
        }
    }
}

TEST(SimDeviceGreeting, AnswersOnlyOnTheLastByteWhenFedOneByteAtATime) {
    SimDevice device;
    const std::string stream = "xCOCONFCONFO";
    for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
        EXPECT_TRUE(device.feed(stream.substr(i, 1)).empty()) << "byte " << i;
    }
    EXPECT_EQ(sim::joined(device.feed("O")), greeting30());
}

TEST(SimDeviceGreeting, AnswersEachCommandOfOneChunk) {
    SimDevice device;
    const Reply reply = device.feed("CONFOjunkCONFO");
    ASSERT_EQ(reply.size(), 1u) << "one write for one chunk";
    EXPECT_EQ(reply[0].bytes, greeting30() + greeting30());
}

TEST(SimDeviceGreeting, VersionByteIsTheStateOfTheDevice) {
    SimDevice device;
    device.state().firmwareVersion = 0;
    EXPECT_EQ(sim::joined(device.feed("CONFO")), std::string("VELIRAN \0#", 10));
    device.state().firmwareVersion = 255;
    EXPECT_EQ(sim::joined(device.feed("CONFO")), std::string("VELIRAN \xff#", 10));
}

TEST(SimDeviceGreeting, TheBootloaderDoesNotAnswerTheFirmwaresCommands) {
    SimDevice device;
    device.state().bootloaderMode = true;
    EXPECT_TRUE(device.feed("CONFO").empty());
    device.state().bootloaderMode = false;
    EXPECT_EQ(sim::joined(device.feed("CONFO")), greeting30());
}

TEST(SimDeviceInput, IgnoresNoiseAndKeepsOnlyWhatCouldStartACommand) {
    SimDevice device;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string noise(64, '\0');
        for (char& c : noise) {
            c = static_cast<char>(byte(random));
            if ((c >= 'A' && c <= 'Z') || c == '!' || c == '+' || c == '_') {
                c = 'o'; // no accidental keyword: every one is upper case or starts "!"
            }
        }
        EXPECT_TRUE(device.feed(noise).empty());
        EXPECT_LT(device.pendingInput(), 6u) << "the longest keyword has six characters";
    }
    EXPECT_EQ(sim::joined(device.feed("CONFO")), greeting30());
}

TEST(SimDeviceFaults, NoReplySwallowsTheAnswer) {
    SimDevice device;
    device.faults().noReply = true;
    EXPECT_TRUE(device.feed("CONFO").empty());
    device.faults().noReply = false;
    EXPECT_EQ(sim::joined(device.feed("CONFO")), greeting30()) << "the command was consumed";
}

TEST(SimDeviceFaults, SplitRepliesLeaveInPiecesWithAGapBetween) {
    SimDevice device;
    device.faults().splitReplyBytes = 4;
    device.faults().splitGap = std::chrono::milliseconds(30);
    const Reply reply = device.feed("CONFO");
    ASSERT_EQ(reply.size(), 3u);
    EXPECT_EQ(reply[0], (sim::ReplyPiece{"VELI", std::chrono::milliseconds(0)}));
    EXPECT_EQ(reply[1], (sim::ReplyPiece{"RAN ", std::chrono::milliseconds(30)}));
    EXPECT_EQ(reply[2], (sim::ReplyPiece{std::string("\x1e#", 2), std::chrono::milliseconds(30)}));
}

// The framings later commands use, on made-up keywords.
TEST(SimDeviceCommandTable, FixedPayloadWaitsForAllItsBytesAndTakesThemAsData) {
    SimDevice device;
    std::vector<std::string> payloads;
    device.addCommand({.keyword = "BLOCK",
                       .framing = Command::Framing::FixedPayload,
                       .payloadBytes = 8,
                       .handler = [&](SimDevice&, std::string_view p) {
                           payloads.emplace_back(p);
                           return std::string("OK");
                       }});
    EXPECT_TRUE(device.feed("BLOCK").empty());
    EXPECT_TRUE(device.feed(std::string("\0CON", 4)).empty());
    // "CONFO" inside the payload is data, not a greeting request.
    EXPECT_EQ(sim::joined(device.feed("FO\r!CONFO")), "OK" + greeting30());
    ASSERT_EQ(payloads.size(), 1u);
    EXPECT_EQ(payloads[0], std::string("\0CONFO\r!", 8));
}

TEST(SimDeviceCommandTable, TextCommandRunsToItsCarriageReturnAndOverlongLinesAreDropped) {
    SimDevice device;
    std::vector<std::string> payloads;
    device.addCommand({.keyword = "TEXT",
                       .framing = Command::Framing::CarriageReturn,
                       .handler = [&](SimDevice&, std::string_view p) {
                           payloads.emplace_back(p);
                           return std::string("T");
                       }});
    EXPECT_TRUE(device.feed("TEXT 1234").empty());
    EXPECT_EQ(sim::joined(device.feed(" 5678\r")), "T");
    ASSERT_EQ(payloads.size(), 1u);
    EXPECT_EQ(payloads[0], " 1234 5678");

    // A text that never ends is noise; the device is not stuck on it.
    EXPECT_TRUE(device.feed("TEXT" + std::string(SimDevice::kMaxTextCommand, 'x')).empty());
    EXPECT_LE(device.pendingInput(), SimDevice::kMaxTextCommand);
    EXPECT_EQ(sim::joined(device.feed("CONFO")), greeting30());
    EXPECT_EQ(payloads.size(), 1u);
}

TEST(SimDeviceCommandTable, TheEarliestCommandWinsAndALongerKeywordAtTheSamePlace) {
    SimDevice device;
    device.addCommand({.keyword = "CONF",
                       .framing = Command::Framing::Bare,
                       .handler = [](SimDevice&, std::string_view) { return std::string("4"); }});
    // "CONFO" starts where "CONF" does and is longer; the lone "CONF" after it is its own.
    EXPECT_EQ(sim::joined(device.feed("CONFOxCONFx")), greeting30() + "4");
}

} // namespace
