// The bulk number writer tick by tick. On the serial link the real port
// component runs on a pseudo-terminal whose master plays the device and the
// replies go through the reply analysis as they would in the program; on the
// Internet link the bytes go through the link's Send_data hook and the
// device's replies through the Internet link's reply analysis.
#include "files/number_grid.h"
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

bool logged(const std::vector<std::string>& log, const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
}

// The parts every test needs: a device session on a number grid in memory,
// as the window has one.
struct Parts {
    ManualDispatcher dispatcher;
    RecordingView view;
    MemoryNumberGrid grid;
    DeviceSession session{&dispatcher, grid, view};
    LinkController& link = session.link();
    ProtocolState& protocol = session.protocol();
    NumberListWriter& writer = session.numberWriter();

    void entry(int row, const std::string& number, const std::string& apartment) {
        grid.setCell(NumberGrid::kNumberColumn, row, number);
        grid.setCell(NumberGrid::kApartmentColumn, row, apartment);
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            session.tick20ms();
        }
    }
};

// The serial link: the test is the device on the pseudo-terminal's master.
struct Serial : Parts {
    PtyPair device;

    Serial() {
        link.state.portName = device.slavePath;
        link.tick1s();
        EXPECT_TRUE(link.state.portReady);
        link.tick1s();
        EXPECT_EQ(device.readMaster(5), "CONFO");
        reply(kGreeting);
        EXPECT_TRUE(link.state.remoteConnected);
        EXPECT_TRUE(link.state.directDevice);
        view.log.clear();
    }

    // The device answers; the receive events run and the line goes quiet
    // until the analysis tick has acted on the reply.
    void reply(const std::string& bytes) {
        ASSERT_TRUE(device.writeMaster(bytes));
        ASSERT_TRUE(dispatcher.runUntil(
            [&] { return link.state.rxCount >= static_cast<std::uint32_t>(bytes.size()); }, 2000));
        ticks(link.state.quietTicks - 1);
        ASSERT_EQ(link.state.rxCount, 0u) << "the analysis tick has not come";
    }
    // Everything the configurator has sent since the last call.
    std::string sent(int waitMs = 200) { return device.drainMaster(waitMs, 30); }
};

// The Internet link: Send_data hands the bytes to the test.
struct Internet : Parts {
    std::vector<std::string> sends;
    int sendResult = -2; // -2: take everything; anything else is returned as is

