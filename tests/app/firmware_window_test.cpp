// The firmware update through the real window against the simulator: restart
// into the bootloader, open an image, program it (with frames the bootloader
// refuses), and the ways an exchange ends early: a bootloader that hangs, a
// page change, closing the window.
#include "tests/support/window_run.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>

namespace {

const QString kWaiting = QString::fromUtf8("Ожидается соединение с загрузчиком...");

std::string body(std::size_t size) {
    std::string b;
    for (std::size_t i = 0; i < size; ++i) {
        b.push_back(static_cast<char>(i * 7 + 3));
    }
    return b;
}

QString writeFile(const QTemporaryDir& dir, const char* name, const std::string& bytes) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
}

// The texts of the message boxes the window shows now; closes them.
QStringList takeMessages(TForm1& form) {
    QStringList texts;
    for (QMessageBox* box : form.findChildren<QMessageBox*>()) {
        if (box->isVisible()) {
            texts << box->text();
            box->close();
        }
    }
    QCoreApplication::processEvents();
    return texts;
}

// Answers the next question box (one with "Yes") with `button`.
void answerQuestion(QMessageBox::StandardButton button, QString* asked) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, button, asked] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->button(QMessageBox::Yes) == nullptr) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        *asked = box->text();
        box->button(button)->click();
    });
    timer->start();
}

// On the firmware page: "Перезагрузить" until the bootloader has identified itself.
void restartIntoBootloader(WindowRun& run, const char* version) {
    QTest::mouseClick(run.form->ui.Reset_but, Qt::LeftButton);
    ASSERT_TRUE(run.waitPanel(QString::fromUtf8("Coeдинение установлено: Загрузчик v.") +
                              QString::fromLatin1(version)))
        << run.panel(2).toStdString();
    EXPECT_TRUE(run.form->ui.Open_FW->isEnabled());
}

void openImage(WindowRun& run, const QString& path) {
    answerFileDialog(path);
    QTest::mouseClick(run.form->ui.Open_FW, Qt::LeftButton);
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out.push_back(digits[static_cast<unsigned char>(c) >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

class FirmwareWindowFlow : public BothExchanges {};
INSTANTIATE_TEST_SUITE_P(Exchange, FirmwareWindowFlow, ::testing::Bool(), exchangeName);

} // namespace

TEST_P(FirmwareWindowFlow, RestartOpenProgramAndTheDeviceHoldsTheImage) {
    WindowRun run;
    run.fast = GetParam();
    run.startLinked({"--reject-frames", "3", "--loader-version", "4"});
    TForm1Ui& ui = run.form->ui;
    run.clickTree(3);
    EXPECT_EQ(run.panel(2), kWaiting);
    EXPECT_FALSE(ui.Open_FW->isEnabled());
    EXPECT_FALSE(ui.Program->isEnabled());
    restartIntoBootloader(run, "4");

    // A file that is no image is refused and changes nothing.
    openImage(run, writeFile(run.dir, "other.bin", "MZ" + body(300)));
    EXPECT_EQ(takeMessages(*run.form),
              QStringList{QString::fromUtf8("Некорректный файл прошивки")});
    EXPECT_FALSE(ui.Program->isEnabled());
    EXPECT_TRUE(ui.Firmware_file->text().isEmpty());

    // 1000 body bytes: eight blocks, the last one 104 bytes and padding.
    const std::string image = body(1000);
    const QString path = writeFile(run.dir, "fw.bin", "VXRT\x09" + image);
    FileDialogSeen seen;
    answerFileDialog(path, &seen);
    QTest::mouseClick(ui.Open_FW, Qt::LeftButton);
    EXPECT_EQ(seen.filter, QStringLiteral("Binary files [*.bin] (*.bin)"));
    EXPECT_EQ(seen.fileName, QStringLiteral("*.bin"));
    EXPECT_EQ(ui.Firmware_file->text(), path);
    EXPECT_EQ(ui.FW_ver->text(), QString::fromUtf8("Версия: 9"));
    ASSERT_TRUE(ui.Program->isEnabled());

    QTest::mouseClick(ui.Program, Qt::LeftButton);
    EXPECT_FALSE(ui.Program->isEnabled());
    EXPECT_FALSE(ui.Open_FW->isEnabled());
    ASSERT_TRUE(run.waitLog("Программирование завершено", 20000)) << run.log().toStdString();
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Идет программирование. Ждите...")));
    EXPECT_EQ(ui.FW_load->value(), 1000);
    EXPECT_EQ(run.form->currentPage(), 0);
    EXPECT_EQ(ui.TreeView->currentItem(), ui.TreeView->topLevelItem(0));
    EXPECT_EQ(ui.FW_ver->text(), QString::fromUtf8("Версия:"));
    EXPECT_TRUE(ui.Firmware_file->text().isEmpty());
    EXPECT_EQ(takeMessages(*run.form),
              QStringList{QString::fromUtf8("Программирование завершено")});

    // The new firmware greets again, and the device holds exactly the body
    // and 0xFF up to the end of its last block.
    ASSERT_TRUE(run.waitPanel(kLinkedText)) << run.panel(2).toStdString();
    // On the line: block 0 four times (three refused), blocks 1 to 7, the end marker.
    std::string frames;
    for (std::size_t n : {0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7}) {
        std::string data = image.substr(n * 128, 128);
        data.resize(128, '\xFF');
        unsigned sum = 0;
        for (const char c : data) {
            sum += static_cast<unsigned char>(c);
        }
        frames += std::string{'\0', static_cast<char>(n)} + data + static_cast<char>(sum & 0xFF);
    }
    const std::string trace = readFileBytes(run.trace);
    EXPECT_EQ(countOf(trace, "!RST"), 1);
    EXPECT_NE(trace.find(frames + "\xFF\xFF"), std::string::npos);
    EXPECT_EQ(run.dumpValue("image"), hex(image + std::string(24, '\xFF')));
}

TEST_P(FirmwareWindowFlow, HungBootloaderPageChangeAndClosingEndTheExchange) {
    WindowRun run;
    run.fast = GetParam();
    run.startLinked({"--mute-loader-at", "3"});
    TForm1Ui& ui = run.form->ui;
    const QString path = writeFile(run.dir, "fw.bin", "VXRT\x01" + body(15360));
    run.clickTree(3);
    restartIntoBootloader(run, "2");
    openImage(run, path);
    QTest::mouseClick(ui.Program, Qt::LeftButton);

    // The third frame hangs the bootloader: 2 s later the page is reset and
    // waits for the bootloader again.
    ASSERT_TRUE(run.waitLog("Потеряна связь (нет ответа)!", 10000));
    EXPECT_EQ(takeMessages(*run.form),
              QStringList{QString::fromUtf8("Потеряна связь (нет ответа)!")});
    EXPECT_EQ(run.panel(2), kWaiting);
    EXPECT_FALSE(ui.Program->isEnabled());
    EXPECT_FALSE(ui.Open_FW->isEnabled());
    EXPECT_TRUE(ui.Firmware_file->text().isEmpty());
    EXPECT_EQ(ui.FW_load->value(), 0);

    // A restart revives it. Closing the window while programming asks first;
    // "No" keeps programming, another page then ends it.
    restartIntoBootloader(run, "2");
    openImage(run, path);
    QTest::mouseClick(ui.Program, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui.FW_load->value() >= 17; }, 5000)); // 2 blocks
    QString asked;
    answerQuestion(QMessageBox::No, &asked);
    run.form->close();
    EXPECT_EQ(asked, QString::fromUtf8("Идет запись в прибор. Прервать?"));
    EXPECT_TRUE(run.form->isVisible());
    const int before = ui.FW_load->value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui.FW_load->value() > before; }, 5000));
    run.clickTree(1);
    EXPECT_EQ(takeMessages(*run.form),
              QStringList{QString::fromUtf8("Программирование прервано: выбрана другая страница")});
    std::size_t sent = readFileBytes(run.trace).size();
    QTest::qWait(300);
    EXPECT_EQ(readFileBytes(run.trace).size(), sent) << "nothing more is sent";

    // Back on the page, a restart and another run; "Yes" closes mid-way.
    run.clickTree(3);
    restartIntoBootloader(run, "2");
    openImage(run, path);
    QTest::mouseClick(ui.Program, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui.FW_load->value() >= 17; }, 5000));
    answerQuestion(QMessageBox::Yes, &asked);
    run.form->close();
    EXPECT_FALSE(run.form->isVisible());
    // The log says the run was cut and what the device holds: the blocks it
    // took, the one still waiting for its answer, and that it stays in its
    // bootloader.
    const QString log = run.log();
    EXPECT_TRUE(log.contains(QString::fromUtf8("Программирование прервано: программа закрыта")));
    const QRegularExpression holds(QString::fromUtf8(
        "Запись в прибор прервана: в прибор записано (\\d+) из 120 блоков прошивки, еще 1 "
        "отправлен без подтверждения; прибор остается в загрузчике, прошивку нужно записать "
        "заново$"));
    const QRegularExpressionMatch match = holds.match(log);
    ASSERT_TRUE(match.hasMatch()) << log.toStdString();
    EXPECT_GE(match.captured(1).toInt(), 2);
    sent = readFileBytes(run.trace).size();
    QTest::qWait(300);
    EXPECT_EQ(readFileBytes(run.trace).size(), sent);
}

