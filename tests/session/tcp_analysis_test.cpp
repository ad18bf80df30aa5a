// The Internet link's reply analysis: each read of a loopback TCP connection
// is analysed by itself, with its own token table.
#include "tests/session/protocol_harness.h"

#include <gtest/gtest.h>

namespace {

using namespace protocol_test;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

struct InternetAnalysis : ::testing::Test {
    Harness h;
    LoopbackConnection tcp;
    void SetUp() override { h.linkInternet(tcp); }
    void reply(const std::string& chunk) {
        h.link.state.replyTimer = 1;
        h.tcpSays(chunk);
    }
    bool watchdogStopped() const { return h.link.state.replyTimer == 0; }
};

TEST(InternetAnalysisLink, ConnectAnnouncesTheDevice) {
    Harness h;
    LoopbackConnection tcp;
    h.linkInternet(tcp); // sends "CONNECT" through the connection
    EXPECT_TRUE(h.link.state.remoteConnected);
    EXPECT_FALSE(h.link.state.directDevice);
    EXPECT_FALSE(h.link.state.linkUp); // only the serial greeting sets it
    EXPECT_TRUE(h.link.phase().linkHeld);
}

TEST_F(InternetAnalysis, EachReplyOfItsTable) {
    const struct {
        std::string chunk;
        Lines log;
        Lines calls;
        bool stops;
    } cases[] = {
        {"CONNECT", {"Соединение установлено"}, {}, false},
        {"READOK", {"Чтение номеров завершено"}, {}, true},
        {"ADD OK", {"Номер добавлен"}, {"WriteNumbers(1)"}, true},
        {"Dobavlen", {"Номер добавлен"}, {"WriteNumbers(1)"}, true},
        {"ADN", {}, {"resendLastBatch"}, true},
        {"ERASE OK", {}, {"WriteNumbers(1)"}, false},
        {"FULL", {"Номер не добавлен. Нет свободного места"}, {"WriteNumbers(2)"}, true},
        {"Net svobodnogo", {"Номер не добавлен. Нет свободного места"}, {"WriteNumbers(2)"}, true},
        {"Not correct", {"Пароль не верный"}, {}, true},
        {"CHPASS OK", {"Пароль изменен"}, {}, true},
        {"New pass", {"Пароль изменен"}, {}, true},
        {"CONFW", {"Конфигурация записана"}, {"WriteNumbers(0)"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        h.view.log.clear();
        h.calls.clear();
        reply(c.chunk);
        EXPECT_EQ(h.view.log, c.log);
        EXPECT_EQ(h.calls, c.calls);
        EXPECT_EQ(watchdogStopped(), c.stops);
        EXPECT_EQ(tcp.received(50), "");
    }
}

TEST_F(InternetAnalysis, TokensOnlyTheSerialLinkKnowsDoNothingHere) {
    for (const std::string& chunk :
         {"CLOSED"s, "Trevoga"s, "DEL"s, "Ydalen"s, "NOT NUMBER"s, "APN"s, "TON_SET"s, "DISCON"s,
          "GPRS ser"s, "Ne yda"s, "BUSY"s, "+NTF:1"s, "+EFA:3"s, "+KEY: 0123456789"s,
          "VELIRAN \x1E#"s, "+IPD,14:R1234567890\x01\x01@"s}) {
        SCOPED_TRACE(chunk);
        h.view.log.clear();
        h.calls.clear();
        h.link.state.debugMode = true; // and there is no diagnostic echo either
        reply(chunk);
        EXPECT_TRUE(h.view.log.empty());
        EXPECT_TRUE(h.calls.empty());
        EXPECT_FALSE(watchdogStopped());
        EXPECT_FALSE(h.link.state.directDevice);
        EXPECT_EQ(tcp.received(50), "");
    }
}

TEST_F(InternetAnalysis, APacketIsAWholeReadWithoutHeader) {
    // Parsed even while a configuration read is pending.
    h.protocol.configReadPending = true;
    reply("E" + record("9001234567", 7) + record("12", 300) + "@");
    EXPECT_EQ(tcp.received(), "R_OK\r");
    EXPECT_EQ(h.view.log, Lines{"Чтение номеров завершено"});
    EXPECT_TRUE(watchdogStopped());
    EXPECT_EQ(h.grid.cell(1, 1), "9001234567");
    EXPECT_EQ(h.grid.cell(2, 1), "7");
    EXPECT_EQ(h.grid.cell(1, 2), "12");
    EXPECT_EQ(h.grid.cell(2, 2), "300");
    EXPECT_EQ(h.protocol.nextNumberRow, 3);
    EXPECT_EQ(h.sentNothing(), ""); // nothing on the serial port

    h.view.log.clear();
    reply("R" + record("333", 3) + "@");
    EXPECT_EQ(tcp.received(), "R_OK\r");
    EXPECT_TRUE(h.view.log.empty());
    EXPECT_EQ(h.grid.cell(1, 3), "333");
    EXPECT_EQ(h.protocol.nextNumberRow, 4);
}

TEST_F(InternetAnalysis, AMalformedPacketIsIgnored) {
    for (const std::string& chunk : {"R" + record("1", 1) + "#", "X" + record("1", 1) + "@",
                                     "+IPD,14:R" + record("1", 1) + "@"}) {
        SCOPED_TRACE(chunk);
        reply(chunk);
        EXPECT_EQ(tcp.received(50), "");
        EXPECT_FALSE(watchdogStopped());
        EXPECT_EQ(h.protocol.badPacketCount, 0);
        EXPECT_TRUE(h.calls.empty());
        EXPECT_EQ(h.grid.cell(1, 1), "");
    }
    // A read longer than any packet cannot be told apart into records.
    reply("R" + std::string(300, '1') + "@");
    EXPECT_EQ(tcp.received(50), "");
    EXPECT_EQ(h.grid.cell(1, 1), "");
    EXPECT_EQ(h.view.log, Lines{"Пакет номеров длиннее 254 байт пропущен"});
}

TEST_F(InternetAnalysis, OtherTokensInAPacketActAsWell) {
    // The number text holds "ADD": the packet is stored and the token acts too.
    reply("R" + record("ADD1234567", 1) + "@");
    EXPECT_EQ(tcp.received(), "R_OK\r");
    EXPECT_EQ(h.grid.cell(1, 1), "ADD1234567");
    EXPECT_EQ(h.view.log, Lines{"Номер добавлен"});
    EXPECT_EQ(h.calls, Lines{"WriteNumbers(1)"});
}

TEST_F(InternetAnalysis, TokensInOneReadActInTheTablesOrder) {
    reply("CONFW ERASE FULL ADN ADD");
    EXPECT_EQ(h.calls, (Lines{"WriteNumbers(1)", "resendLastBatch", "WriteNumbers(1)",
                              "WriteNumbers(2)", "WriteNumbers(0)"}));
    EXPECT_EQ(h.view.log, (Lines{"Номер добавлен", "Номер не добавлен. Нет свободного места",
                                 "Конфигурация записана"}));
}

TEST_F(InternetAnalysis, ConfigurationReplyAsOnTheSerialLink) {
    frames::ConfigBlockBytes block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    h.commands.readConfig("1234");
    ASSERT_EQ(tcp.received(), "CONFR\xD2\x04");
    h.view.log.clear();
    h.tcpSays("CONFR" + std::string(reinterpret_cast<const char*>(block.data()), block.size()));
    EXPECT_EQ(h.calls, (Lines{"Read_conf", "Read_numbersClick"}));
    EXPECT_EQ(h.lastBlock, block);
    EXPECT_EQ(h.view.log, Lines{"Конфигурация считана"});
    EXPECT_FALSE(h.protocol.configReadPending);
    EXPECT_TRUE(watchdogStopped());
}

} // namespace
