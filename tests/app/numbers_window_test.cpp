// The whole configuration-and-numbers round trip through the real window
// against the simulator: 650 numbers read and written back, over the serial
// link and over the Internet link, with a spoiled packet and a device that
// falls silent.
#include "tests/support/child_test.h"
#include "tests/support/window_run.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace {

struct Entry {
    std::string number;
    std::string apartment;
    friend bool operator==(const Entry&, const Entry&) = default;
    friend void PrintTo(const Entry& e, std::ostream* os) { *os << e.number << ";" << e.apartment; }
};

// 650 distinct entries, a few with an empty apartment.
std::vector<Entry> fullList() {
    std::vector<Entry> list;
    for (int i = 1; i <= 650; ++i) {
        list.push_back({std::to_string(9000000000LL + i * 1237LL),
                        i % 97 == 0 ? std::string("0") : std::to_string(i % 400)});
    }
    return list;
}

QString writeNumbersFile(const QTemporaryDir& dir, const std::vector<Entry>& list) {
    const QString path = dir.filePath(QStringLiteral("numbers"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    for (std::size_t i = 0; i < list.size(); ++i) {
        f.write(QByteArray::fromStdString(std::to_string(i) + ";" + list[i].number + ";" +
                                          list[i].apartment + "\n"));
    }
    return path;
}

std::vector<Entry> gridEntries(const TForm1& form) {
    std::vector<Entry> out;
    for (int row = 1; row <= 650; ++row) {
        const std::string number = form.numberGrid->cell(1, row);
        if (!number.empty()) {
            out.push_back({number, form.numberGrid->cell(2, row)});
        }
    }
    return out;
}

// The numbers the simulator holds when it stops, in cell order.
std::vector<Entry> deviceEntries(WindowRun& run) {
    run.sim->stop();
    std::map<int, Entry> cells;
    const std::string text = readFileBytes(run.dump);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const auto a = line.find(';');
        const auto b = a == std::string::npos ? a : line.find(';', a + 1);
        if (b == std::string::npos || line.find('=') != std::string::npos) {
            continue;
        }
        cells[std::stoi(line.substr(0, a))] = {line.substr(a + 1, b - a - 1), line.substr(b + 1)};
    }
    std::vector<Entry> out;
    for (const auto& [cell, entry] : cells) {
        out.push_back(entry);
    }
    return out;
}

// Drives the 20 ms tick faster than real time, as the design's explicit time
// allows, until `done` or the limit. The simulator charges the wire time of
// 115 200 baud, as a device on a real line would: an instant answer could
// come back before the analysis that sent its command has purged the line.
template <typename Pred> bool driveTicks(TForm1& form, Pred done, int maxTicks = 30000) {
    for (int i = 0; i < maxTicks; ++i) {
        if (done()) {
            return true;
        }
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        QCoreApplication::processEvents();
        form.session->tick20ms();
    }
    return done();
}

// The window in Internet mode with its server listening, and the simulator
// linked to it over loopback TCP as a GPRS device.
void linkOverTcp(WindowRun& run, std::vector<std::string> extra) {
    run.openWindow();
    PortComboBox* box = run.form->ui.Port_Box;
    box->showPopup();
    box->hidePopup();
    box->setCurrentIndex(box->count() - 1);
    run.form->ui.Edit2->setText(QStringLiteral("0"));
    QTest::mouseClick(run.form->ui.Start_server, Qt::LeftButton);
    const quint16 port = run.form->ServerSocket1->listeningPort();
    ASSERT_NE(port, 0);
    std::vector<std::string> args = {"--tcp", "127.0.0.1:" + std::to_string(port), "--dump",
                                     run.dump.toStdString()};
    args.insert(args.end(), extra.begin(), extra.end());
    run.sim = std::make_unique<SimProcess>(args);
    ASSERT_TRUE(run.sim->ok()) << run.sim->error();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return run.form->session->link().state.remoteConnected; }, 5000));
}

