// The number list in the whole window (offscreen): the search box, the clear
// button, keys the device reports, Enter on the last row, dragged columns and
// the hidden single-number buttons; then a write and a read of the list
// through the window's own timers with the test as the device on a
// pseudo-terminal.
#include "app/settings.h"
#include "app/tform1.h"
#include "tests/support/pty_pair.h"

#include <QApplication>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

class NumberListWindow : public ::testing::Test {
  protected:
    // A window whose port does not exist: it stays unlinked.
    void SetUp() override { open(dir.filePath(QStringLiteral("no-such-tty"))); }

    void open(const QString& port) {
        TForm1::Options o;
        o.portOverride = port;
        o.settingsPath = dir.filePath(Settings::fileName());
        o.sysClassTty = dir.filePath(QStringLiteral("no-sys"));
        form = std::make_unique<TForm1>(o);
        form->show();
        grid = form->ui.StringGrid1;
    }

    void set(int row, const QString& number, const QString& apartment = QString()) {
        grid->item(row - 1, kNumberColumn)->setText(number);
        grid->item(row - 1, kApartmentColumn)->setText(apartment);
    }
    QString number(int row) const { return grid->item(row - 1, kNumberColumn)->text(); }
    QString apartment(int row) const { return grid->item(row - 1, kApartmentColumn)->text(); }
    void fillAll() {
        for (int r = 1; r <= 650; ++r) {
            set(r, QStringLiteral("9%1").arg(r, 9, 10, QLatin1Char('0')), QString::number(r));
        }
    }
    QString log() const { return form->ui.Log->toPlainText(); }
    QStringList messages() const {
        QStringList texts;
        for (const QMessageBox* box : form->findChildren<QMessageBox*>()) {
            texts << box->text();
        }
        return texts;
    }
    // The device reports a key while the list is shown.
    void keyReport(const std::string& key) {
        const std::string chunk = "+KEY: " + key + "\r\n";
        form->session->serialChunk(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                                   chunk.size());
    }
    // Types the search text over the old one as a user does: select it all
    // and type, a character at a time (text beyond ASCII as an input method
    // commits it). Every keystroke runs the search.
    void search(const QString& text) {
        QLineEdit* edit = form->ui.Edit1;
        edit->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(edit, Qt::Key_Delete);
        }
        for (const QChar c : text) {
            if (c.unicode() < 0x80) {
                QTest::keyClick(edit, c.toLatin1());
            } else {
                QInputMethodEvent commit;
                commit.setCommitString(QString(c));
                QApplication::sendEvent(edit, &commit);
            }
        }
        ASSERT_EQ(edit->text(), text);
    }

    QTemporaryDir dir;
    std::unique_ptr<TForm1> form;
    QTableWidget* grid = nullptr;
};

TEST_F(NumberListWindow, SearchMakesTheFirstMatchingRowCurrentAndKeepsTheColumn) {
    set(3, QStringLiteral("9161230000"));
    set(7, QStringLiteral("4951239999"));
    set(9, QStringLiteral("8005550199"));
    grid->setCurrentCell(20, kApartmentColumn);

    search(QStringLiteral("123"));
    EXPECT_EQ(grid->currentRow(), 2) << "both rows 3 and 7 hold it: the first wins";
    EXPECT_EQ(grid->currentColumn(), kApartmentColumn);

    search(QStringLiteral("9999")); // at the end of row 7 only
    EXPECT_EQ(grid->currentRow(), 6);
    search(QStringLiteral("555")); // in the middle of row 9 only
    EXPECT_EQ(grid->currentRow(), 8);

    search(QStringLiteral("77")); // nowhere: the current row stays
    EXPECT_EQ(grid->currentRow(), 8);
    search(QStringLiteral("ABC"));
    EXPECT_EQ(grid->currentRow(), 8);

    // The search is case-sensitive and sees letters beyond Latin too.
    set(12, u("Охрана"));
    search(u("охрана"));
    EXPECT_EQ(grid->currentRow(), 8);
    search(u("хран"));
    EXPECT_EQ(grid->currentRow(), 11);

    search(QString());
    EXPECT_EQ(grid->currentRow(), 0) << "an empty search text is in every number";
    EXPECT_EQ(grid->currentColumn(), kApartmentColumn);
}