    Internet() {
        session.attachInternet({[this](const std::uint8_t* bytes, std::size_t count) {
                                    sends.emplace_back(reinterpret_cast<const char*>(bytes), count);
                                    return sendResult == -2 ? static_cast<int>(count) : sendResult;
                                },
                                {},
                                {},
                                {}});
        reply("CONNECT");
        EXPECT_TRUE(link.state.remoteConnected);
        EXPECT_FALSE(link.state.directDevice);
        view.log.clear();
    }
    void reply(const std::string& bytes) {
        session.internetRead(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
};

std::string record(const std::string& number, std::uint16_t apartment) {
    std::string r = number.substr(0, 10);
    r.resize(10, '\0');
    r.push_back(static_cast<char>(apartment & 0xFF));
    r.push_back(static_cast<char>(apartment >> 8));
    return r;
}

// ---------------------------------------------------------------------------
// Serial link

TEST(NumberWriterSerial, SendsEachEntryAfterTheReplyToThePreviousOneThenInitialisesTheRest) {
    Serial s;
    s.entry(2, "9161111111", "12");
    s.entry(5, "9162222222", "7");
    s.entry(9, "9163333333", "1024");
    s.entry(7, "", "99"); // an apartment without a number is no entry

    s.reply("CONFW");
    EXPECT_TRUE(logged(s.view.log, "Конфигурация записана"));
    EXPECT_EQ(s.sent(), "RT+NTF=0,9161111111,12\r");
    EXPECT_TRUE(s.writer.busy());
    EXPECT_EQ(s.sent(50), "") << "the next number waits for the reply";

    s.reply("+NTF:1\r\n");
    EXPECT_EQ(s.sent(), "RT+NTF=1,9162222222,7\r");
    s.reply("+NTF:1\r\n");
    EXPECT_EQ(s.sent(), "RT+NTF=2,9163333333,1024\r");
    s.reply("+NTF:1\r\n");
    EXPECT_EQ(s.sent(), "RT+EFA=3\r");
    EXPECT_FALSE(s.writer.busy());
    EXPECT_EQ(s.writer.state.writeCell, 3);

    s.reply("+EFA:OK\r\n");
    const std::vector<std::string> expected = {
        "Конфигурация записана",   "Идет запись номеров. Ждите...",
        "Запись номера 2",         "Запись номера 5",
        "Запись номера 9",         "Инициализация свободной памяти",
        "Запись номеров завершена"};
    EXPECT_EQ(s.view.log, expected);
    // Idle again: nothing keeps the 20 ms tick awake.
    s.ticks(100);
    EXPECT_FALSE(s.link.tickNeeded());
    EXPECT_EQ(s.sent(50), "");
}

TEST(NumberWriterSerial, EmptyListInitialisesTheWholeMemoryAtOnce) {
    Serial s;
    s.reply("CONFW");
    EXPECT_EQ(s.sent(), "RT+EFA=0\r");
    EXPECT_FALSE(s.writer.busy());
    EXPECT_EQ(s.view.log.back(), "Инициализация свободной памяти");
}

TEST(NumberWriterSerial, EntryWithoutApartmentEndsWithACommaAndTextsGoAsCodePage1251) {
    Serial s;
    s.entry(1, "5551234", "");
    s.entry(2, "Дом", "кв");
    s.writer.step(device_replies::WriterStep::Start);
    EXPECT_EQ(s.sent(), "RT+NTF=0,5551234,\r");
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(), "RT+NTF=1,\xC4\xEE\xEC,\xEA\xE2\r");
}

TEST(NumberWriterSerial, RefusalStopsTheWriterAndALaterSuccessGoesOnAfterTheRefusedRow) {
    Serial s;
    s.entry(1, "111", "1");
    s.entry(2, "222", "2");
    s.entry(3, "333", "3");
    s.reply("CONFW");
    EXPECT_EQ(s.sent(), "RT+NTF=0,111,1\r");

    s.reply("+NTF:0\r\n");
    EXPECT_EQ(s.view.log.back(), "Неверное значение ячейки памяти");
    EXPECT_FALSE(s.writer.busy());
    EXPECT_EQ(s.sent(50), "");
    s.ticks(200); // no time-out follows a refusal
    EXPECT_FALSE(logged(s.view.log, "Нет ответа от прибора !"));
    EXPECT_EQ(s.sent(50), "");

    s.reply("+NTF:1\r\n");
    EXPECT_EQ(s.sent(), "RT+NTF=1,222,2\r");
}

TEST(NumberWriterSerial, StepTimesOutAfterFiftyTicksAndALateReplyWritesTheListAgainFromCellZero) {
    Serial s;
    s.entry(4, "444", "4");
    s.entry(6, "666", "6");
    s.writer.step(device_replies::WriterStep::Start);
    EXPECT_EQ(s.sent(), "RT+NTF=0,444,4\r");
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(), "RT+NTF=1,666,6\r");

    // The reply's own analysis tick counted once already: the step went out
    // within that tick. Count from a step started outside a tick instead.
    s.writer.step(device_replies::WriterStep::Start);
    EXPECT_EQ(s.sent(), "RT+NTF=0,444,4\r");
    s.view.log.clear();
    s.ticks(49);
    EXPECT_TRUE(s.writer.busy());
    EXPECT_TRUE(s.view.log.empty());
    s.ticks(1);
    EXPECT_EQ(s.view.log, std::vector<std::string>{"Нет ответа от прибора !"});
    EXPECT_FALSE(s.writer.busy());
    EXPECT_EQ(s.writer.state.writeRow, 1);
    EXPECT_EQ(s.writer.state.writeCell, 0);
    EXPECT_EQ(s.sent(50), "");