// A device that sent 3 of its 31 packets and fell silent: once its 63 numbers
// are in the grid nothing more comes, so the 1000 ticks of the reply
// watchdog are driven here. It must run, end in the lost link, say what was
// read, keep the grid and make no backup of the incomplete read.
void expectReadCutAt63(WindowRun& run) {
    ASSERT_TRUE(hurryQuietTime(
        *run.form, [&] { return gridEntries(*run.form).size() >= 63; }, 20))
        << run.log().right(400).toStdString();
    LinkController& link = run.form->session->link();
    EXPECT_NE(link.state.replyTimer, 0u) << "nothing waits for the rest of the list";
    for (int i = 0; i < 1000 && link.state.replyTimer != 0; ++i) {
        run.form->session->tick20ms();
    }
    QCoreApplication::processEvents();
    const QString log = run.log();
    EXPECT_TRUE(log.contains(QString::fromUtf8("Потеряна связь (нет ответа)!")))
        << log.toStdString();
    EXPECT_TRUE(log.endsWith(QString::fromUtf8("Чтение номеров прервано: считано 63 номеров")))
        << log.right(300).toStdString();
    EXPECT_FALSE(log.contains(QString::fromUtf8("Чтение номеров завершено")));
    EXPECT_FALSE(log.contains(QString::fromUtf8("Резервная копия прибора сохранена")));
    EXPECT_FALSE(link.state.remoteConnected);
    const std::vector<Entry> list = fullList();
    EXPECT_EQ(gridEntries(*run.form), std::vector<Entry>(list.begin(), list.begin() + 63));
}

class NumbersWindowFlow : public BothExchanges {};
INSTANTIATE_TEST_SUITE_P(Exchange, NumbersWindowFlow, ::testing::Bool(), exchangeName);

} // namespace

TEST_P(NumbersWindowFlow, SerialReadOf650NumbersThenWriteBack) {
    WindowRun run;
    run.fast = GetParam();
    const std::vector<Entry> list = fullList();
    run.startLinked(
        {"--baud", "115200", "--numbers", writeNumbersFile(run.dir, list).toStdString()});

    // Reading the configuration continues with the numbers: 31 packets.
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана"));
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] {
        return run.log().contains(QString::fromUtf8("Чтение номеров завершено"));
    })) << run.log().right(400).toStdString();
    EXPECT_EQ(gridEntries(*run.form), list);
    // The last acknowledgement may still be on its way to the simulator.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return countOf(readFileBytes(run.trace), "R_OK\r") == 31; }, 2000));
    EXPECT_EQ(countOf(readFileBytes(run.trace), "RFAIL\r"), 0);

    // Edit the list a little and write it with the configuration.
    TForm1Ui& ui = run.form->ui;
    ui.StringGrid1->item(4, 0)->setText(QStringLiteral("8999777665"));
    ui.StringGrid1->item(9, 0)->setText(QString());
    ui.StringGrid1->item(9, 1)->setText(QString());
    QTest::mouseClick(ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация записана"));
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] {
        return run.log().contains(QString::fromUtf8("Запись номеров завершена"));
    })) << run.log().right(400).toStdString();
    EXPECT_FALSE(run.log().contains(QString::fromUtf8("Нет ответа от прибора !")));
    EXPECT_EQ(deviceEntries(run), gridEntries(*run.form));
    // The setting is kept for the next run.
    run.form->close();
    EXPECT_EQ(readFileBytes(run.settings).find("Fast_exchange=1") != std::string::npos, run.fast);
}

TEST(NumbersWindow, SpoiledPacketIsRefusedAndSentAgain) {
    WindowRun run;
    const std::vector<Entry> list = fullList();
    run.startLinked({"--baud", "115200", "--numbers", writeNumbersFile(run.dir, list).toStdString(),
                     "--corrupt-packet", "3"});
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] {
        return run.log().contains(QString::fromUtf8("Чтение номеров завершено"));
    })) << run.log().right(400).toStdString();
    EXPECT_EQ(gridEntries(*run.form), list);
    EXPECT_EQ(countOf(readFileBytes(run.trace), "RFAIL\r"), 1);
    EXPECT_EQ(run.form->ui.Label7->text(), QStringLiteral("1"));
}

