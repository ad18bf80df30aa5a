// The serial reply analysis on the real receive path: the device (the master
// of a pseudo-terminal) writes a chunk, the receive events count it, the line
// goes quiet and the 20 ms tick runs Receive_analyse.
#include "tests/session/protocol_harness.h"

#include <gtest/gtest.h>

namespace {

using namespace protocol_test;
using namespace std::string_literals;
using Lines = std::vector<std::string>;

std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

// A "+IPD" header and packet: kind, records, end mark.
std::string ipd(const std::string& packet) {
    return "+IPD," + std::to_string(packet.size()) + ":" + packet;
}

struct SerialAnalysis : ::testing::Test {
    Harness h;
    void SetUp() override { h.linkSerial(); }
    // A chunk while a command waits for its reply.
    void reply(const std::string& chunk) {
        h.link.state.replyTimer = 1;
        h.deviceSays(chunk);
    }
    bool watchdogStopped() const { return h.link.state.replyTimer == 0; }
    // Each bad packet count reported since the events were cleared.
    Lines badPacketsShown() const {
        Lines counts;
        for (const SessionEvent& e : h.view.events) {
            if (const auto* bad = std::get_if<events::BadPackets>(&e)) {
                counts.push_back(std::to_string(bad->count));
            }
        }
        return counts;
    }
};

TEST_F(SerialAnalysis, EachPlainReplyLogsItsLineAndStopsTheWatchdogOrNot) {
    const struct {
        std::string chunk;
        std::string log;
        bool stops;
    } cases[] = {
        {"CLOSED", "Соединение прервано", false},
        {"READOK", "Чтение номеров завершено", true},
        {"CONNECT", "Соединение установлено", false},
        {"Trevoga!", "Сработал датчик охраны", false},
        {"ADD OK", "Номер добавлен", true},
        {"Nomer Dobavlen", "Номер добавлен", true},
        {"FULL", "Номер не добавлен. Нет свободного места", true},
        {"Net svobodnogo mesta", "Номер не добавлен. Нет свободного места", true},
        {"DEL OK", "Номер удален", true},
        {"Nomer Ydalen", "Номер удален", true},
        {"NOT NUMBER", "Номер не найден", true},
        {"Nomer ne naiden", "Номер не найден", true},
        {"ERASE OK", "Номера удалены", true},
        {"Vse nomera udaleny", "Номера удалены", true},
        {"Not correct password", "Пароль не верный", true},
        {"CHPASS OK", "Пароль изменен", true},
        {"New password", "Пароль изменен", true},
        {"APN OK", "APN сменен", true},
        {"TON_SET", "Время работы изменено", true},
        {"New Ton", "Время работы изменено", true},
        {"DISCONNECT", "Устройство разъединено", false},
        {"GPRS service", "GPRS сервис не доступен", false},
        {"No GPRS", "GPRS сервис не доступен", false},
        {"Ne ydalos", "Устройству не удается установить соединение", false},
        {"BUSY", "Устройство занято", false},
        {"+EFA:3", "Запись номеров завершена", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        h.view.log.clear();
        reply(c.chunk);
        // "DISCONNECT" holds "CONNECT" as well: every test that matches acts.
        const Lines expected =
            c.chunk == "DISCONNECT" ? Lines{"Соединение установлено", c.log} : Lines{c.log};
        EXPECT_EQ(h.view.log, expected);
        EXPECT_EQ(watchdogStopped(), c.stops);
        EXPECT_TRUE(h.calls.empty());
        EXPECT_EQ(h.sentNothing(), ""); // none of them is acknowledged
    }
}

TEST_F(SerialAnalysis, TokensInOneChunkActInTheTablesOrder) {
    reply("CONFW\r\n+NTF:1\r\n");
    EXPECT_EQ(h.view.log, Lines{"Конфигурация записана"});
    EXPECT_EQ(h.calls, (Lines{"WriteNumbers(0)", "WriteNumbers(1)"}));
    EXPECT_TRUE(watchdogStopped());

    h.view.log.clear();
    reply("+EFA:0 BUSY CLOSED " + "VELIRAN "s + char(31) + "#");
    EXPECT_EQ(h.view.log, (Lines{"Соединение установлено", "Соединение прервано",
                                 "Устройство занято", "Запись номеров завершена"}));
    EXPECT_FALSE(watchdogStopped());
}

TEST_F(SerialAnalysis, WriterRepliesPickTheStep) {
    const struct {
        std::string chunk;
        std::string call;
    } cases[] = {
        {"+NTF:1", "WriteNumbers(1)"},
        {"+NTF:0", "WriteNumbers(2)"},
        {"+NTF:", "WriteNumbers(2)"}, // nothing after it: not "1"
        {"+NTF:12", "WriteNumbers(1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        h.calls.clear();
        reply(c.chunk);
        EXPECT_EQ(h.calls, Lines{c.call});
        EXPECT_FALSE(watchdogStopped()); // "+NTF:" leaves the watchdog to the writer
    }
}

TEST_F(SerialAnalysis, RecognitionIsBySubstringUpToTheFirstZeroByte) {
    reply("PADDLE");
    EXPECT_EQ(h.view.log, Lines{"Номер добавлен"});

    h.view.log.clear();
    reply("OK\0BUSY"s); // the zero byte hides what follows from the token tests
    EXPECT_TRUE(h.view.log.empty());
    EXPECT_FALSE(watchdogStopped());

    reply("BUSY\0CLOSED"s);
    EXPECT_EQ(h.view.log, Lines{"Устройство занято"});

    // A token split over two chunks is not recognised.
    h.view.log.clear();
    reply("BU");
    reply("SY");
    EXPECT_TRUE(h.view.log.empty());
}

TEST_F(SerialAnalysis, GreetingShowsTheFirmwareVersion) {
    const struct {
        std::string chunk;
        std::string version;
    } cases[] = {
        {"VELIRAN " + bytesOf({30}) + "#", "30"},
        {"xxVELIRAN " + bytesOf({30}) + "!", "0"}, // no "#": version 0
        {"VELIRAN " + bytesOf({255}) + "#\r\n", "255"},
        {"VELIRAN", "0"}, // the chunk ends at the word: the missing bytes read as zero
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        h.link.state.remoteConnected = false;
        h.link.state.linkUp = false;
        h.link.state.directDevice = false;
        h.view.log.clear();
        reply(c.chunk);
        EXPECT_TRUE(h.link.state.linkUp);
        EXPECT_TRUE(h.link.state.remoteConnected);
        EXPECT_TRUE(h.link.state.directDevice);
        EXPECT_EQ(h.view.panels[2], "Coeдинение установлено: \"Велиран\", версия ПО: " + c.version);
        EXPECT_EQ(h.view.log, Lines{"Соединение установлено"});
        EXPECT_FALSE(watchdogStopped());
    }
}

TEST_F(SerialAnalysis, NumberPacketsFillTheGridAndAreAcknowledged) {
    // Length 26: "E", two records, "@".
    reply(ipd("E" + record("9001234567", 12) + record("555\r\r\r\r\r\r\r", 300) + "@"));
    EXPECT_EQ(h.sent(), "R_OK\r");
    EXPECT_EQ(h.view.log, Lines{"Чтение номеров завершено"});
    EXPECT_TRUE(watchdogStopped());
    EXPECT_EQ(h.grid.cell(1, 1), "9001234567"); // ten digits fill the cell
    EXPECT_EQ(h.grid.cell(2, 1), "12");
    EXPECT_EQ(h.grid.cell(1, 2), "555"); // the padding is not shown
    EXPECT_EQ(h.grid.cell(2, 2), "300");
    EXPECT_EQ(h.protocol.nextNumberRow, 3);

    // An "R" packet goes on where the last one ended and ends nothing.
    h.view.log.clear();
    reply(ipd("R" +
              record("\xC0\xC1"
                     "1",
                     0) +
              "@"));
    EXPECT_EQ(h.sent(), "R_OK\r");
    EXPECT_TRUE(h.view.log.empty());
    EXPECT_EQ(h.grid.cell(1, 3), "АБ1"); // 1251 in the packet, UTF-8 in the grid
    EXPECT_EQ(h.grid.cell(2, 3), "0");
    EXPECT_EQ(h.protocol.nextNumberRow, 4);
    EXPECT_TRUE(h.calls.empty());
}

TEST_F(SerialAnalysis, BadNumberPacketsAreRefusedAndCounted) {
    const std::string good = "R" + record("9001234567", 1) + record("9007654321", 2) + "@";
    const struct {
        std::string name;
        std::string chunk;
    } cases[] = {
        {"wrong end mark", "+IPD,26:" + good.substr(0, 25) + "#"},
        {"cut short", "+IPD,26:" + good.substr(0, 15)},
        {"length past the chunk", "+IPD,200:" + good},
        {"longer than a packet can be", "+IPD,266:" + good + std::string(239, 'x') + "@"},
    };
    int count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        h.calls.clear();
        h.view.events.clear();
        reply(c.chunk);
        ++count;
        EXPECT_EQ(h.sent(), "RFAIL\r");
        EXPECT_EQ(h.protocol.badPacketCount, count);
        EXPECT_EQ(badPacketsShown(), Lines{std::to_string(count)});
        EXPECT_TRUE(h.calls.empty());
        EXPECT_TRUE(watchdogStopped());
        EXPECT_EQ(h.grid.cell(1, 1), "");
        EXPECT_EQ(h.protocol.nextNumberRow, 1);
    }
    // The count wraps after 255.
    h.protocol.badPacketCount = 255;
    h.view.events.clear();
    reply("+IPD,14:R" + record("1", 1) + "x");
    EXPECT_EQ(h.sent(), "RFAIL\r");
    EXPECT_EQ(badPacketsShown(), Lines{"0"});
}

TEST_F(SerialAnalysis, PacketsThatAreNoPacketsGetNoAnswer) {
    const struct {
        std::string name;
        std::string chunk;
    } cases[] = {
        {"length 10", "+IPD,10:R" + record("123", 1).substr(0, 8) + "@"},
        {"length 11", "+IPD,11:E123456789@"},
        {"no colon", "+IPD,26 R" + record("1", 1) + record("2", 2) + "@"},
        {"no length", "+IPD,:R" + record("1", 1) + "@"},
        {"header cut after +IPD", "+IPD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reply(c.chunk);
        EXPECT_EQ(h.sentNothing(), "");
        EXPECT_TRUE(watchdogStopped()); // "+IPD" always stops it
        EXPECT_EQ(h.protocol.badPacketCount, 0);
        EXPECT_EQ(h.grid.cell(1, 1), "");
    }
}

TEST_F(SerialAnalysis, OnlyTheFirstPacketOfAChunkIsExamined) {
    // Records without zero bytes, so that the second header is in the text.
    reply(ipd("R" + record("1112223334", 0x3131) + "@") +
          ipd("E" + record("2223334445", 0x3232) + "@"));
    EXPECT_EQ(h.sent(), "R_OK\r");
    EXPECT_EQ(h.grid.cell(1, 1), "1112223334");
    EXPECT_EQ(h.grid.cell(2, 1), "12593");
    EXPECT_EQ(h.grid.cell(1, 2), "");
    EXPECT_EQ(h.protocol.nextNumberRow, 2);
    EXPECT_TRUE(h.view.log.empty()); // the "E" of the second packet was not seen
}

TEST_F(SerialAnalysis, RecordsPastTheLastRowAreDroppedAndReported) {
    h.protocol.nextNumberRow = 650;
    reply(ipd("E" + record("650", 650) + record("651", 651) + record("652", 652) + "@"));
    EXPECT_EQ(h.sent(), "R_OK\r");
    EXPECT_EQ(h.grid.cell(1, 650), "650");
    EXPECT_EQ(h.protocol.nextNumberRow, 653);
    ASSERT_EQ(h.view.log.size(), 2u);
    EXPECT_EQ(h.view.log[0], "Чтение номеров завершено");
    EXPECT_EQ(h.view.log[1], "Номера за пределами списка (строки 1-650) не записаны: 2");

    // A read position before the first row writes nothing into the headings either.
    h.view.log.clear();
    h.protocol.nextNumberRow = 0;
    reply(ipd("R" + record("000", 0) + record("001", 1) + "@"));
    EXPECT_EQ(h.grid.cell(1, 1), "001");
    EXPECT_EQ(h.view.log, Lines{"Номера за пределами списка (строки 1-650) не записаны: 1"});
}

TEST_F(SerialAnalysis, PendingConfigurationReadLeavesPacketsAlone) {
    h.commands.readConfig("1234");
    ASSERT_EQ(h.sent(), "CONFR\xD2\x04");
    ASSERT_TRUE(h.protocol.configReadPending);
    h.view.log.clear();

    h.deviceSays(ipd("E" + record("9001234567", 1) + "@"));
    EXPECT_EQ(h.sentNothing(), "");
    EXPECT_TRUE(watchdogStopped());
    EXPECT_EQ(h.grid.cell(1, 1), "");
    EXPECT_TRUE(h.view.log.empty());
    EXPECT_TRUE(h.protocol.configReadPending);
}

TEST_F(SerialAnalysis, ConfigurationReplyFillsThePagesAndReadsTheNumbers) {
    frames::ConfigBlockBytes block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i % 5 == 0 ? 0 : 0x80 + i); // zeros included
    }
    const std::string blockText(reinterpret_cast<const char*>(block.data()), block.size());

    h.commands.readConfig("1234");
    ASSERT_EQ(h.sent(), "CONFR\xD2\x04");
    h.view.log.clear();
    // The reply inside a "+IPD" header, as a GPRS module may deliver it.
    h.deviceSays("+IPD,73:CONFR" + blockText);
    EXPECT_EQ(h.calls, (Lines{"Read_conf", "Read_numbersClick"}));
    EXPECT_EQ(h.lastBlock, block);
    EXPECT_EQ(h.view.log, Lines{"Конфигурация считана"});
    EXPECT_FALSE(h.protocol.configReadPending);
    EXPECT_TRUE(watchdogStopped());
    EXPECT_EQ(h.sentNothing(), "");

    // A block cut short: the bytes that did not come read as zero.
    h.calls.clear();
    reply("CONFR" + blockText.substr(0, 10));
    frames::ConfigBlockBytes cut{};
    std::copy(block.begin(), block.begin() + 10, cut.begin());
    EXPECT_EQ(h.lastBlock, cut);
    EXPECT_EQ(h.calls, (Lines{"Read_conf", "Read_numbersClick"}));
}

TEST_F(SerialAnalysis, KeyReportsGoToTheNumberListOnItsPageOnly) {
    const struct {
        std::string chunk;
        int page;
        Lines calls;
    } cases[] = {
        {"+KEY: 01A2B3C4D5E6\r\n", 0, {"AddToNumListString(01A2B3C4D5)"}},
        {"+KEY: 01A2B3C4D5E6\r\n", 1, {}},
        {"+KEY: 12", 0, {"AddToNumListString(12)"}},
        {"+KEY: \xC0"
         "1",
         0,
         {"AddToNumListString(А1)"}},
        {"+KEY", 0, {}}, // no key text: nothing to add
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunk);
        h.calls.clear();
        h.page = c.page;
        reply(c.chunk);
        EXPECT_EQ(h.calls, c.calls);
        EXPECT_FALSE(watchdogStopped());
        EXPECT_TRUE(h.view.log.empty());
    }
}

TEST_F(SerialAnalysis, DiagnosticModeShowsTheReceivedText) {
    h.link.setDiagnostics(true);
    reply("OK\r\nBUSY");
    EXPECT_EQ(h.view.log, (Lines{"Устройство занято", "OK\r\nBUSY"}));
}

TEST_F(SerialAnalysis, BootloaderSeesTheWholeChunkFirst) {
    std::string seen;
    h.bootloader = [&](const std::uint8_t* bytes, std::size_t n) {
        seen.assign(reinterpret_cast<const char*>(bytes), n);
        h.calls.push_back("Bootloader_analyse");
    };
    reply("CONFW\0>"s);        // the bootloader's marks may follow a zero byte
    EXPECT_TRUE(seen.empty()); // not on the firmware page

    h.link.state.bootloaderMode = true;
    h.calls.clear();
    reply("CONFW\0>"s);
    EXPECT_EQ(seen, "CONFW\0>"s);
    EXPECT_EQ(h.calls, (Lines{"Bootloader_analyse", "WriteNumbers(0)"}));
}

} // namespace