    // The device answers after all: the list goes again from its first entry.
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(), "RT+NTF=0,444,4\r");
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(), "RT+NTF=1,666,6\r");
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(), "RT+EFA=2\r");
}

TEST(NumberWriterSerial, RepliesOutsideAWriteStartNothing) {
    Serial s;
    s.entry(1, "111", "1");
    // The device's memory must not be rewritten by a reply nobody asked for.
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(50), "");
    s.writer.step(device_replies::WriterStep::None);
    s.writer.step(static_cast<device_replies::WriterStep>(4));
    s.writer.step(static_cast<device_replies::WriterStep>(127));
    EXPECT_EQ(s.sent(50), "");
    EXPECT_TRUE(s.view.log.empty());

    // After a complete write, a stray reply does not start it over either.
    s.writer.step(device_replies::WriterStep::Start);
    EXPECT_EQ(s.sent(), "RT+NTF=0,111,1\r");
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(), "RT+EFA=1\r");
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(50), "");
}

TEST(NumberWriterSerial, ANewStartBeginsAgainAtRowOne) {
    Serial s;
    s.entry(1, "111", "1");
    s.entry(2, "222", "2");
    s.writer.step(device_replies::WriterStep::Start);
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(), "RT+NTF=0,111,1\rRT+NTF=1,222,2\r");
    s.reply("CONFW");
    EXPECT_EQ(s.sent(), "RT+NTF=0,111,1\r");
}

TEST(NumberWriterSerial, EntryTheCommandCannotCarryStopsTheWriteWithItsRow) {
    Serial s;
    s.entry(1, "111", "1");
    s.entry(3, std::string(95, '7'), "1"); // from a file: too long for the send buffer
    s.entry(4, "444", "4");
    s.writer.step(device_replies::WriterStep::Start);
    EXPECT_EQ(s.sent(), "RT+NTF=0,111,1\r");
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(50), "");
    ASSERT_FALSE(s.view.log.empty());
    EXPECT_EQ(s.view.log.back().rfind("Запись номеров прервана: строка 3: ", 0), 0u)
        << s.view.log.back();
    EXPECT_FALSE(s.writer.busy());
    // Nothing is waiting, so no time-out reports a silent device afterwards.
    s.ticks(60);
    EXPECT_FALSE(logged(s.view.log, "Нет ответа от прибора !"));

    // A number with a line break would end the command early at the device.
    s.entry(3, "12\r34", "1");
    s.writer.step(device_replies::WriterStep::Start);
    EXPECT_EQ(s.sent(), "RT+NTF=0,111,1\r");
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(50), "");
    EXPECT_EQ(s.view.log.back().rfind("Запись номеров прервана: строка 3: ", 0), 0u);

    // A character code page 1251 has no place for is never sent changed.
    s.entry(3, "☎12", "1");
    s.writer.step(device_replies::WriterStep::Start);
    s.reply("+NTF:1");
    EXPECT_EQ(s.sent(), "RT+NTF=0,111,1\r");
    EXPECT_EQ(s.view.log.back().rfind("Запись номеров прервана: строка 3: ", 0), 0u);
}