TEST_P(NumbersWindowFlow, DeviceFallingSilentMidWriteIsReported) {
    WindowRun run;
    run.fast = GetParam();
    run.startLinked({"--baud", "115200", "--mute-from", "RT+NTF:5"});
    for (int row = 0; row < 12; ++row) {
        run.form->ui.StringGrid1->item(row, 0)->setText(QString::number(9100000000LL + row));
        run.form->ui.StringGrid1->item(row, 1)->setText(QString::number(row + 1));
    }
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация записана"));
    // Driven ticks would cut the fast exchange's replies, which come in
    // pieces; there the window's own timer counts the writer's second.
    const auto silent = [&] {
        return run.log().contains(QString::fromUtf8("Нет ответа от прибора !"));
    };
    ASSERT_TRUE(run.fast ? QTest::qWaitFor(silent, 5000) : driveTicks(*run.form, silent, 5000))
        << run.log().right(400).toStdString();
    // With the window's own timer the writer gives up on the fifth number,
    // the first one left unanswered: replies analysed between the ticks do
    // not cut its second short. (Driven ticks squeeze that second into a
    // tenth, which a busy machine may overrun.)
    if (run.fast) {
        EXPECT_EQ(countOf(readFileBytes(run.trace), "RT+NTF="), 5);
    }
    EXPECT_FALSE(run.log().contains(QString::fromUtf8("Запись номеров завершена")));
}

TEST_P(NumbersWindowFlow, DeviceFallingSilentMidReadIsLostAfterTheWatchdog) {
    WindowRun run;
    run.fast = GetParam();
    run.startLinked({"--baud", "115200", "--numbers",
                     writeNumbersFile(run.dir, fullList()).toStdString(), "--read-stops-after",
                     "3"});
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана"));
    expectReadCutAt63(run);
}

// The list is checked whole before "CONFW": the first row the device could
// not take stops the write with a box and a log line naming it, and the
// device gets nothing; once the rows are mended the write goes.
TEST(NumbersWindow, ARowTheDeviceCannotTakeStopsTheWriteBeforeAnythingIsSent) {
    WindowRun run;
    run.startLinked();
    for (int row = 1; row <= 20; ++row) {
        run.form->numberGrid->setCell(1, row, std::to_string(9180000000LL + row));
        run.form->numberGrid->setCell(2, row, std::to_string(row));
    }
    run.form->numberGrid->setCell(1, 17, std::string(88, '9')); // as a file or CSV may hold it
    run.form->numberGrid->setCell(2, 5, "70000");
    const std::string before = readFileBytes(run.trace);
    const auto shown = [&] {
        QStringList texts;
        for (QMessageBox* box : run.form->findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                texts << box->text();
                box->close();
            }
        }
        return texts;
    };
    for (const char* expected :
         {"Строка 5: номер квартиры «70000» не является целым числом от 0 до 65 535",
          "Строка 17: номер длиннее 10 символов (88), команда его записи не помещается в буфер "
          "отправки: 102 символов, допустимо не более 99"}) {
        QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
        EXPECT_EQ(shown(), QStringList{QString::fromUtf8(expected)});
        EXPECT_TRUE(run.log().endsWith(QString::fromUtf8("Запись конфигурации не начата: ") +
                                       QString::fromUtf8(expected)))
            << run.log().right(300).toStdString();
        run.form->numberGrid->setCell(2, 5, "5");
    }
    QTest::qWait(300);
    EXPECT_EQ(readFileBytes(run.trace), before) << "the device got something";
    EXPECT_EQ(run.form->session->link().state.replyTimer, 0u);

    run.form->numberGrid->setCell(1, 17, "9180000017");
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] {
        return run.log().contains(QString::fromUtf8("Запись номеров завершена"));
    })) << run.log().right(400).toStdString();
}

TEST(NumbersWindow, InternetDeviceFallingSilentMidReadIsLostAfterTheWatchdog) {
    WindowRun run;
    linkOverTcp(run, {"--numbers", writeNumbersFile(run.dir, fullList()).toStdString(),
                      "--read-stops-after", "3"});
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана"));
    expectReadCutAt63(run);
}

