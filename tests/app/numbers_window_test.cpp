// The whole configuration-and-numbers round trip through the real window
// against the simulator: 650 numbers read and written back, over the serial
// link and over the Internet link, with a spoiled packet and a device that
// falls silent.
#include "tests/support/window_run.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
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
        form.link.TimerTimer();
    }
    return done();
}

// Hurries only the quiet-time countdown that follows a reply; waiting for
// the device still runs on the window's own 20 ms timer, so a busy machine
// cannot make a time-out fire early.
template <typename Pred> bool hurryQuietTime(TForm1& form, Pred done, int seconds = 90) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) {
            return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        if (form.link.state.rxCountdown > 1) {
            form.link.TimerTimer();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return done();
}

} // namespace

TEST(NumbersWindow, SerialReadOf650NumbersThenWriteBack) {
    WindowRun run;
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

TEST(NumbersWindow, DeviceFallingSilentMidWriteIsReported) {
    WindowRun run;
    run.startLinked({"--baud", "115200", "--mute-from", "RT+NTF:5"});
    for (int row = 0; row < 12; ++row) {
        run.form->ui.StringGrid1->item(row, 0)->setText(QString::number(9100000000LL + row));
        run.form->ui.StringGrid1->item(row, 1)->setText(QString::number(row + 1));
    }
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация записана"));
    ASSERT_TRUE(driveTicks(
        *run.form, [&] { return run.log().contains(QString::fromUtf8("Нет ответа от прибора !")); },
        5000))
        << run.log().right(400).toStdString();
    EXPECT_FALSE(run.log().contains(QString::fromUtf8("Запись номеров завершена")));
}

TEST(NumbersWindow, InternetReadOf650NumbersThenWriteBack) {
    WindowRun run;
    const std::vector<Entry> list = fullList();
    run.openWindow();
    PortComboBox* box = run.form->ui.Port_Box;
    box->showPopup();
    box->hidePopup();
    box->setCurrentIndex(box->count() - 1);
    run.form->ui.Edit2->setText(QStringLiteral("0"));
    QTest::mouseClick(run.form->ui.Start_server, Qt::LeftButton);
    const quint16 port = run.form->ServerSocket1.listeningPort();
    ASSERT_NE(port, 0);
    run.sim = std::make_unique<SimProcess>(std::vector<std::string>{
        "--tcp", "127.0.0.1:" + std::to_string(port), "--dump", run.dump.toStdString(), "--numbers",
        writeNumbersFile(run.dir, list).toStdString()});
    ASSERT_TRUE(run.sim->ok()) << run.sim->error();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.form->link.state.remoteConnected; }, 5000));

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
