// Reading and writing the configuration, the password and the access point
// through the real window against the simulator on a pseudo-terminal.
#include "app/config_pages.h"
#include "config/config_block.h"
#include "tests/support/window_run.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

std::string hexOf(const ConfigBlock::Bytes& bytes) {
    std::string out;
    char two[3];
    for (const auto b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// A block as a device in use might hold it.
ConfigBlock deviceBlock() {
    ConfigBlock b;
    b.password = 1234;
    b.options = 0x01 | 0x04 | 0x08 | 0x80; // any number, ring answer, security, relay report
    b.relayMode = 1;
    b.pulseMs = 7000;
    b.pauseMs = 200;
    b.repetitions = 3;
    b.disarmTime = 30;
    b.armTime = 40;
    b.rearmTime = 7;
    b.inputMode = 1;
    const std::string owner = "9001234567";
    std::copy(owner.begin(), owner.end(), b.ownerNumber.begin());
    b.keys[0] = {0xA6, 0x05, 0x04, 0x03, 0x02, 0x01};
    b.deviceNumber = 42;
    b.relayOptions = 0x01;
    b.relayTimeout = 15;
    const std::string country = "+375";
    std::copy(country.begin(), country.end(), b.countryCode.begin());
    return b;
}

// The flows that run with the quiet time and with the fast exchange.
class ConfigWindowFlow : public BothExchanges {};
INSTANTIATE_TEST_SUITE_P(Exchange, ConfigWindowFlow, ::testing::Bool(), exchangeName);

} // namespace

TEST_P(ConfigWindowFlow, ReadShowsTheDeviceConfigurationInThePages) {
    WindowRun run;
    run.fast = GetParam();
    const QString blockFile = run.dir.filePath(QStringLiteral("block"));
    {
        QFile f(blockFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString("block=" + hexOf(deviceBlock().encode()) + "\n"));
    }
    run.startLinked({"--config", blockFile.toStdString()});
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана")) << run.log().toStdString();
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Идет чтение конфигурации. Ждите...")));
    // CONFR with the password 1234 as its two bytes, low first.
    EXPECT_NE(readFileBytes(run.trace).find(std::string("CONFR\xD2\x04", 7)), std::string::npos);

    const TForm1Ui& ui = run.form->ui;
    EXPECT_EQ(ui.Oh_num->text(), QStringLiteral("9001234567"));
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("+375"));
    EXPECT_EQ(ui.Num_dev->text(), QStringLiteral("42"));
    EXPECT_EQ(ui.OUT_TOUT->text(), QStringLiteral("15"));
    EXPECT_EQ(ui.T_in->text(), QStringLiteral("30"));
    EXPECT_EQ(ui.T_out->text(), QStringLiteral("40"));
    EXPECT_EQ(ui.T_mem->text(), QStringLiteral("7"));
    EXPECT_EQ(ui.RELE_REJ->currentIndex(), 1);
    EXPECT_EQ(ui.povtor->text(), QStringLiteral("3"));
    EXPECT_TRUE(ui.All_num_ch->isChecked());
    EXPECT_FALSE(ui.SMS_ch->isChecked());
    EXPECT_TRUE(ui.RING_ch->isChecked());
    EXPECT_TRUE(ui.Ohrana_en->isChecked());
    EXPECT_TRUE(ui.Mes_rele->isChecked());
    EXPECT_FALSE(ui.Mes_in->isChecked());
    EXPECT_TRUE(ui.SendToRing->isChecked());
    EXPECT_FALSE(ui.KEYNUMBUT->isChecked());
    EXPECT_TRUE(ui.rej_but2->isChecked());
    EXPECT_EQ(ui.iButton->item(0, 0)->text(), QStringLiteral("0102030405A6"));
    // What the pages show is the block the device sent.
    EXPECT_EQ(run.form->config->configBlock.encode(), deviceBlock().encode());
}

