// The write of the changed cells against the simulator program on a
// pseudo-terminal: the configuration goes, the device's list is read into the
// session's memory, only the cells that differ are sent and "RT+EFA" ends the
// write. Each case checks the exact commands the device received (its trace)
// and that its memory (its dump on exit) is what a full write of the same
// list leaves: the list's non-empty rows from cell 0 on, nothing behind them.
#include "config/config_block.h"
#include "files/number_grid.h"
#include "session/device_session.h"
#include "session/number_changes.h"
#include "tests/support/full_number_list.h"
#include "tests/support/manual_dispatcher.h"
#include "tests/support/recording_view.h"
#include "tests/support/sim_process.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string joinedLog(const Lines& log) {
    std::string out;
    for (const std::string& line : log) {
        out += line + "\n";
    }
    return out;
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Every number command the device received, without its "\r".
Lines numberCommands(const std::string& trace) {
    Lines out;
    for (std::size_t at = 0; (at = trace.find("RT+", at)) != std::string::npos;) {
        const std::size_t end = trace.find('\r', at);
        out.push_back(trace.substr(at, end - at));
        at = end == std::string::npos ? trace.size() : end;
    }
    return out;
}

// The device's stored cells from its dump: "cell;number;apartment" lines.
Lines storedCells(const std::string& dump) {
    Lines out;
    std::istringstream in(dump.substr(dump.find("numbers=")));
    std::string line;
    std::getline(in, line); // "numbers=N"
    while (std::getline(in, line)) {
        out.push_back(line);
    }
    return out;
}

// What a full write of `grid` leaves in the device.
Lines fullWriteLeaves(const NumberGrid& grid) {
    Lines out;
    const auto cells = number_changes::cellsOf(grid);
    for (std::size_t k = 0; k < cells.size(); ++k) {
        out.push_back(std::to_string(k) + ";" + cells[k].number + ";" + cells[k].apartment);
    }
    return out;
}

struct Row {
    int row;
    std::string number;
    std::string apartment;
};

// One device holding `cells` ("cell;number;apartment" lines), a session on
// it, and the list the user wants in the session's grid.
struct Device {
    TempDir dir;
    std::string trace = dir.filePath("trace");
    std::string dump = dir.filePath("dump");
    std::unique_ptr<SimProcess> sim;
    ManualDispatcher dispatcher;
    RecordingView view;
    MemoryNumberGrid grid;
    std::unique_ptr<DeviceSession> session;
    ConfigBlock block;

    Device(const Lines& cells, bool fast, std::vector<std::string> faults = {}) {
        std::ofstream numbers(dir.filePath("numbers"));
        for (const std::string& c : cells) {
            numbers << c << '\n';
        }
        numbers.close();
        std::vector<std::string> args{
            "--numbers", dir.filePath("numbers"), "--trace", trace, "--dump", dump};
        args.insert(args.end(), faults.begin(), faults.end());
        sim = std::make_unique<SimProcess>(args);
        session = std::make_unique<DeviceSession>(&dispatcher, grid, view);
        session->setFastExchange(fast);
        block.password = 1234; // the device takes a block with its own password only
        block.deviceNumber = 42;
        block.relayMode = 2;
    }
    ~Device() { session.reset(); }

    void want(const std::vector<Row>& rows) {
        for (const Row& r : rows) {
            grid.setCell(NumberGrid::kNumberColumn, r.row, r.number);
            grid.setCell(NumberGrid::kApartmentColumn, r.row, r.apartment);
        }
    }
    void tick() {
        if (session->tickNeeded()) {
            session->tick20ms();
        }
    }
    // The port's events and 20 ms ticks until `done`; false after `limit` rounds.
    bool until(const std::function<bool()>& done, int limit = 3000) {
        for (int i = 0; i < limit && !done(); ++i) {
            dispatcher.runUntil(done, 20);
            tick();
            if (i % 50 == 49 && session->portTickNeeded()) {
                session->tick1s();
            }
        }
        return done();
    }
    bool logged(const std::string& line) const {
        return std::find(view.log.begin(), view.log.end(), line) != view.log.end();
    }
    bool link() {
        if (!sim->ok()) {
            ADD_FAILURE() << sim->error();
            return false;
        }
        session->choosePort(sim->slavePath());
        session->tick1s();
        session->tick1s();
        return until([&] { return session->state().linkUp && !session->portTickNeeded(); }, 300);
    }
    void writeChanges() {
        session->writeChanges("1234", [&] { return std::optional(block.encode()); });
    }
    bool ended() const {
        return logged("Записано изменений: " + std::to_string(session->numbersConfirmed())) ||
               logged("Неверное значение ячейки памяти") || logged("Нет ответа от прибора !") ||
               logged("Пароль не верный");
    }
    // Stops the simulator, which writes its dump.
    Lines stored() {
        sim->stop();
        return storedCells(readAll(dump));
    }
};