// The whole list is checked before "CONFW": the command of each row with the
// cell it would get must fit the 99 characters of the send buffer, and the
// apartment must be what the device stores. A configuration write with such a
// row sends nothing at all.
TEST(NumberWriterSerial, ListCheckNamesTheFirstRowTheWriterCouldNotSendAndTheWriteSendsNothing) {
    Serial s;
    // "RT+NTF=0," + 88 + ",\r" is 99 characters: it fits in cell 0.
    const std::string longest(88, '5');
    s.entry(1, longest, "");
    s.entry(2, "222", "65535");
    s.entry(3, "333", "00017");
    EXPECT_EQ(listWriteProblem(s.grid), std::nullopt);
    s.entry(1, longest, "1");
    EXPECT_EQ(listWriteProblem(s.grid),
              "Строка 1: номер длиннее 10 символов (88), команда его записи не помещается в "
              "буфер отправки: 100 символов, допустимо не более 99");
    // In cell 10 the same row needs one more digit for the cell.
    s.entry(1, "111", "1");
    for (int row = 2; row <= 10; ++row) {
        s.entry(row, std::to_string(row), "");
    }
    s.entry(17, longest, "");
    EXPECT_EQ(
        listWriteProblem(s.grid).value_or("").rfind("Строка 17: номер длиннее 10 символов (88)", 0),
        0u);
    s.entry(17, "1700", "");

    for (const char* apartment : {"65536", "-1", "+5", " 5", "5 ", "кв5", "1e3"}) {
        s.entry(12, "1200", apartment);
        EXPECT_EQ(listWriteProblem(s.grid), "Строка 12: номер квартиры «" + std::string(apartment) +
                                                "» не является целым числом от 0 до 65 535")
            << apartment;
    }
    // An apartment without a number is no row the writer sends.
    s.entry(12, "", "x");
    EXPECT_EQ(listWriteProblem(s.grid), std::nullopt);
    s.entry(12, "12\r34", "");
    EXPECT_EQ(listWriteProblem(s.grid).value_or("").rfind("Строка 12: ", 0), 0u);
    s.entry(12, "☎12", "");
    EXPECT_EQ(listWriteProblem(s.grid).value_or("").rfind("Строка 12: номер: ", 0), 0u);

    s.entry(12, std::string(95, '7'), "12");
    s.session.writeConfig(
        "1234", [] { return std::optional<frames::ConfigBlockBytes>(frames::ConfigBlockBytes{}); });
    EXPECT_EQ(s.sent(100), "") << "no CONFW";
    EXPECT_EQ(s.link.state.replyTimer, 0u);
    ASSERT_FALSE(s.view.log.empty());
    EXPECT_EQ(s.view.log.back().rfind(
                  "Запись конфигурации не начата: Строка 12: номер длиннее 10 символов (95)", 0),
              0u)
        << s.view.log.back();
    ASSERT_FALSE(s.view.messages.empty());
    EXPECT_EQ(s.view.messages.back().rfind("Строка 12: ", 0), 0u);
}

// ---------------------------------------------------------------------------
// Internet link

TEST(NumberWriterInternet, ErasesThenSendsBatchesOfTenAfterEachReply) {
    Internet n;
    for (int i = 0; i < 23; ++i) {
        // Entries with gaps between them: rows 1, 3, 5, ...
        n.entry(1 + 2 * i, "9" + std::to_string(100000000 + i), std::to_string(i + 1));
    }
    n.reply("CONFW");
    ASSERT_EQ(n.sends, std::vector<std::string>{"ERASE"});
    EXPECT_TRUE(logged(n.view.log, "Идет запись номеров. Ждите..."));

    n.reply("ERASE OK");
    ASSERT_EQ(n.sends.size(), 2u);
    n.reply("ADD");
    ASSERT_EQ(n.sends.size(), 3u);
    n.reply("ADD");
    ASSERT_EQ(n.sends.size(), 4u);
    EXPECT_EQ(n.sends[1].size(), 125u);
    EXPECT_EQ(n.sends[2].size(), 125u);
    EXPECT_EQ(n.sends[3].size(), 41u);

    int next = 0;
    for (std::size_t b = 1; b <= 3; ++b) {
        const std::string& batch = n.sends[b];
        const std::size_t count = b < 3 ? 10 : 3;
        EXPECT_EQ(batch.substr(0, 3), "ADN");
        EXPECT_EQ(static_cast<std::uint8_t>(batch[3]), count);
        for (std::size_t k = 0; k < count; ++k, ++next) {
            EXPECT_EQ(batch.substr(4 + 12 * k, 12),
                      record("9" + std::to_string(100000000 + next), std::uint16_t(next + 1)))
                << "batch " << b << " record " << k;
        }
        EXPECT_EQ(batch.back(), '@');
    }
    EXPECT_FALSE(logged(n.view.log, "Запись номеров завершена"));

    n.reply("ADD");
    EXPECT_EQ(n.sends.size(), 4u);
    EXPECT_EQ(n.view.log.back(), "Запись номеров завершена");
    EXPECT_FALSE(n.writer.busy());
    EXPECT_TRUE(logged(n.view.log, "Запись номера 45"));
}