TEST(NumbersWindow, InternetReadOf650NumbersThenWriteBack) {
    WindowRun run;
    const std::vector<Entry> list = fullList();
    linkOverTcp(run, {"--numbers", writeNumbersFile(run.dir, list).toStdString()});

    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Чтение номеров завершено", 20000))
        << run.log().right(400).toStdString();
    EXPECT_EQ(gridEntries(*run.form), list);

    run.form->ui.StringGrid1->item(0, 0)->setText(QStringLiteral("8999000112"));
    run.form->ui.StringGrid1->item(649, 1)->setText(QStringLiteral("300"));
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Запись номеров завершена", 20000))
        << run.log().right(400).toStdString();
    EXPECT_EQ(deviceEntries(run), gridEntries(*run.form));
}

namespace {

// Answers the next question box with `button`, keeping its text.
void answerQuestion(QMessageBox::StandardButton button, QString* text) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        *text = box->text();
        box->button(button)->click();
    });
    timer->start();
}

std::vector<Entry> newList() {
    std::vector<Entry> list;
    for (int i = 1; i <= 650; ++i) {
        list.push_back({std::to_string(8000000000LL + i), std::to_string(i)});
    }
    return list;
}

void fillGrid(TForm1& form, const std::vector<Entry>& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        form.numberGrid->setCell(1, static_cast<int>(i) + 1, list[i].number);
        form.numberGrid->setCell(2, static_cast<int>(i) + 1, list[i].apartment);
    }
}

// "…в приборе записано N из 650 номеров[, еще 1 отправлено без подтверждения]…":
// N, and whether one more went out unconfirmed; -1 when the text is not there.
std::pair<int, bool> holdsFrom(const std::string& text) {
    const std::string mark = "в приборе записано ";
    const auto at = text.find(mark);
    if (at == std::string::npos) {
        return {-1, false};
    }
    const int n = std::stoi(text.substr(at + mark.size()));
    const std::string rest = " из 650 номеров";
    const auto end = text.find(rest, at);
    const std::string unconfirmed = ", еще 1 отправлено без подтверждения";
    return {end == std::string::npos ? -1 : n,
            end != std::string::npos &&
                text.compare(end + rest.size(), unconfirmed.size(), unconfirmed) == 0};
}

// The device after a write cut at `written` (plus, maybe, one unconfirmed):
// the new numbers first, the old ones after them.
void expectCutWrite(std::vector<Entry> device, const std::vector<Entry>& fresh,
                    const std::vector<Entry>& old, int written, bool oneMore) {
    ASSERT_EQ(device.size(), 650u);
    int newOnes = 0;
    while (newOnes < 650 &&
           device[static_cast<std::size_t>(newOnes)] == fresh[static_cast<std::size_t>(newOnes)]) {
        ++newOnes;
    }
    EXPECT_TRUE(newOnes == written || (oneMore && newOnes == written + 1))
        << newOnes << " new numbers on the device, reported " << written;
    for (int i = newOnes; i < 650; ++i) {
        EXPECT_EQ(device[static_cast<std::size_t>(i)], old[static_cast<std::size_t>(i)]) << i;
    }
}

} // namespace

TEST(NumbersWindow, AReadCutShortAsksBeforeItsListReplacesTheDevices) {
    WindowRun run;
    const QString numbers = writeNumbersFile(run.dir, fullList());
    run.startLinked(
        {"--baud", "115200", "--numbers", numbers.toStdString(), "--mute-from", "R_OK:3"});
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана"));
    ASSERT_TRUE(hurryQuietTime(
        *run.form, [&] { return gridEntries(*run.form).size() >= 63; }, 20));
    // The device goes away in the middle of its list.
    run.sim->stop();
    ASSERT_TRUE(run.waitLog("Чтение номеров прервано: считано 63 номеров"))
        << run.log().toStdString();
    run.startSim({"--baud", "115200", "--numbers", numbers.toStdString()});
    ASSERT_TRUE(run.waitPanel(kLinkedText, 8000)) << run.panel(2).toStdString();

    QString asked;
    answerQuestion(QMessageBox::No, &asked);
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    EXPECT_EQ(asked, QString::fromUtf8("Список номеров считан из прибора не полностью. Запись "
                                       "заменит список прибора этим неполным списком. Записать?"));
    EXPECT_TRUE(run.log().contains(
        QString::fromUtf8("Запись не начата: список номеров считан не полностью")));
    QTest::qWait(300);
    EXPECT_EQ(readFileBytes(run.trace).find("CONFW"), std::string::npos);

    asked.clear();
    answerQuestion(QMessageBox::Yes, &asked);
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    EXPECT_FALSE(asked.isEmpty());
    ASSERT_TRUE(run.waitLog("Конфигурация записана")) << run.log().toStdString();
    EXPECT_TRUE(run.waitLog("Идет запись номеров. Ждите..."));
}