TEST_P(ConfigWindowFlow, WriteSendsExactlyWhatThePagesShow) {
    WindowRun run;
    run.fast = GetParam();
    run.startLinked();
    TForm1Ui& ui = run.form->ui;
    // The settings page, the security page and the user page.
    ui.Oh_num->setText(QStringLiteral("9161112233"));
    ui.Edit3->setText(QStringLiteral("+7"));
    ui.SMS_ch->setChecked(true);
    ui.RELE_REJ->setCurrentIndex(2);
    ui.T_out->setText(QStringLiteral("60"));
    ui.rej_but3->setChecked(true);
    ui.iButton->item(2, 0)->setText(QStringLiteral("00000ABCDEF1"));
    ui.Input_inv->setChecked(true);

    QTest::mouseClick(ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация записана")) << run.log().toStdString();
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Идет запись конфигурации. Ждите...")));
    EXPECT_EQ(run.form->session->link().state.quietTicks, 5);

    const WriteConfResult shown = Write_conf(run.form->config->pages());
    ASSERT_TRUE(shown.ok()) << shown.message();
    const ConfigBlock sent = *shown.block;
    EXPECT_EQ(sent.armTime, 60);
    EXPECT_EQ(sent.relayMode, 2);
    EXPECT_EQ(sent.inputMode, 2);
    EXPECT_EQ(sent.password, 1234);
    EXPECT_EQ(lower(run.dumpValue("block")), hexOf(sent.encode()));
}

TEST(ConfigWindow, AWriteRefusedByTheGuardsSendsNothing) {
    WindowRun run;
    run.startLinked();
    run.form->ui.iButton->item(0, 0)->setText(QStringLiteral("0102")); // a key cut short
    const std::string before = readFileBytes(run.trace);
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    QTest::qWait(300);
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Конфигурация не записана")))
        << run.log().toStdString();
    EXPECT_EQ(readFileBytes(run.trace), before);
    EXPECT_EQ(run.form->session->link().state.replyTimer, 0u);
}

// "Not corr" has no line end: with the fast exchange too it is reported
// after the quiet time, pieces and all.
TEST_P(ConfigWindowFlow, WrongPasswordIsReported) {
    WindowRun run;
    run.fast = GetParam();
    run.startLinked();
    run.form->ui.Password->setText(QStringLiteral("4321"));
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    EXPECT_TRUE(run.waitLog("Пароль не верный")) << run.log().toStdString();
    EXPECT_EQ(run.form->session->link().state.replyTimer, 0u);
    EXPECT_FALSE(run.log().contains(QString::fromUtf8("Конфигурация считана")));
}

TEST_P(ConfigWindowFlow, DeviceThatNeverAnswersIsLostAfterTheWatchdog) {
    WindowRun run;
    run.fast = GetParam();
    run.startLinked({"--mute-from", "CONFR:1"});
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    EXPECT_EQ(run.form->session->link().state.replyTimer, 1u);
    // The 20 ms ticks, driven here rather than waited for.
    for (int i = 0; i < 1000 && run.form->session->link().state.replyTimer != 0; ++i) {
        run.form->session->tick20ms();
    }
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Потеряна связь (нет ответа)!")));
    EXPECT_FALSE(run.form->session->link().state.remoteConnected);
    EXPECT_FALSE(run.form->ui.Disconnect->isEnabled());
    // Commands are refused until Connect links again.
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    EXPECT_TRUE(run.log().endsWith(QString::fromUtf8("Установите соединение")));
}

TEST(ConfigWindow, PasswordAndAccessPointChanges) {
    WindowRun run;
    run.startLinked();
    TForm1Ui& ui = run.form->ui;
    ui.New_pass->setText(QStringLiteral("5678"));
    QTest::mouseClick(ui.ChPass, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Пароль изменен")) << run.log().toStdString();
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Идет смена пароля. Ждите...")));

    ui.Password->setText(QStringLiteral("5678"));
    ui.Dev_prov->setCurrentIndex(1); // МТС
    QTest::mouseClick(ui.Send_APN, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("APN сменен")) << run.log().toStdString();
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("Идет смена APN. Ждите...")));
    EXPECT_NE(readFileBytes(run.trace).find("CHPASS 1234 5678\r"), std::string::npos);
    EXPECT_EQ(run.dumpValue("password"), "5678");
    EXPECT_FALSE(run.form->config->deviceApn().empty());
    // Three quoted fields: the name, the user and the password of МТС.
    EXPECT_EQ(run.dumpValue("apn"), run.form->config->deviceApn());
    EXPECT_EQ(run.form->config->deviceApn(), "internet.mts.ru\",\"mts\",\"mts");
}

TEST(ConfigWindow, ZeroTimesReadFromTheDeviceAreWrittenBackAndABadPasswordStartsNothing) {
    WindowRun run;
    const QString blockFile = run.dir.filePath(QStringLiteral("block"));
    ConfigBlock held = deviceBlock();
    held.disarmTime = 0;
    held.armTime = 0;
    held.rearmTime = 0;
    {
        QFile f(blockFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString("block=" + hexOf(held.encode()) + "\n"));
    }
    run.startLinked({"--config", blockFile.toStdString()});
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана")) << run.log().toStdString();
    EXPECT_EQ(run.form->ui.T_in->text(), QStringLiteral("0"));
    EXPECT_EQ(run.form->ui.T_mem->text(), QStringLiteral("0"));
    ASSERT_TRUE(run.waitLog("Чтение номеров завершено")) << run.log().toStdString();

    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация записана")) << run.log().toStdString();
    EXPECT_EQ(lower(run.dumpValue("block")).substr(26, 6), "000000"); // bytes 13, 14, 15

    // A password that is not a number starts no read.
    run.form->ui.Password->setText(QStringLiteral("12a"));
    run.form->ui.Log->clear();
    run.form->ui.RzToolButton3->click();
    EXPECT_TRUE(run.log().contains(
        QString::fromUtf8("Чтение конфигурации не начато: неверный пароль \"12a\"")))
        << run.log().toStdString();
}