struct Case {
    const char* name;
    Lines device;
    std::vector<Row> wanted;
    Lines commands; // what the device must receive after its list was read
    bool fast = false;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

std::vector<Case> cases() {
    const std::string a = "9161110001", b = "9161110002", c = "9161110003", d = "9161110004",
                      e = "9161110005", x = "9165550000";
    std::vector<Case> out;
    out.push_back({"EmptyRowsBetweenNumbersAndOneInserted",
                   {"0;" + a + ";1", "1;" + b + ";2", "2;" + c + ";3"},
                   {{2, a, "1"}, {5, b, "2"}, {9, x, "3"}, {12, c, "3"}},
                   {"RT+NTF=2," + x + ",3", "RT+NTF=3," + c + ",3", "RT+EFA=4"}});
    out.push_back(
        {"ShorterListRemovalInTheMiddleShiftsTheLaterCells",
         {"0;" + a + ";1", "1;" + b + ";2", "2;" + c + ";3", "3;" + d + ";4", "4;" + e + ";5"},
         {{1, a, "1"}, {2, b, "2"}, {3, d, "4"}, {4, e, "5"}},
         {"RT+NTF=2," + d + ",4", "RT+NTF=3," + e + ",5", "RT+EFA=4"}});
    out.push_back({"ShorterListRemovalAtTheEndSendsNoNumber",
                   {"0;" + a + ";1", "1;" + b + ";2", "2;" + c + ";3"},
                   {{1, a, "1"}},
                   {"RT+EFA=1"}});
    out.push_back({"LongerList",
                   {"0;" + a + ";1", "1;" + b + ";2", "2;" + c + ";3"},
                   {{1, a, "1"}, {2, b, "2"}, {3, c, "3"}, {4, d, ""}, {5, e, "500"}},
                   {"RT+NTF=3," + d + ",", "RT+NTF=4," + e + ",500", "RT+EFA=5"}});
    // An empty apartment is the 0 the device keeps, and "07" its 7: neither differs.
    out.push_back({"OnlyAnApartmentChanged",
                   {"0;" + a + ";0", "1;" + b + ";7", "2;" + c + ";3"},
                   {{1, a, ""}, {2, b, "07"}, {3, c, "65535"}},
                   {"RT+NTF=2," + c + ",65535", "RT+EFA=3"}});
    out.push_back({"EmptyListFreesEveryCell",
                   {"0;" + a + ";1", "1;" + b + ";2", "2;" + c + ";3"},
                   {},
                   {"RT+EFA=0"}});
    out.push_back({"TheDeviceAlreadyHoldsTheList",
                   {"0;" + a + ";1", "1;" + b + ";2"},
                   {{1, a, "1"}, {3, b, "2"}},
                   {"RT+EFA=2"},
                   true});
    // A device that never held anything answers the read with "READOK".
    out.push_back({"EmptyDeviceTakesEveryNumber",
                   {},
                   {{1, a, "1"}, {2, b, "2"}},
                   {"RT+NTF=0," + a + ",1", "RT+NTF=1," + b + ",2", "RT+EFA=2"},
                   true});
    return out;
}

class WriteChanges : public ::testing::TestWithParam<Case> {};

INSTANTIATE_TEST_SUITE_P(Cases, WriteChanges, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(WriteChanges, SendsOnlyTheDifferingCellsAndLeavesWhatAFullWriteLeaves) {
    const Case& c = GetParam();
    Device dev(c.device, c.fast);
    ASSERT_TRUE(dev.link());
    dev.want(c.wanted);
    const MemoryNumberGrid before = dev.grid;
    const std::size_t traced = readAll(dev.trace).size();

    dev.writeChanges();
    ASSERT_TRUE(dev.until([&] { return dev.ended(); })) << joinedLog(dev.view.log);
    EXPECT_TRUE(dev.logged("Записано изменений: " +
                           std::to_string(static_cast<int>(c.commands.size()) - 1)));
    EXPECT_FALSE(dev.session->writeUnderWay());

    // The configuration first, then the read of the list, then the cells.
    const std::string trace = readAll(dev.trace).substr(traced);
    const std::size_t confw = trace.find("CONFW");
    const std::size_t read = trace.find("READ 1234\r");
    ASSERT_NE(confw, std::string::npos);
    ASSERT_NE(read, std::string::npos);
    EXPECT_LT(confw, read);
    EXPECT_LT(read, trace.find("RT+"));
    EXPECT_EQ(numberCommands(trace), c.commands);

    // The list the user edits is not the read's.
    for (int r = 1; r <= NumberGrid::kRows; ++r) {
        ASSERT_EQ(dev.grid.cell(1, r), before.cell(1, r)) << "row " << r;
        ASSERT_EQ(dev.grid.cell(2, r), before.cell(2, r)) << "row " << r;
    }
    const std::string dump = (dev.stored(), readAll(dev.dump));
    EXPECT_EQ(storedCells(dump), fullWriteLeaves(dev.grid));
    EXPECT_NE(dump.find("block=" +
                        [&] {
                            std::string hex;
                            for (const std::uint8_t byte : dev.block.encode()) {
                                static const char digits[] = "0123456789abcdef";
                                hex += digits[byte >> 4];
                                hex += digits[byte & 15];
                            }
                            return hex;
                        }()),
              std::string::npos)
        << "the configuration was not written";
}

// A building's whole list with the last resident changed: one command for
// cell 649, read and written with the fast exchange.
TEST(WriteChangesFullList, The650thCellAloneGoes) {
    const MemoryNumberGrid full = fullNumberList();
    Lines device;
    for (int r = 1; r <= NumberGrid::kRows; ++r) {
        device.push_back(std::to_string(r - 1) + ";" + full.cell(1, r) + ";" +
                         (full.cell(2, r).empty() ? "0" : full.cell(2, r)));
    }
    Device dev(device, true);
    ASSERT_TRUE(dev.link());
    dev.grid = full;
    dev.grid.setCell(NumberGrid::kNumberColumn, 650, "9169999999");
    const std::size_t traced = readAll(dev.trace).size();
    dev.writeChanges();
    ASSERT_TRUE(dev.until([&] { return dev.ended(); })) << joinedLog(dev.view.log);
    EXPECT_TRUE(dev.logged("Записано изменений: 1"));
    EXPECT_EQ(numberCommands(readAll(dev.trace).substr(traced)),
              (Lines{"RT+NTF=649,9169999999,650", "RT+EFA=650"}));
    EXPECT_EQ(countOf(readAll(dev.trace).substr(traced), "R_OK\r"), 31);
    EXPECT_EQ(dev.stored(), fullWriteLeaves(dev.grid));
}

// Cut short: what the device holds is told cell by cell, as the close guard
// and the tool report it; a read that does not come whole writes no cell.
TEST(WriteChangesInterrupted, RefusalSilenceAndACutReadSayWhatTheDeviceHolds) {
    const std::string a = "9161110001", b = "9161110002", c = "9161110003";
    const Lines device{"0;" + a + ";1", "1;" + b + ";2", "2;" + c + ";3"};
    const std::vector<Row> wanted{
        {1, "9160000001", "1"}, {2, b, "2"}, {3, "9160000003", "3"}, {4, "9160000004", "4"}};
    {
        // The second changed cell is refused: the first is confirmed, the
        // write stops there.
        Device dev(device, false, {"--refuse-ntf", "2"});
        ASSERT_TRUE(dev.link());
        dev.want(wanted);
        dev.writeChanges();
        ASSERT_TRUE(dev.until([&] { return dev.ended(); }));
        EXPECT_TRUE(dev.logged("Неверное значение ячейки памяти"));
        EXPECT_EQ(dev.session->writeUnderWay(),
                  "в приборе записано 1 из 3 измененных ячеек (подтверждены ячейки 0); в "
                  "остальных ячейках прибора прежние номера");
        dev.session->stopWrites();
        EXPECT_FALSE(dev.session->writeUnderWay());
        EXPECT_EQ(dev.stored(), (Lines{"0;9160000001;1", "1;" + b + ";2", "2;" + c + ";3"}));
    }
    {
        // Silent from the third number command on: two cells confirmed, the
        // third waits and times out after 1 s.
        Device dev(device, true, {"--mute-from", "RT+NTF:3"});
        ASSERT_TRUE(dev.link());
        dev.want(wanted);
        dev.writeChanges();
        ASSERT_TRUE(dev.until([&] { return dev.session->numbersConfirmed() == 2; }));
        EXPECT_EQ(dev.session->writeUnderWay(),
                  "в приборе записано 2 из 3 измененных ячеек (подтверждены ячейки 0, 2), ячейка "
                  "3 отправлена без подтверждения; в остальных ячейках прибора прежние номера");
        ASSERT_TRUE(dev.until([&] { return dev.ended(); }));
        EXPECT_TRUE(dev.logged("Нет ответа от прибора !"));
    }
    {
        // The device stops after the first of its two packets: after the
        // reply watchdog's 20 s nothing is written and the list shown is
        // untouched by what came.
        Lines many;
        for (int i = 0; i < 30; ++i) {
            many.push_back(std::to_string(i) + ";91620000" + std::to_string(10 + i) + ";" +
                           std::to_string(i));
        }
        Device dev(many, true, {"--read-stops-after", "1"});
        ASSERT_TRUE(dev.link());
        dev.want(wanted);
        const std::size_t traced = readAll(dev.trace).size();
        dev.writeChanges();
        ASSERT_TRUE(dev.until([&] { return dev.session->numbersRead() == 21; }));
        EXPECT_EQ(dev.session->writeUnderWay(),
                  "конфигурация записана, список прибора читается; номера не записывались");
        for (int i = 0; i < 1001 && !dev.logged("Запись номеров прервана: список номеров прибора "
                                                "не считан; номера не записывались");
             ++i) {
            dev.session->tick20ms();
        }
        EXPECT_TRUE(dev.logged("Чтение номеров прервано: считано 21 номеров"));
        EXPECT_TRUE(dev.logged(
            "Запись номеров прервана: список номеров прибора не считан; номера не записывались"));
        EXPECT_FALSE(dev.session->writeUnderWay());
        EXPECT_EQ(dev.grid.cell(1, 1), "9160000001");
        EXPECT_EQ(dev.grid.cell(1, 5), "");
        EXPECT_TRUE(numberCommands(readAll(dev.trace).substr(traced)).empty());
    }
}

} // namespace