TEST(NumberWriterInternet, EmptyListEndsOnTheEraseReply) {
    Internet n;
    n.reply("CONFW");
    EXPECT_EQ(n.sends, std::vector<std::string>{"ERASE"});
    n.reply("ERASE");
    EXPECT_EQ(n.sends.size(), 1u);
    EXPECT_EQ(n.view.log.back(), "Запись номеров завершена");
    EXPECT_FALSE(n.writer.busy());
}

TEST(NumberWriterInternet, RecordsHoldTenBytesOfNumberAndTheApartmentLowByteFirst) {
    Internet n;
    n.entry(1, "123456789012", "300"); // twelve characters: the first ten go
    n.entry(2, "1234567", "");         // seven: three zero bytes follow; no apartment is 0
    n.entry(3, "Дом", "-1");           // 1251 bytes; the low 16 bits of -1
    n.entry(4, "5", "70000");          // 70000 keeps its low 16 bits: 4464
    n.writer.step(device_replies::WriterStep::Start);
    n.reply("ERASE");
    ASSERT_EQ(n.sends.size(), 2u);
    const std::string& batch = n.sends[1];
    ASSERT_EQ(batch.size(), 12u * 4 + 5);
    EXPECT_EQ(batch.substr(4, 12), std::string("1234567890") + char(44) + char(1));
    EXPECT_EQ(batch.substr(16, 12), std::string("1234567\0\0\0\0\0", 12));
    EXPECT_EQ(batch.substr(28, 12), std::string("\xC4\xEE\xEC\0\0\0\0\0\0\0\xFF\xFF", 12));
    EXPECT_EQ(batch.substr(40, 12), std::string("5\0\0\0\0\0\0\0\0\0\x70\x11", 12));
}

TEST(NumberWriterInternet, FullMemoryStopsTheWriter) {
    Internet n;
    for (int i = 1; i <= 15; ++i) {
        n.entry(i, std::to_string(1000 + i), "1");
    }
    n.writer.step(device_replies::WriterStep::Start);
    n.reply("ERASE");
    ASSERT_EQ(n.sends.size(), 2u);
    n.reply("FULL");
    EXPECT_EQ(n.sends.size(), 2u);
    EXPECT_TRUE(logged(n.view.log, "Номер не добавлен. Нет свободного места"));
    EXPECT_EQ(n.view.log.back(), "Неверное значение ячейки памяти");
    EXPECT_FALSE(n.writer.busy());
    n.ticks(2100);
    EXPECT_FALSE(logged(n.view.log, "Нет ответа от прибора !"));
}

TEST(NumberWriterInternet, AdnSendsTheLastBatchAgainUnchanged) {
    Internet n;
    for (int i = 1; i <= 13; ++i) {
        n.entry(i, std::to_string(5550000 + i), std::to_string(i));
    }
    n.writer.step(device_replies::WriterStep::Start);
    // Before any batch there is nothing to send again.
    n.reply("ADN");
    EXPECT_EQ(n.sends.size(), 1u);
    n.reply("ERASE");
    n.reply("ADD");
    ASSERT_EQ(n.sends.size(), 3u);
    EXPECT_EQ(n.sends[2].size(), 41u);
    n.reply("ADN");
    ASSERT_EQ(n.sends.size(), 4u);
    EXPECT_EQ(n.sends[3], n.sends[2]);
    // The writer stayed where it was: the next reply ends the list.
    n.reply("ADD");
    EXPECT_EQ(n.sends.size(), 4u);
    EXPECT_EQ(n.view.log.back(), "Запись номеров завершена");
}