TEST_F(NumberListWindow, ClearEmptiesAFullListAndKeepsHeadingsAndRowNumbers) {
    fillAll();
    QTest::mouseClick(form->ui.RzToolButton5, Qt::LeftButton);
    ASSERT_EQ(grid->rowCount(), 650);
    for (int r = 1; r <= 650; ++r) {
        ASSERT_TRUE(number(r).isEmpty()) << r;
        ASSERT_TRUE(apartment(r).isEmpty()) << r;
        ASSERT_EQ(grid->verticalHeaderItem(r - 1)->text(), QString::number(r));
    }
    EXPECT_EQ(grid->horizontalHeaderItem(kNumberColumn)->text(), u("Номер телефона"));
    EXPECT_EQ(grid->horizontalHeaderItem(kApartmentColumn)->text(), u("Кв."));
    EXPECT_TRUE(messages().isEmpty()) << "no question is asked";
}

TEST_F(NumberListWindow, ReportedKeyGoesToTheFirstEmptyRowUnlessItIsListed) {
    for (int r = 1; r <= 4; ++r) {
        set(r, QStringLiteral("100%1").arg(r));
    }
    set(5, QString(), QStringLiteral("42"));
    set(6, QStringLiteral("1006"));
    set(12, QStringLiteral("0123456789"), QStringLiteral("3"));

    keyReport("ABCDEF0123");
    EXPECT_EQ(number(5), QStringLiteral("ABCDEF0123"));
    EXPECT_EQ(apartment(5), QStringLiteral("42")) << "the apartment is not touched";
    EXPECT_TRUE(number(7).isEmpty());

    keyReport("0123456789");
    EXPECT_EQ(messages(), QStringList{u("Ключ с таким номером уже присутствует в списке")});
    EXPECT_TRUE(number(7).isEmpty());
    EXPECT_EQ(number(12), QStringLiteral("0123456789"));

    // A number that only contains the key is not the key.
    keyReport("012345678A");
    EXPECT_EQ(number(7), QStringLiteral("012345678A"));
    EXPECT_EQ(messages().size(), 1);

    // On another page the report adds nothing.
    form->ui.PageControl->setCurrentIndex(1);
    keyReport("5555555555");
    EXPECT_TRUE(number(8).isEmpty());
}

