// Configuration files and CSV through the real window and its real dialogs:
// a device's configuration read, changed, saved, changed again, opened and
// written back, so that the simulator ends up holding what the file held;
// and every refusal, which must say why and change nothing.
#include "app/config_pages.h"
#include "config/config_block.h"
#include "files/config_file.h"
#include "tests/support/full_number_list.h"
#include "tests/support/read_only_dir.h"
#include "tests/support/window_run.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QTableWidget>
#include <QToolButton>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

Rows gridRows(const TForm1& form) {
    Rows rows;
    for (int row = 1; row <= 650; ++row) {
        rows.emplace_back(form.numberGrid->cell(1, row), form.numberGrid->cell(2, row));
    }
    return rows;
}

Rows entriesOf(const Rows& rows) {
    Rows out;
    for (const auto& r : rows) {
        if (!r.first.empty()) {
            out.push_back(r);
        }
    }
    return out;
}

void setGrid(TForm1& form, const Rows& rows) {
    for (int row = 1; row <= 650; ++row) {
        const auto& r = rows[static_cast<std::size_t>(row - 1)];
        form.numberGrid->setCell(1, row, r.first);
        form.numberGrid->setCell(2, row, r.second);
    }
}

// The text of the error box the window shows, closed after reading; empty
// when none is shown.
QString takeErrorBox(TForm1& form) {
    QString text;
    for (auto* box : form.findChildren<QMessageBox*>()) {
        if (box->isVisible()) {
            text = box->text();
            box->close();
        }
    }
    QTest::qWait(20); // the closed box is deleted, and the next may show
    return text;
}

void writeFile(const QString& path, const std::string& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), qint64(bytes.size()));
}

std::string hexOf(std::string_view bytes) {
    std::string out;
    char two[3];
    for (const unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// What the simulator holds when it stops: its block, and its numbers in cell order.
struct DeviceState {
    std::string blockHex;
    Rows entries;
};
DeviceState deviceState(WindowRun& run) {
    run.sim->stop();
    DeviceState state;
    std::map<int, std::pair<std::string, std::string>> cells;
    const std::string text = readFileBytes(run.dump);
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.rfind("block=", 0) == 0) {
            state.blockHex = line.substr(6);
            for (char& c : state.blockHex) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            continue;
        }
        const auto a = line.find(';');
        const auto b = a == std::string::npos ? a : line.find(';', a + 1);
        if (b != std::string::npos && line.find('=') == std::string::npos) {
            cells[std::stoi(line.substr(0, a))] = {line.substr(a + 1, b - a - 1),
                                                   line.substr(b + 1)};
        }
    }
    for (const auto& [cell, entry] : cells) {
        state.entries.push_back(entry);
    }
    return state;
}

// The pages as text, so that a difference shows where it is.
std::string describe(const ConfigPages& p) {
    std::string out = p.Password + "|" + p.Oh_num + "|" + p.Num_dev + "|" + p.countryCode + "|" +
                      p.OUT_TOUT + "|" + std::to_string(p.RELE_REJ) + "|" + p.act_time + "/" +
                      std::to_string(p.act_mul) + "|" + p.pause_time + "/" +
                      std::to_string(p.pause_mul) + "|" + p.povtor + "|" + p.T_in + "|" + p.T_out +
                      "|" + p.T_mem + "|" + std::to_string(p.inputMode) + "|";
    for (const bool box : {p.All_num_ch, p.SMS_ch, p.RING_ch, p.Short_num, p.Mes_in, p.Mes_rele,
                           p.SendToRing, p.KEYNUMBUT, p.Ohrana_en, p.Input_inv}) {
        out += box ? '1' : '0';
    }
    for (const auto& key : p.keys) {
        out += "|" + key;
    }
    return out;
}

} // namespace

