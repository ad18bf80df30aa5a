// Reading the device's number list into the grid, and the single-number
// commands. The serial side runs the real port component on a
// pseudo-terminal whose master plays the device; the Internet side goes
// through the link's Send_data hook and the Internet link's reply analysis.
#include "comm/tcomm.h"
#include "files/number_grid.h"
#include "link/link_controller.h"
#include "session/device_session.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/pty_pair.h"
#include "tests/support/recording_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string kGreeting = std::string("VELIRAN ") + char(30) + "#";

std::string record(const std::string& number, std::uint16_t apartment) {
    std::string r = number.substr(0, 10);
    r.resize(10, '\0');
    r.push_back(static_cast<char>(apartment & 0xFF));
    r.push_back(static_cast<char>(apartment >> 8));
    return r;
}

// A NumberPacket: kind, records, "@".
std::string packet(char kind, const std::vector<std::string>& records) {
    std::string p(1, kind);
    for (const auto& r : records) {
        p += r;
    }
    return p + "@";
}

struct Parts {
    ManualDispatcher dispatcher;
    RecordingView view;
    MemoryNumberGrid grid;
    DeviceSession session{&dispatcher, grid, view};
    LinkController& link = session.link();
    ProtocolState& protocol = session.protocol();
    NumberTransfer& transfer = session.numberTransfer();
    std::string& label7 = view.label7;
    std::vector<std::string> sends; // Send_data

    Parts() {
        session.attachInternet({[this](const std::uint8_t* bytes, std::size_t count) {
                                    sends.emplace_back(reinterpret_cast<const char*>(bytes), count);
                                    return static_cast<int>(count);
                                },
                                {},
                                {},
                                {}});
    }