TEST(NumbersWindow, ExitDuringANumberWriteAsksAndSaysWhatTheDeviceHolds) {
    WindowRun run;
    const std::vector<Entry> old = fullList();
    const std::vector<Entry> fresh = newList();
    run.startLinked(
        {"--baud", "115200", "--numbers", writeNumbersFile(run.dir, old).toStdString()});
    fillGrid(*run.form, fresh);
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] { return run.log().contains("Запись номера 40"); }));

    // "Выход", and the user says no: the write goes on.
    QString asked;
    answerQuestion(QMessageBox::No, &asked);
    run.form->ui.N9->trigger();
    EXPECT_EQ(asked, QString::fromUtf8("Идет запись в прибор. Прервать?"));
    EXPECT_TRUE(run.form->isVisible());
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] { return run.log().contains("Запись номера 50"); }));

    // Yes: nothing more is sent, and the log says what the device holds.
    answerQuestion(QMessageBox::Yes, &asked);
    run.form->ui.N9->trigger();
    EXPECT_FALSE(run.form->session->port().Enabled());
    const std::string log = run.log().toStdString();
    const auto [written, oneMore] = holdsFrom(log);
    ASSERT_GE(written, 49) << log;
    EXPECT_NE(log.find("Запись в прибор прервана: в приборе записано "), std::string::npos);
    EXPECT_NE(log.find("; в остальных ячейках прибора прежние номера"), std::string::npos);
    expectCutWrite(deviceEntries(run), fresh, old, written, oneMore);
}

TEST(NumbersWindow, SigtermDuringANumberWriteStopsItAndSaysWhatTheDeviceHolds) {
    if (const char* link = std::getenv("VXRT7_WRITE_UNTIL_SIGNAL")) {
        // The second run: the program's window, catching signals as the
        // program does, writes the new list until it is told to stop.
        QTemporaryDir dir;
        TForm1::Options o;
        o.portOverride = QString::fromLocal8Bit(link);
        o.settingsPath = dir.filePath(QStringLiteral("settings.ini"));
        o.sysClassTty = dir.filePath(QStringLiteral("no-sys"));
        o.handleSignals = true;
        TForm1 form(o);
        form.show();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return form.ui.StatusPanels[2]->text() == kLinkedText; }, 8000));
        fillGrid(form, newList());
        QTest::mouseClick(form.ui.RzToolButton4, Qt::LeftButton);
        const int code = QApplication::exec();
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(code);
    }
    WindowRun run;
    const std::vector<Entry> old = fullList();
    run.startSim({"--baud", "115200", "--numbers", writeNumbersFile(run.dir, old).toStdString()});
    ChildTest child(
        "NumbersWindow.SigtermDuringANumberWriteStopsItAndSaysWhatTheDeviceHolds",
        {{"VXRT7_WRITE_UNTIL_SIGNAL", run.link.toStdString()}, {"QT_QPA_PLATFORM", "offscreen"}},
        false);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return countOf(readFileBytes(run.trace), "RT+NTF=") >= 30; }, 30000));
    ::kill(child.pid(), SIGTERM);
    EXPECT_EQ(child.wait(), 128 + SIGTERM) << child.output();
    const std::string& err = child.output();
    EXPECT_NE(err.find("vxrt7-config: сигнал 15: Запись в прибор прервана: в приборе записано "),
              std::string::npos)
        << err;
    const auto [written, oneMore] = holdsFrom(err);
    ASSERT_GE(written, 29) << err;
    expectCutWrite(deviceEntries(run), newList(), old, written, oneMore);
}