TEST(NumberWriterInternet, StepTimesOutAfterTwoThousandTicksAndALateReplySendsNothing) {
    Internet n;
    n.entry(1, "111", "1");
    n.entry(2, "222", "2");
    n.writer.step(device_replies::WriterStep::Start);
    n.reply("ERASE");
    ASSERT_EQ(n.sends.size(), 2u);
    n.view.log.clear();
    n.ticks(1999);
    EXPECT_TRUE(n.view.log.empty());
    EXPECT_TRUE(n.writer.busy());
    n.ticks(1);
    EXPECT_EQ(n.view.log, std::vector<std::string>{"Нет ответа от прибора !"});
    EXPECT_FALSE(n.writer.busy());
    EXPECT_EQ(n.writer.state.writeRow, 1);

    // Sending from row 1 again without an erase would store the first
    // numbers twice on the device.
    n.reply("ADD");
    EXPECT_EQ(n.sends.size(), 2u);
    n.reply("ERASE");
    EXPECT_EQ(n.sends.size(), 2u);
}

TEST(NumberWriterInternet, UnansweredEraseTimesOutToo) {
    Internet n;
    n.entry(1, "111", "1");
    n.writer.step(device_replies::WriterStep::Start);
    EXPECT_TRUE(n.writer.busy());
    n.ticks(2000);
    EXPECT_EQ(n.view.log.back(), "Нет ответа от прибора !");
    n.reply("ERASE");
    EXPECT_EQ(n.sends.size(), 1u);
}

TEST(NumberWriterInternet, ApartmentThatIsNoIntegerStopsTheWriteBeforeTheBatchGoes) {
    Internet n;
    n.entry(1, "111", "1");
    n.entry(2, "222", "12a");
    n.entry(3, "333", "3");
    n.writer.step(device_replies::WriterStep::Start);
    n.reply("ERASE");
    EXPECT_EQ(n.sends.size(), 1u) << "the record gathered before it is not sent";
    EXPECT_EQ(n.view.messages, std::vector<std::string>{"'12a' is not a valid integer value"});
    EXPECT_EQ(n.view.log.back(),
              "Запись номеров прервана: строка 2: '12a' is not a valid integer value");
    EXPECT_FALSE(n.writer.busy());
    n.ticks(2100);
    EXPECT_FALSE(logged(n.view.log, "Нет ответа от прибора !"));
    n.reply("ADD");
    EXPECT_EQ(n.sends.size(), 1u);

    for (const char* bad : {" ", "+", "1 ", "2147483648", "0x10"}) {
        n.sends.clear();
        n.entry(2, "222", bad);
        n.writer.step(device_replies::WriterStep::Start);
        n.reply("ERASE");
        EXPECT_EQ(n.sends, std::vector<std::string>{"ERASE"}) << '"' << bad << '"';
    }
    n.sends.clear();
    n.entry(2, "222", " -2147483648");
    n.writer.step(device_replies::WriterStep::Start);
    n.reply("ERASE");
    ASSERT_EQ(n.sends.size(), 2u);
    EXPECT_EQ(n.sends[1].substr(16 + 10, 2), std::string("\0\0", 2));
}

TEST(NumberWriterInternet, NoDeviceOnTheServerEndsTheWrite) {
    Internet n;
    n.entry(1, "111", "1");
    n.sendResult = -1; // Send_data found no client
    n.writer.step(device_replies::WriterStep::Start);
    EXPECT_EQ(n.view.log.back(), "Запись номеров прервана");
    EXPECT_FALSE(n.writer.busy());

    // A batch the connection takes only in part ends the write as well.
    n.sendResult = -2;
    n.writer.step(device_replies::WriterStep::Start);
    n.sendResult = 7;
    n.reply("ERASE");
    EXPECT_EQ(n.sends.size(), 3u);
    EXPECT_EQ(n.view.log.back(), "Запись номеров прервана");
    EXPECT_FALSE(n.writer.busy());
}

} // namespace