    std::string number(int row) const { return grid.cell(NumberGrid::kNumberColumn, row); }
    std::string apartment(int row) const { return grid.cell(NumberGrid::kApartmentColumn, row); }
    void fillAll() {
        for (int r = 1; r <= NumberGrid::kRows; ++r) {
            grid.setCell(NumberGrid::kNumberColumn, r, "n" + std::to_string(r));
            grid.setCell(NumberGrid::kApartmentColumn, r, std::to_string(r));
        }
    }
    bool gridEmpty() const {
        for (int r = 1; r <= NumberGrid::kRows; ++r) {
            if (!number(r).empty() || !apartment(r).empty()) {
                return false;
            }
        }
        return true;
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            session.tick20ms();
        }
    }
    void tcp(const std::string& bytes) {
        session.internetRead(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
};

struct Serial : Parts {
    PtyPair device;
    Serial() {
        link.state.portName = device.slavePath;
        link.tick1s();
        link.tick1s();
        EXPECT_EQ(device.readMaster(5), "CONFO");
        reply(kGreeting);
        EXPECT_TRUE(link.state.remoteConnected);
        view.log.clear();
    }
    void reply(const std::string& bytes) {
        ASSERT_TRUE(device.writeMaster(bytes));
        ASSERT_TRUE(dispatcher.runUntil(
            [&] { return link.state.rxCount >= static_cast<std::uint32_t>(bytes.size()); }, 2000));
        ticks(link.state.quietTicks - 1);
        ASSERT_EQ(link.state.rxCount, 0u);
    }
    std::string sent(int waitMs = 200) { return device.drainMaster(waitMs, 30); }
};

struct Internet : Parts {
    Internet() {
        tcp("CONNECT");
        EXPECT_FALSE(link.state.directDevice);
        view.log.clear();
    }
};

// ---------------------------------------------------------------------------
// Number read

TEST(NumberRead, WithoutALinkTheColumnsAreStillEmptied) {
    Parts p;
    p.fillAll();
    p.protocol.nextNumberRow = 40;
    p.protocol.badPacketCount = 3;
    p.session.readNumbers("1234");
    EXPECT_TRUE(p.gridEmpty());
    EXPECT_EQ(p.protocol.nextNumberRow, 1);
    EXPECT_EQ(p.protocol.badPacketCount, 0);
    EXPECT_EQ(p.label7, "0");
    EXPECT_EQ(p.view.log, std::vector<std::string>{"Установите соединение"});
    EXPECT_TRUE(p.sends.empty());
    EXPECT_EQ(p.link.state.replyTimer, 0u);
}

TEST(NumberRead, SerialReadFillsRowsPacketByPacketAndAcknowledgesEach) {
    Serial s;
    s.fillAll();
    s.protocol.badPacketCount = 9;
    s.session.readNumbers("1234");
    EXPECT_EQ(s.sent(), "READ 1234\r");
    EXPECT_TRUE(s.gridEmpty());
    EXPECT_EQ(s.label7, "0");
    EXPECT_EQ(s.view.log, std::vector<std::string>{"Идет чтение номеров. Ждите..."});
    EXPECT_EQ(s.link.state.replyTimer, 1u);

    const std::string first = packet('R', {record("9160000001", 1), record("555", 300)});
    s.reply("+IPD,26:" + first);
    EXPECT_EQ(s.sent(), "R_OK\r");
    EXPECT_NE(s.link.state.replyTimer, 0u) << "the list is not over: the next packet is awaited";
    const std::string last = packet('E', {record("\xC4\xEE\xEC", 0)});
    s.reply("+IPD,14:" + last);
    EXPECT_EQ(s.sent(), "R_OK\r");
    EXPECT_EQ(s.link.state.replyTimer, 0u);
    EXPECT_EQ(s.number(1), "9160000001");
    EXPECT_EQ(s.apartment(1), "1");
    EXPECT_EQ(s.number(2), "555");
    EXPECT_EQ(s.apartment(2), "300");
    EXPECT_EQ(s.number(3), "Дом");
    EXPECT_EQ(s.apartment(3), "0");
    EXPECT_EQ(s.number(4), "");
    EXPECT_EQ(s.protocol.nextNumberRow, 4);
    EXPECT_EQ(s.view.log.back(), "Чтение номеров завершено");

    // A broken packet is refused and counted; the counter restarts with the next read.
    s.reply("+IPD,26:" + first.substr(0, 25) + "#");
    EXPECT_EQ(s.sent(), "RFAIL\r");
    EXPECT_EQ(s.label7, "1");
    s.session.readNumbers("1234");
    EXPECT_EQ(s.label7, "0");
    EXPECT_EQ(s.protocol.badPacketCount, 0);
    EXPECT_EQ(s.sent(), "READ 1234\r");
}

TEST(NumberRead, PasswordGoesAsCodePage1251AndOneItCannotHoldSendsNothing) {
    Serial s;
    s.session.readNumbers("пароль");
    EXPECT_EQ(s.sent(), "READ \xEF\xE0\xF0\xEE\xEB\xFC\r");
    s.view.log.clear();
    s.session.readNumbers("€☎");
    EXPECT_EQ(s.sent(100), "");
    ASSERT_EQ(s.view.log.size(), 1u);
    EXPECT_EQ(s.view.log[0].rfind("Команда не отправлена", 0), 0u) << s.view.log[0];
}

TEST(NumberRead, InternetReadSendsReadAloneAndTakesWholeReadsAsPackets) {
    Internet n;
    n.fillAll();
    n.session.readNumbers("1234");
    EXPECT_EQ(n.sends, std::vector<std::string>{"READ"});
    EXPECT_TRUE(n.gridEmpty());
    EXPECT_EQ(n.link.state.replyTimer, 1u);
    n.tcp(packet('R', {record("111", 11), record("222", 22)}));
    n.tcp(packet('E', {record("333", 33)}));
    EXPECT_EQ(n.sends, (std::vector<std::string>{"READ", "R_OK\r", "R_OK\r"}));
    EXPECT_EQ(n.number(3), "333");
    EXPECT_EQ(n.apartment(2), "22");
    EXPECT_EQ(n.view.log.back(), "Чтение номеров завершено");
}

TEST(NumberRead, RecordsBeyondRow650AreDroppedWithALogLine) {
    Internet n;
    n.session.readNumbers("1234");
    // 31 packets of 21 records: 651 records for 650 rows.
    int next = 1;
    for (int k = 0; k < 31; ++k) {
        std::vector<std::string> records;
        for (int i = 0; i < 21; ++i, ++next) {
            records.push_back(record(std::to_string(1000000 + next), std::uint16_t(next)));
        }
        n.tcp(packet(k == 30 ? 'E' : 'R', records));
    }
    EXPECT_EQ(n.number(1), "1000001");
    EXPECT_EQ(n.number(650), "1000650");
    EXPECT_EQ(n.apartment(650), "650");
    EXPECT_EQ(n.protocol.nextNumberRow, 652);
    EXPECT_NE(std::find(n.view.log.begin(), n.view.log.end(),
                        "Номера за пределами списка (строки 1-650) не записаны: 1"),
              n.view.log.end());
    // Each packet was still acknowledged, so the device goes on to its end.
    EXPECT_EQ(std::count(n.sends.begin(), n.sends.end(), "R_OK\r"), 31);

    // A further packet lands nowhere at all and says so.
    n.tcp(packet('E', {record("x", 1), record("y", 2)}));
    EXPECT_EQ(n.view.log.back(), "Номера за пределами списка (строки 1-650) не записаны: 2");
    EXPECT_EQ(n.number(650), "1000650");
}

// ---------------------------------------------------------------------------
// Single-number commands

TEST(SingleNumberCommands, WithoutALinkNothingIsSent) {
    Parts p;
    p.transfer.addNumber("1234", "9161234567", "12");
    p.transfer.deleteNumber("1234", "9161234567");
    p.transfer.eraseNumbers("1234");
    EXPECT_EQ(p.view.log, std::vector<std::string>(3, "Установите соединение"));
    EXPECT_TRUE(p.sends.empty());
    EXPECT_EQ(p.link.state.replyTimer, 0u);
}

TEST(SingleNumberCommands, SerialFormsCarryThePassword) {
    Serial s;
    s.transfer.addNumber("1234", "00000000000", "0");
    EXPECT_EQ(s.sent(), "ADD 1234 000000000000\r");
    EXPECT_EQ(s.view.log.back(), "Идет добавление номера. Ждите...");
    EXPECT_EQ(s.link.state.replyTimer, 1u);
    s.transfer.deleteNumber("1234", "9161234567");
    EXPECT_EQ(s.sent(), "DEL 1234 9161234567\r");
    EXPECT_EQ(s.view.log.back(), "Идет удаление номера. Ждите...");
    s.transfer.eraseNumbers("1234");
    EXPECT_EQ(s.sent(), "ERASE 1234\r");
    EXPECT_EQ(s.view.log.back(), "Идет стирание номеров. Ждите...");

    s.reply("Dobavlen");
    EXPECT_EQ(s.view.log.back(), "Номер добавлен");
    EXPECT_EQ(s.link.state.replyTimer, 0u);
    EXPECT_TRUE(s.grid.cell(NumberGrid::kNumberColumn, 1).empty()) << "the grid is not touched";
}

TEST(SingleNumberCommands, InternetFormsGoToTheInternetClient) {
    Internet n;
    n.transfer.addNumber("1234", "9161234567", "5");
    n.transfer.deleteNumber("1234", "9161234567");
    n.transfer.eraseNumbers("1234");
    EXPECT_EQ(n.sends,
              (std::vector<std::string>{"ADD91612345675\x1A\r", "DEL9161234567\x1A\r", "ERASE\r"}));
    EXPECT_EQ(n.link.state.replyTimer, 1u);
}

} // namespace
