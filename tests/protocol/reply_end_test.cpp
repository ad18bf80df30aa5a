// Where a reply ends, for the fast exchange: every reply of the simulated
// device, cut at every point, is "not yet" until its last byte is there, and
// exactly its own length once it is, whatever follows it.
#include "protocol/reply_end.h"
#include "sim/device.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

int fuzzReplyEnd(const std::uint8_t* data, std::size_t size);

namespace {

std::size_t endOf(const std::string& bytes, bool bootloader = false) {
    return reply_end::completeReplyLength(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          bytes.size(), bootloader);
}

std::string answer(sim::SimDevice& device, std::string_view command) {
    return sim::joined(device.feed(command));
}

// Every proper prefix waits; the whole reply is complete, alone and with the
// start of the next reply behind it.
void expectCompleteOnlyWhole(const std::string& reply, const char* what, bool bootloader = false) {
    ASSERT_FALSE(reply.empty()) << what;
    for (std::size_t cut = 0; cut < reply.size(); ++cut) {
        EXPECT_EQ(endOf(reply.substr(0, cut), bootloader), 0u) << what << ", cut at " << cut;
    }
    EXPECT_EQ(endOf(reply, bootloader), reply.size()) << what;
    EXPECT_EQ(endOf(reply + "+NT", bootloader), reply.size()) << what << " with more behind";
}

TEST(ReplyEnd, EveryReplyOfTheDeviceIsCompleteOnlyWithItsLastByte) {
    sim::SimDevice device;
    expectCompleteOnlyWhole(answer(device, "CONFO"), "greeting");
    expectCompleteOnlyWhole(answer(device, std::string("CONFR\xD2\x04", 7)), "configuration");
    // Apartments 13 and 10 put line-end bytes inside the packet's records.
    ASSERT_EQ(answer(device, "RT+NTF=0,9161234567,13\r"), "+NTF:1");
    ASSERT_EQ(answer(device, "RT+NTF=1,9160000000,10\r"), "+NTF:1");
    const std::string packet = answer(device, "READ 1234\r");
    ASSERT_EQ(packet.substr(0, 8), "+IPD,26:");
    expectCompleteOnlyWhole(packet, "number packet");
    expectCompleteOnlyWhole(answer(device, "RT+NTF=2,9161111111,1\r"), "+NTF:");
    expectCompleteOnlyWhole(answer(device, "RT+EFA=3\r"), "+EFA:");
    // The device's text replies carry no line end: with one they are complete.
    expectCompleteOnlyWhole(answer(device, "ERASE 1234\r") + "\r", "text with line end");
    EXPECT_EQ(endOf("ERASE\r\nREA"), 7u) << "a line end right after goes with it";
    expectCompleteOnlyWhole("\r\n" + answer(device, "READ 1234\r"), "READOK after a line end");

    ASSERT_TRUE(answer(device, "!RST").empty());
    expectCompleteOnlyWhole(answer(device, "<"), "bootloader greeting", true);
    for (const char mark : {'!', '@', '>'}) {
        EXPECT_EQ(endOf(std::string(1, mark) + ">RT", true), 1u) << mark;
    }
}

TEST(ReplyEnd, WhatIsNotRecognisedWaitsForTheQuietTime) {
    // Text without a line end, however long, and line ends alone.
    EXPECT_EQ(endOf("BUSY"), 0u);
    EXPECT_EQ(endOf(std::string(1024, 'x')), 0u);
    EXPECT_EQ(endOf("\r\n\r\n"), 0u);
    // Headers that announce no number packet.
    EXPECT_EQ(endOf("+IPD,:R@\r\n"), 0u);
    EXPECT_EQ(endOf("+IPD,2x:R@\r\n"), 0u);
    EXPECT_EQ(endOf("+IPD,1000:" + std::string(1000, 'R')), 0u);
    // A header cut inside its digits is not read as a shorter length.
    EXPECT_EQ(endOf("+IPD,2"), 0u);
    EXPECT_EQ(endOf("+IPD,26"), 0u);
    // In the bootloader exchange only its own marks count, not the text rules.
    EXPECT_EQ(endOf("OK\r\n", true), 0u);
    EXPECT_EQ(endOf("R", true), 0u);
}

// The fuzz target's seeds and findings: every prefix of each agrees with the
// whole (a broken rule aborts).
TEST(ReplyEnd, FuzzCorpusKeepsEveryPrefixConsistent) {
    const std::filesystem::path dir = VXRT7_REPLY_END_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(fuzzReplyEnd(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                  0);
        ++count;
    }
    EXPECT_GE(count, 18u) << "the seeds are gone";
}

} // namespace