TEST_F(NumberListWindow, ReportedKeyOnAFullListChangesNothingAndSaysNothing) {
    fillAll();
    keyReport("5555555555");
    for (int r = 1; r <= 650; ++r) {
        ASSERT_EQ(number(r), QStringLiteral("9%1").arg(r, 9, 10, QLatin1Char('0'))) << r;
    }
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(NumberListWindow, EnterOnTheLastRowKeepsTheListIntact) {
    fillAll();
    grid->setFocus();
    grid->setCurrentCell(649, kNumberColumn);
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(grid->currentRow(), 649);

    grid->editItem(grid->item(649, kNumberColumn));
    auto* editor = grid->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("777"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();

    EXPECT_EQ(grid->rowCount(), 650);
    EXPECT_EQ(grid->currentRow(), 649);
    EXPECT_EQ(number(650), QStringLiteral("777"));
    for (int r = 1; r < 650; ++r) {
        ASSERT_EQ(number(r), QStringLiteral("9%1").arg(r, 9, 10, QLatin1Char('0'))) << r;
        ASSERT_EQ(apartment(r), QString::number(r)) << r;
    }
    EXPECT_EQ(apartment(650), QStringLiteral("650"));
}

TEST_F(NumberListWindow, DraggedColumnsKeepTheirMeaningForEveryOperation) {
    // The apartment is shown first, the number second.
    grid->horizontalHeader()->moveSection(kNumberColumn, kApartmentColumn);
    ASSERT_EQ(grid->horizontalHeader()->visualIndex(kNumberColumn), 1);

    set(2, QStringLiteral("4957770000"), QStringLiteral("15"));
    search(QStringLiteral("777"));
    EXPECT_EQ(grid->currentRow(), 1);
    search(QStringLiteral("15")); // apartments are not searched
    EXPECT_EQ(grid->currentRow(), 1);

    keyReport("AAAAAAAAAA");
    EXPECT_EQ(number(1), QStringLiteral("AAAAAAAAAA"));
    EXPECT_TRUE(apartment(1).isEmpty());

    // A packet read from the device puts numbers and apartments in their columns.
    std::string packet = "+IPD,14:E";
    packet += std::string("5551234\0\0\0", 10) + char(44) + char(1) + "@";
    form->session->serialChunk(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size());
    EXPECT_EQ(number(1), QStringLiteral("5551234"));
    EXPECT_EQ(apartment(1), QStringLiteral("300"));

    QTest::mouseClick(form->ui.RzToolButton5, Qt::LeftButton);
    EXPECT_TRUE(number(1).isEmpty());
    EXPECT_EQ(grid->horizontalHeaderItem(kNumberColumn)->text(), u("Номер телефона"));
    EXPECT_EQ(grid->horizontalHeaderItem(kApartmentColumn)->text(), u("Кв."));
    EXPECT_EQ(grid->horizontalHeader()->visualIndex(kNumberColumn), 1) << "the user's order stays";
}

TEST_F(NumberListWindow, HiddenButtonsWithoutALinkOnlyAskForOne) {
    fillAll();
    form->ui.Label7->setText(QStringLiteral("5"));
    form->ui.Read_numbers->click();
    EXPECT_TRUE(number(1).isEmpty());
    EXPECT_TRUE(apartment(650).isEmpty());
    EXPECT_EQ(form->ui.Label7->text(), QStringLiteral("0"));
    form->ui.Add->click();
    form->ui.Del->click();
    form->ui.Erase_numbers->click();
    EXPECT_EQ(log().count(u("Установите соединение")), 4) << log().toStdString();
    EXPECT_FALSE(form->Timer.isActive());
}

// The window linked to the test's device on a pseudo-terminal.
class NumberListLinked : public NumberListWindow {
  protected:
    void SetUp() override {
        open(QString::fromStdString(pty.slavePath));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return pty.drainMaster(0, 0).find("CONFO") != std::string::npos; }, 4000));
        ASSERT_TRUE(pty.writeMaster(std::string("VELIRAN ") + char(30) + "#"));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return form->session->link().state.remoteConnected; }, 3000));
    }
    // What the configurator sends next, exactly `size` bytes, the window
    // running meanwhile.
    std::string next(std::size_t size) {
        std::string got;
        [[maybe_unused]] const bool complete = QTest::qWaitFor(
            [&] {
                got += pty.readMaster(size - got.size(), 0);
                return got.size() >= size;
            },
            3000);
        return got;
    }
    std::string next(const std::string& expected) { return next(expected.size()); }
    bool waitLog(const char* line) {
        return QTest::qWaitFor([&] { return log().contains(u(line)); }, 3000);
    }

    PtyPair pty;
};