// "Записать изменения" through the window's menu: enabled on the serial link
// and disabled with its reason on the Internet link; the configuration
// goes, the device's list is read into memory (the list shown stays as the
// user edited it), only the differing cells go and the log says how many.
// Closing during it asks as during any write and says which cells went.
TEST(NumbersWindow, WriteChangesSendsTheDifferingCellsAndTheCloseGuardAsks) {
    WindowRun run;
    std::vector<Entry> held;
    for (int i = 1; i <= 60; ++i) {
        held.push_back({std::to_string(9170000000LL + i), std::to_string(i)});
    }
    run.startLinked(
        {"--baud", "115200", "--numbers", writeNumbersFile(run.dir, held).toStdString()});
    TForm1Ui& ui = run.form->ui;
    const QList<QAction*> items = ui.N2Menu->actions();
    ASSERT_EQ(items.indexOf(ui.N11), items.indexOf(ui.N7) + 1);
    EXPECT_EQ(ui.N11->text(), QString::fromUtf8("Записать изменения"));
    EXPECT_TRUE(ui.N11->isEnabled());
    EXPECT_TRUE(ui.N7->isEnabled());

    // One resident's apartment changed, one added at the end.
    std::vector<Entry> edited = held;
    edited[9].apartment = "110";
    edited.push_back({"9179999999", "61"});
    fillGrid(*run.form, edited);
    const std::size_t traced = readFileBytes(run.trace).size();
    ui.N11->trigger();
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] {
        return run.log().contains(QString::fromUtf8("Записано изменений: 2"));
    })) << run.log().right(600).toStdString();
    EXPECT_EQ(gridEntries(*run.form), edited);
    const QString log = run.log();
    const QStringList order = {"Конфигурация записана",
                               "Идет чтение номеров. Ждите...",
                               "Чтение номеров завершено",
                               "Идет запись номеров. Ждите...",
                               "Запись номера 10",
                               "Запись номера 61",
                               "Инициализация свободной памяти",
                               "Запись номеров завершена",
                               "Идет чтение номеров. Ждите...",
                               "Чтение номеров завершено",
                               "Записано изменений: 2"};
    qsizetype at = 0;
    for (const QString& line : order) {
        const qsizetype next = log.indexOf(line, at);
        ASSERT_GE(next, at) << line.toStdString() << "\n" << log.toStdString();
        at = next;
    }
    EXPECT_EQ(countOf(log.toStdString(), "Запись номера "), 2);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return readFileBytes(run.trace).find("RT+EFA=61\r", traced) != std::string::npos; },
        2000));
    const std::string sent = readFileBytes(run.trace).substr(traced);
    // Then the list is read back.
    EXPECT_EQ(sent.substr(sent.find("RT+"), 68),
              "RT+NTF=9,9170000010,110\rRT+NTF=60,9179999999,61\rRT+EFA=61\rREAD 1234\r");

    // A resident out at the top: every later cell shifts and goes. "Выход"
    // in the middle asks; no goes on, yes stops and says what was confirmed.
    const std::vector<Entry> before = edited;
    edited.erase(edited.begin());
    fillGrid(*run.form, edited);
    run.form->numberGrid->setCell(1, 61, "");
    run.form->numberGrid->setCell(2, 61, "");
    ui.N11->trigger();
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] { return run.log().contains("Запись номера 5"); }));
    QString asked;
    answerQuestion(QMessageBox::No, &asked);
    ui.N9->trigger();
    EXPECT_EQ(asked, QString::fromUtf8("Идет запись в прибор. Прервать?"));
    EXPECT_TRUE(run.form->isVisible());
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] { return run.log().contains("Запись номера 8"); }));
    asked.clear();
    answerQuestion(QMessageBox::Yes, &asked);
    ui.N9->trigger();
    EXPECT_EQ(asked, QString::fromUtf8("Идет запись в прибор. Прервать?"));
    EXPECT_FALSE(run.form->session->port().Enabled());
    const std::string cut = run.log().toStdString();
    const auto mark = cut.find("Запись в прибор прервана: в приборе записано ");
    ASSERT_NE(mark, std::string::npos) << cut;
    const std::string holds = cut.substr(mark);
    EXPECT_NE(holds.find(" из 60 измененных ячеек (подтверждены ячейки 0-"), std::string::npos)
        << holds;
    EXPECT_NE(holds.find("; в остальных ячейках прибора прежние номера"), std::string::npos)
        << holds;
    // The cells confirmed hold the new list; the rest is as before.
    const std::vector<Entry> device = deviceEntries(run);
    const int confirmed = run.form->session->numbersConfirmed();
    ASSERT_GE(confirmed, 7);
    ASSERT_EQ(device.size(), 61u);
    for (int k = 0; k < 61; ++k) {
        if (k < confirmed) {
            EXPECT_EQ(device[static_cast<std::size_t>(k)], edited[static_cast<std::size_t>(k)])
                << "cell " << k;
        } else if (k > confirmed) {
            EXPECT_EQ(device[static_cast<std::size_t>(k)], before[static_cast<std::size_t>(k)])
                << "cell " << k;
        }
    }
}