// An Internet session over and done with says nothing about the serial port:
// after a device linked through the server, and the server stopped by going
// back to the serial port, the bootloader there is programmed as ever.
TEST(FirmwareWindow, SerialUpdateAfterAnInternetSessionIsNotRefused) {
    WindowRun run;
    run.startSim({"--loader-version", "4"});
    run.openWindow();
    TForm1Ui& ui = run.form->ui;
    ui.Port_Box->showPopup();
    ui.Port_Box->hidePopup();
    ui.Port_Box->setCurrentIndex(ui.Port_Box->count() - 1);
    ui.Edit2->setText(QStringLiteral("0"));
    QTest::mouseClick(ui.Start_server, Qt::LeftButton);
    const quint16 port = run.form->ServerSocket1->listeningPort();
    ASSERT_NE(port, 0);
    SimProcess gprs({"--tcp", "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(gprs.ok()) << gprs.error();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return run.form->session->link().state.remoteConnected &&
                   !run.form->session->link().state.directDevice;
        },
        5000));

    // Back to the serial port, and straight to the firmware page: the device
    // there is restarted into its bootloader before it has greeted.
    ui.Port_Box->setEditText(run.link);
    ASSERT_FALSE(run.form->ServerSocket1->isListening());
    run.clickTree(3);
    restartIntoBootloader(run, "4");
    const std::string image = body(300);
    openImage(run, writeFile(run.dir, "fw.bin", "VXRT\x05" + image));
    ASSERT_TRUE(ui.Program->isEnabled());
    QTest::mouseClick(ui.Program, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Программирование завершено", 20000)) << run.log().toStdString();
    EXPECT_FALSE(run.log().contains(QString::fromUtf8("через Интернет невозможно")));
    EXPECT_EQ(takeMessages(*run.form),
              QStringList{QString::fromUtf8("Программирование завершено")});
    EXPECT_EQ(run.dumpValue("image"), hex(image + std::string(84, '\xFF')));
}