TEST(ConfigFilesWindow, ReadSaveChangeOpenAndWriteBackGivesTheDeviceTheFile) {
    WindowRun run;
    // The device holds configuration A: a block of its own and three numbers.
    ConfigBlock a;
    a.password = 1234;
    a.options = 0x05;
    a.relayMode = 2;
    a.pulseMs = 3000;
    a.pauseMs = 100;
    a.repetitions = 2;
    a.inputMode = 0;
    a.deviceNumber = 9;
    const auto aBytes = a.encode();
    const QString blockPath = run.dir.filePath(QStringLiteral("device-block"));
    writeFile(blockPath, std::string(aBytes.begin(), aBytes.end()));
    const QString numbersPath = run.dir.filePath(QStringLiteral("device-numbers"));
    writeFile(numbersPath, "0;9160000001;1\n1;9160000002;2\n2;9160000003;0\n");
    run.startLinked({"--baud", "115200", "--config", blockPath.toStdString(), "--numbers",
                     numbersPath.toStdString()});
    TForm1& form = *run.form;
    TForm1Ui& ui = form.ui;

    QTest::mouseClick(ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(hurryQuietTime(form, [&] {
        return run.log().contains(QString::fromUtf8("Чтение номеров завершено"));
    })) << run.log().right(400).toStdString();
    EXPECT_EQ(form.config->configBlock, a);

    // Configuration B in every page and a long list with gaps.
    ConfigPages b = form.config->pages();
    b.Oh_num = "9031234567";
    b.Num_dev = "4321";
    b.All_num_ch = b.SMS_ch = b.Mes_in = b.Mes_rele = b.SendToRing = b.KEYNUMBUT = true;
    b.RING_ch = false;
    b.countryCode = "+380";
    b.OUT_TOUT = "45";
    b.RELE_REJ = 3;
    b.act_time = "12";
    b.act_mul = 1;
    b.pause_time = "30";
    b.pause_mul = 1; // what a loaded block shows again
    b.povtor = "5";
    b.Ohrana_en = b.Input_inv = true;
    b.T_in = "250";
    b.T_out = "1";
    b.T_mem = "9";
    b.inputMode = 2;
    b.keys = {"0102030405A6", "", "FFEEDDCCBBAA", "", "00000000001F"};
    form.config->showPages(b);
    b = form.config->pages();
    Rows bRows(650);
    for (int i = 0; i < 620; ++i) {
        if (i % 31 != 30) {
            bRows[static_cast<std::size_t>(i)] = {std::to_string(9100000000LL + i * 7919),
                                                  i % 4 == 0 ? "" : std::to_string(i + 1)};
        }
    }
    setGrid(form, bRows);

    const QString file = run.dir.filePath(QStringLiteral("объект 7.fcd"));
    FileDialogSeen seen;
    answerFileDialog(file, &seen);
    QTest::mouseClick(ui.RzToolButton2, Qt::LeftButton);
    EXPECT_EQ(seen.objectName, QStringLiteral("SaveDialog"));
    EXPECT_EQ(seen.filter, QStringLiteral("File configuration [*.fcd] (*.fcd)"));
    EXPECT_EQ(seen.fileName, QStringLiteral("*.fcd"));
    const std::string saved = readFileBytes(file);
    ASSERT_FALSE(saved.empty()) << takeErrorBox(form).toStdString() << run.log().toStdString();
    std::size_t textBytes = 0;
    for (const auto& r : bRows) {
        textBytes += r.first.size() + r.second.size();
    }
    ASSERT_EQ(saved.size(), config_file::kEmptyFileSize + textBytes);
    const auto bBlock = Write_conf(b);
    ASSERT_TRUE(bBlock.ok()) << bBlock.message();
    const auto bBytes = bBlock.block->encode();
    EXPECT_EQ(saved.substr(0, 68), std::string(bBytes.begin(), bBytes.end()));
    EXPECT_TRUE(takeErrorBox(form).isEmpty());

    // Configuration C everywhere, a password of its own, and an emptied list.
    ConfigPages c;
    c.Oh_num = "1";
    c.keys = {"AAAAAAAAAA01", "", "", "", ""};
    form.config->showPages(c);
    ui.Password->setText(QStringLiteral("9999"));
    QTest::mouseClick(ui.RzToolButton5, Qt::LeftButton);
    form.numberGrid->setCell(1, 640, "9999999999");
    ASSERT_NE(form.config->pages().Oh_num, b.Oh_num);

    seen = {};
    answerFileDialog(file, &seen);
    ui.N3->trigger();
    EXPECT_EQ(seen.objectName, QStringLiteral("OpenDialog"));
    EXPECT_EQ(seen.filter, QStringLiteral("File configuration [*.fcd] (*.fcd)"));
    EXPECT_EQ(seen.fileName, QStringLiteral("*.fcd"));
    EXPECT_EQ(ui.Password->text(), QStringLiteral("9999")); // the open leaves it alone
    ConfigPages shown = form.config->pages();
    shown.Password = b.Password;
    EXPECT_EQ(describe(shown), describe(b));
    EXPECT_EQ(gridRows(form), bRows);
    EXPECT_TRUE(takeErrorBox(form).isEmpty());

    // Written to the device, which then holds exactly what the file held.
    ui.Password->setText(QStringLiteral("1234"));
    QTest::mouseClick(ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(hurryQuietTime(form, [&] {
        return run.log().contains(QString::fromUtf8("Запись номеров завершена"));
    })) << run.log().right(400).toStdString();
    const DeviceState device = deviceState(run);
    EXPECT_EQ(device.blockHex, hexOf(saved.substr(0, 68)));
    Rows expected = entriesOf(bRows);
    for (auto& r : expected) {
        if (r.second.empty()) {
            r.second = "0"; // the device keeps an empty apartment as 0
        }
    }
    EXPECT_EQ(device.entries, expected);
}

TEST(ConfigFilesWindow, RefusalsSayWhyAndChangeNothing) {
    WindowRun run;
    run.openWindow();
    TForm1& form = *run.form;
    TForm1Ui& ui = form.ui;
    Rows rows(650);
    rows[0] = {"9161111111", "1"};
    rows[2] = {"9163333333", ""};
    setGrid(form, rows);
    const ConfigPages pages = form.config->pages();

    const QString file = run.dir.filePath(QStringLiteral("a.fcd"));
    answerFileDialog(file);
    ui.N8->trigger();
    const std::string good = readFileBytes(file);
    ASSERT_EQ(good.size(), 9649u + 21);

    // A file gone between the dialog and the open, and a CSV file, offered
    // as configuration files. (A folder typed into the dialog opens the
    // folder; the reader's refusal of folders is tested on its own.)
    answerFileDialog(run.dir.filePath(QStringLiteral("gone.fcd")));
    QTest::mouseClick(ui.RzToolButton1, Qt::LeftButton);
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Не удается открыть файл\n")));
    EXPECT_TRUE(takeErrorBox(form).contains(QString::fromUtf8("не найдены")));
    const QString csv = run.dir.filePath(QStringLiteral("list.csv"));
    writeFile(csv, std::string(200, '1') + ";9160000000\r\n");
    answerFileDialog(csv);
    ui.N3->trigger();
    EXPECT_TRUE(takeErrorBox(form).contains(QString::fromUtf8("не является файлом конфигурации")));
    EXPECT_EQ(form.config->pages(), pages);
    EXPECT_EQ(gridRows(form), rows);

    // Another configuration with 650 numbers, cut short at 5000 bytes in the
    // middle of row 187: refused whole, naming the last whole row.
    ConfigBlock other;
    other.deviceNumber = 77;
    other.relayMode = 3;
    const std::string whole = config_file::encode(other.encode(), fullNumberList()).bytes;
    ASSERT_TRUE(whole.substr(0, 5000).ends_with("\r\nN187=91610"));
    const QString cut = run.dir.filePath(QStringLiteral("cut.fcd"));
    writeFile(cut, whole.substr(0, 5000));
    answerFileDialog(cut);
    QTest::mouseClick(ui.RzToolButton1, Qt::LeftButton);
    EXPECT_EQ(takeErrorBox(form),
              QString::fromUtf8("Файл «") + cut +
                  QString::fromUtf8("» неполный: обрывается после строки 186 из 650 списка "
                                    "номеров. Настройки и список номеров не изменены."));
    EXPECT_EQ(form.config->pages(), pages);
    EXPECT_EQ(gridRows(form), rows);
    // The same file whole opens.
    const QString wholePath = run.dir.filePath(QStringLiteral("whole.fcd"));
    writeFile(wholePath, whole);
    answerFileDialog(wholePath);
    ui.N3->trigger();
    EXPECT_TRUE(takeErrorBox(form).isEmpty());
    EXPECT_EQ(form.config->configBlock.deviceNumber, 77u);
    EXPECT_EQ(form.numberGrid->cell(1, 650), "9161008450");
    setGrid(form, rows);
    form.config->showPages(pages);
    ASSERT_EQ(form.config->pages(), pages);

    // Saves that cannot be made leave the old file as it was.
    ui.OUT_TOUT->setText(QString()); // does not convert to a number
    answerFileDialog(file);
    ui.N8->trigger();
    EXPECT_TRUE(takeErrorBox(form).contains(QString::fromUtf8("Файл не сохранён")));
    ui.OUT_TOUT->setText(QStringLiteral("0"));
    form.numberGrid->setCell(2, 12, "кв 5 ✓");
    answerFileDialog(file);
    QTest::mouseClick(ui.RzToolButton2, Qt::LeftButton);
    EXPECT_TRUE(takeErrorBox(form).contains(QString::fromUtf8("Строка 12")));
    form.numberGrid->setCell(2, 12, "");
    answerFileDialog(QString()); // cancelled
    ui.N8->trigger();
    EXPECT_EQ(readFileBytes(file), good);
    ReadOnlyDir ro;
    if (ro.effective()) {
        const QString logBefore = run.log();
        answerFileDialog(QString::fromStdString(ro.path() + "/b.fcd"));
        ui.N8->trigger();
        EXPECT_TRUE(run.log()
                        .mid(logBefore.size())
                        .contains(QString::fromUtf8("Не удается сохранить файл\n")));
        EXPECT_FALSE(takeErrorBox(form).isEmpty());
        EXPECT_TRUE(QDir(QString::fromStdString(ro.path()))
                        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                        .isEmpty());
    }

    // CSV import: the shared open dialog with the CSV presets; a caption
    // line stops it with the conversion message, a good file fills from the
    // first empty row (row 2) on and says what it did.
    writeFile(csv, "Kv;Phone\r\n1;9160000000\r\n");
    FileDialogSeen seen;
    answerFileDialog(csv, &seen);
    QTest::mouseClick(ui.RzToolButton7, Qt::LeftButton);
    EXPECT_EQ(seen.objectName, QStringLiteral("OpenDialog"));
    EXPECT_EQ(seen.filter, QStringLiteral("CSV file [*.csv] (*.csv)"));
    EXPECT_EQ(seen.fileName, QStringLiteral("*.csv"));
    EXPECT_TRUE(takeErrorBox(form).contains(QString::fromUtf8("«Kv» не является целым числом")));
    EXPECT_EQ(gridRows(form), rows);
    writeFile(csv, "7;9167777777\r\n;916777\r\n;9168888888");
    answerFileDialog(csv);
    QTest::mouseClick(ui.RzToolButton7, Qt::LeftButton);
    EXPECT_TRUE(run.log().endsWith(
        QString::fromUtf8("Импорт из CSV: импортировано номеров: 2 (со строки 2), пропущено "
                          "строк короче 8 символов: 1")))
        << run.log().right(200).toStdString();
    rows[1] = {"9167777777", "7"};
    rows[2] = {"9168888888", "7"};
    EXPECT_EQ(gridRows(form), rows);
    answerFileDialog(run.dir.filePath(QStringLiteral("gone.csv")));
    QTest::mouseClick(ui.RzToolButton7, Qt::LeftButton);
    EXPECT_TRUE(takeErrorBox(form).contains(QString::fromUtf8("Не удается открыть файл")));

    // Export from the menu, then import into an emptied list: the same rows.
    const QString exported = run.dir.filePath(QStringLiteral("out"));
    seen = {};
    answerFileDialog(exported, &seen);
    ui.N10->trigger();
    EXPECT_EQ(seen.filter, QStringLiteral("CSV file [*.csv] (*.csv)"));
    EXPECT_EQ(readFileBytes(exported), "1;9161111111\r\n7;9167777777\r\n7;9168888888\r\n");
    EXPECT_TRUE(takeErrorBox(form).isEmpty());
    QTest::mouseClick(ui.RzToolButton5, Qt::LeftButton);
    answerFileDialog(exported);
    QTest::mouseClick(ui.RzToolButton7, Qt::LeftButton);
    EXPECT_EQ(gridRows(form), rows);

    // A UTF-8 file without its mark: a box that says so, and not a row written.
    writeFile(csv, "12;Иванов 12345\r\n13;9161234567\r\n");
    answerFileDialog(csv);
    QTest::mouseClick(ui.RzToolButton7, Qt::LeftButton);
    const QString box = takeErrorBox(form);
    EXPECT_TRUE(box.startsWith(
        QString::fromUtf8("Файл CSV, похоже, в кодировке UTF-8 (строка 1: «12;Иванов 12345»)")))
        << box.toStdString();
    EXPECT_EQ(gridRows(form), rows);
    // With its mark it is read as UTF-8, and the verdict names what is no number.
    writeFile(csv, "\xEF\xBB\xBF"
                   "12;Иванов 12345\r\n;ABCDEFGHIJ\r\n13;9161234567\r\n");
    answerFileDialog(csv);
    QTest::mouseClick(ui.RzToolButton7, Qt::LeftButton);
    EXPECT_TRUE(takeErrorBox(form).isEmpty());
    EXPECT_TRUE(run.log().endsWith(QString::fromUtf8(
        "Импорт из CSV: импортировано номеров: 3 (со строки 4), пропущено строк короче 8 "
        "символов: 0; из них не похожи на номер телефона (не 8–11 цифр, «+» в начале можно): 2, "
        "первый — в строке 1 «Иванов 12345»")))
        << run.log().right(300).toStdString();
    rows[3] = {"Иванов 12345", "12"};
    rows[4] = {"ABCDEFGHIJ", "12"};
    rows[5] = {"9161234567", "13"};
    EXPECT_EQ(gridRows(form), rows);
}