// A number deleted by SMS left a free cell in the middle, which the device's
// read does not show: the list read looks like the grid, no cell goes, and
// "RT+EFA=" frees the cell that holds the last number. The read back finds it
// and the whole list goes, so nothing is lost.
TEST(NumbersWindow, WriteChangesOverAFreeCellInTheMiddleEndsWithTheWholeList) {
    WindowRun run;
    QFile numbers(run.dir.filePath(QStringLiteral("holes")));
    ASSERT_TRUE(numbers.open(QIODevice::WriteOnly));
    numbers.write("0;9160000001;1\n1;9160000002;2\n3;9160000004;4\n");
    numbers.close();
    run.startLinked({"--numbers", numbers.fileName().toStdString()});
    const std::vector<Entry> list = {{"9160000001", "1"}, {"9160000002", "2"}, {"9160000004", "4"}};
    fillGrid(*run.form, list);
    run.form->ui.N11->trigger();
    const QString done = QString::fromUtf8("Запись номеров завершена");
    ASSERT_TRUE(hurryQuietTime(*run.form, [&] { return run.log().count(done) == 2; }))
        << run.log().toStdString();
    const QString log = run.log();
    const qsizetype check = log.indexOf(QString::fromUtf8(
        "Контрольное чтение: список прибора не совпал со списком (в приборе были пустые ячейки "
        "между номерами). Список записывается целиком"));
    ASSERT_GT(check, log.indexOf(done)) << log.toStdString();
    EXPECT_TRUE(log.endsWith(done)) << log.toStdString();
    EXPECT_FALSE(log.contains(QString::fromUtf8("Записано изменений")));
    EXPECT_EQ(gridEntries(*run.form), list);
    EXPECT_EQ(deviceEntries(run), list);
}

TEST(NumbersWindow, WriteChangesIsDisabledOnTheInternetLinkWithItsReason) {
    WindowRun run;
    linkOverTcp(run, {});
    TForm1Ui& ui = run.form->ui;
    EXPECT_FALSE(ui.N11->isEnabled());
    EXPECT_TRUE(ui.N7->isEnabled());
    EXPECT_TRUE(ui.N11->toolTip().contains(
        QString::fromUtf8("запись изменений возможна только через последовательный порт")))
        << ui.N11->toolTip().toStdString();
    // The session refuses it there too, should a front end call it.
    const std::size_t lines = run.log().size();
    run.form->session->writeChanges("1234",
                                    [] { return std::optional<frames::ConfigBlockBytes>(); });
    EXPECT_TRUE(run.log().mid(lines).contains(
        QString::fromUtf8("Запись изменений через Интернет невозможна")))
        << run.log().mid(lines).toStdString();
    // Back to a serial port: enabled again.
    run.form->ui.Port_Box->setEditText(run.link);
    EXPECT_TRUE(ui.N11->isEnabled());
}