TEST_F(NumberListLinked, WritingTheConfigurationWritesTheListAndReadingItReadsItBack) {
    set(2, QStringLiteral("9161111111"), QStringLiteral("12"));
    set(5, u("Дом"));

    form->ui.RzToolButton4->click(); // "Записать в устройство"
    const std::string confw = next(73);
    ASSERT_EQ(confw.substr(0, 5), "CONFW");
    ASSERT_TRUE(pty.writeMaster("CONFW\r\n"));
    EXPECT_EQ(next("RT+NTF=0,9161111111,12\r"), "RT+NTF=0,9161111111,12\r");
    ASSERT_TRUE(pty.writeMaster("+NTF:1\r\n"));
    const std::string second("RT+NTF=1,\xC4\xEE\xEC,\r");
    EXPECT_EQ(next(second), second);
    ASSERT_TRUE(pty.writeMaster("+NTF:1\r\n"));
    EXPECT_EQ(next("RT+EFA=2\r"), "RT+EFA=2\r");
    ASSERT_TRUE(pty.writeMaster("+EFA:2\r\n"));
    ASSERT_TRUE(waitLog("Запись номеров завершена")) << log().toStdString();
    EXPECT_TRUE(
        log().contains(u("Запись номера 2\nЗапись номера 5\nИнициализация свободной памяти")))
        << log().toStdString();
    EXPECT_FALSE(form->session->numberWriter().busy());

    // Read back: the configuration reply brings the number read with it.
    form->ui.RzToolButton3->click(); // "Считать с устройства"
    EXPECT_EQ(next(7), std::string("CONFR\xD2\x04", 7));
    ASSERT_TRUE(pty.writeMaster("CONFR" + confw.substr(5)));
    EXPECT_EQ(next("READ 1234\r"), "READ 1234\r");
    EXPECT_TRUE(number(2).isEmpty()) << "the list is emptied before the device sends it";
    EXPECT_TRUE(log().contains(u("Идет чтение номеров. Ждите...")));

    std::string packet = "+IPD,26:E";
    packet += std::string("9161111111") + char(12) + char(0);
    packet += std::string("\xC4\xEE\xEC\0\0\0\0\0\0\0\0\0", 12) + "@";
    ASSERT_TRUE(pty.writeMaster(packet));
    EXPECT_EQ(next("R_OK\r"), "R_OK\r");
    EXPECT_EQ(number(1), QStringLiteral("9161111111"));
    EXPECT_EQ(apartment(1), QStringLiteral("12"));
    EXPECT_EQ(number(2), u("Дом"));
    EXPECT_EQ(apartment(2), QStringLiteral("0"));
    EXPECT_TRUE(waitLog("Чтение номеров завершено"));
}

TEST_F(NumberListLinked, SilentDeviceAbandonsTheWriteAfterASecond) {
    set(1, QStringLiteral("111"), QStringLiteral("1"));
    form->ui.RzToolButton4->click();
    ASSERT_EQ(next(73).substr(0, 5), "CONFW");
    ASSERT_TRUE(pty.writeMaster("CONFW"));
    EXPECT_EQ(next("RT+NTF=0,111,1\r"), "RT+NTF=0,111,1\r");
    // 50 ticks of 20 ms; measured loosely.
    ASSERT_TRUE(waitLog("Нет ответа от прибора !")) << log().toStdString();
    EXPECT_FALSE(form->session->numberWriter().busy());
    EXPECT_EQ(pty.drainMaster(100), "");
}

TEST_F(NumberListLinked, HiddenButtonsSendTheirCommands) {
    form->ui.Number_ab->setText(QStringLiteral("9161234567"));
    form->ui.Kv->setText(QStringLiteral("12"));
    form->ui.Add->click();
    EXPECT_EQ(next("ADD 1234 916123456712\r"), "ADD 1234 916123456712\r");
    form->ui.Del->click();
    EXPECT_EQ(next("DEL 1234 9161234567\r"), "DEL 1234 9161234567\r");
    form->ui.Erase_numbers->click();
    EXPECT_EQ(next("ERASE 1234\r"), "ERASE 1234\r");
    EXPECT_TRUE(form->Timer.isActive()) << "the reply watchdog runs";
    ASSERT_TRUE(pty.writeMaster("Vse nom"));
    EXPECT_TRUE(waitLog("Номера удалены"));
}

} // namespace
