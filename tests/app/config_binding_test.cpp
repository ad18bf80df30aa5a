// The configuration's window side on real widgets (offscreen): the pages
// built into the 68-byte record, a record shown on the pages, the guards of
// the edit boxes and the relay preview chart.
#include "app/config_binding.h"
#include "app/tform1_ui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

class ConfigBindingTest : public ::testing::Test {
  protected:
    ConfigBindingTest() {
        ui.setupUi(&window);
        binding = std::make_unique<ConfigBinding>(ui);
        binding->setErrorSink([this](const QString& text) { errors << text; });
        binding->setNoticeSink([this](const QString& text) { notices << text; });
    }

    QList<QPointF> chartPoints() const { return ui.Chart->points(); }

    // Replaces an edit's text the way a user does: select all and type over
    // it (deleting first would put the guards' "1" in the box).
    static void retype(QLineEdit* edit, const char* text) {
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(text));
    }

    QMainWindow window;
    TForm1Ui ui;
    std::unique_ptr<ConfigBinding> binding;
    QStringList errors;
    QStringList notices;
};

TEST_F(ConfigBindingTest, StartUpShowsTheDefaultTimingAndDrawsIt) {
    binding->startUp();
    EXPECT_EQ(ui.act_time->text(), "5000");
    EXPECT_EQ(ui.act_mul->currentIndex(), 0);
    EXPECT_EQ(ui.pause_time->text(), "50");
    EXPECT_EQ(ui.pause_mul->currentIndex(), 0);
    EXPECT_EQ(ui.povtor->text(), "1");
    EXPECT_EQ(binding->configBlock.relayMode, 3);
    EXPECT_EQ(binding->configBlock.pulseMs, 5000u);
    EXPECT_EQ(binding->configBlock.pauseMs, 50u);
    EXPECT_EQ(binding->configBlock.repetitions, 1);
    EXPECT_EQ(chartPoints(), (QList<QPointF>{{0, 1}, {5000, 1}, {5000, 0}, {5050, 0}}));

    // The chart spans the whole train across, on its fixed vertical range.
    EXPECT_EQ(binding->chart().view(), ui.Chart);
    EXPECT_EQ(ui.Chart->minY(), -0.5);
    EXPECT_EQ(ui.Chart->maxY(), 1.5);
    EXPECT_EQ(ui.Chart->minX(), 0);
    EXPECT_EQ(ui.Chart->maxX(), 5050);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(notices.isEmpty());
}

TEST_F(ConfigBindingTest, ThreePagesMakeExactlyTheExpectedRecord) {
    binding->startUp();
    // Page "Редактирование".
    retype(ui.Password, "4321");
    // Page "Настройки".
    ui.All_num_ch->setChecked(true);
    ui.Mes_rele->setChecked(true);
    ui.SendToRing->setChecked(true);
    retype(ui.Oh_num, "9161234567");
    retype(ui.Num_dev, "300");
    retype(ui.Edit3, "+375");
    retype(ui.OUT_TOUT, "15");
    ui.RELE_REJ->setCurrentIndex(1);
    retype(ui.act_time, "2");
    ui.act_mul->setCurrentIndex(1);
    retype(ui.pause_time, "500");
    retype(ui.povtor, "3");
    // Page "Охрана".
    ui.Ohrana_en->setChecked(true);
    retype(ui.T_in, "30");
    retype(ui.T_out, "40");
    retype(ui.T_mem, "7");
    ui.iButton->item(0, 0)->setText(u("0102030405A6"));
    ui.rej_but2->setChecked(true);

    QString error;
    ASSERT_TRUE(binding->Write_conf(&error)) << error.toStdString();
    const ConfigBlock::Bytes expected{
        0xE1, 0x10,             // password 4321
        0x89,                   // All_num_ch, Ohrana_en, Mes_rele
        1,                      // relay mode "Включить"
        0xD0, 0x07, 0x00, 0x00, // pulse 2 s
        0xF4, 0x01, 0x00, 0x00, // pause 500 ms
        3,    30,   40,   7,    // repetitions, guard times
        1,                      // rej_but2
        '9',  '1',  '6',  '1',  '2', '3', '4', '5', '6', '7', 0, 0xA6, 0x05,
        0x04, 0x03, 0x02, 0x01, // key 1
        0,    0,    0,    0,    0,   0,   0,   0,   0,   0,   0, 0,    0,
        0,    0,    0,    0,    0,   0,   0,   0,   0,   0,   0, 0x2C, 0x01, // device number 300
        0x01,                                                                // SendToRing
        15,                                                                  // relay time-out
        '+',  '3',  '7',  '5',  0,   0};
    EXPECT_EQ(binding->configBlock.encode(), expected);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(ConfigBindingTest, ReadConfShowsAHandBuiltRecord) {
    binding->startUp();
    ConfigBlock::Bytes b{};
    b[0] = 0x39; // a password the window must not show
    b[1] = 0x30;
    b[2] = 0x06; // SMS_ch, RING_ch
    b[3] = 2;    // "Инвертировать"
    b[4] = 0x39; // pulse 12 345 ms
    b[5] = 0x30;
    b[8] = 0xC0; // pause 2 minutes = 120 000 ms = 0x1D4C0
    b[9] = 0xD4;
    b[10] = 0x01;
    b[12] = 2;
    b[13] = 10;
    b[14] = 0;
    b[15] = 200;
    b[16] = 2;
    b[17] = '8';
    b[18] = '9';
    b[46] = 0x0F; // key 4: 0F EE DD CC BB AA
    b[47] = 0xAA;
    b[48] = 0xBB;
    b[49] = 0xCC;
    b[50] = 0xDD;
    b[51] = 0xEE;
    b[58] = 0x31; // device number 54321: five digits in a four-digit box
    b[59] = 0xD4;
    b[60] = 0x03;
    b[61] = 99;
    b[62] = '+';
    b[63] = '1';
    binding->configBlock = ConfigBlock::decode(b);
    ui.iButton->item(1, 0)->setText(u("111111111111"));

    binding->Read_conf();
    EXPECT_EQ(ui.Password->text(), "1234");
    EXPECT_FALSE(ui.All_num_ch->isChecked());
    EXPECT_TRUE(ui.SMS_ch->isChecked());
    EXPECT_TRUE(ui.RING_ch->isChecked());
    EXPECT_EQ(ui.RELE_REJ->currentIndex(), 2);
    EXPECT_EQ(ui.act_time->text(), "12");
    EXPECT_EQ(ui.act_mul->currentIndex(), 1);
    EXPECT_EQ(ui.pause_time->text(), "120");
    EXPECT_EQ(ui.pause_mul->currentIndex(), 1);
    EXPECT_EQ(ui.povtor->text(), "2");
    EXPECT_EQ(ui.T_in->text(), "10");
    EXPECT_EQ(ui.T_out->text(), "0");
    EXPECT_EQ(ui.T_mem->text(), "200");
    EXPECT_TRUE(ui.rej_but3->isChecked());
    EXPECT_FALSE(ui.rej_but4->isChecked());
    EXPECT_EQ(ui.Oh_num->text(), "89");
    EXPECT_EQ(ui.iButton->item(0, 0)->text(), "");
    EXPECT_EQ(ui.iButton->item(1, 0)->text(), "");
    EXPECT_EQ(ui.iButton->item(3, 0)->text(), "EEDDCCBBAA0F");
    EXPECT_EQ(ui.Num_dev->text(), "54321");
    EXPECT_TRUE(ui.SendToRing->isChecked());
    EXPECT_TRUE(ui.KEYNUMBUT->isChecked());
    EXPECT_EQ(ui.OUT_TOUT->text(), "99");
    EXPECT_EQ(ui.Edit3->text(), "+1");

    // The timing fields now hold what the edits show, and the chart draws it.
    EXPECT_EQ(binding->configBlock.pulseMs, 12'000u);
    EXPECT_EQ(binding->configBlock.pauseMs, 120'000u);
    EXPECT_EQ(chartPoints(), (QList<QPointF>{{0, 1},
                                             {12'000, 1},
                                             {12'000, 0},
                                             {132'000, 0},
                                             {132'000, 1},
                                             {144'000, 1},
                                             {144'000, 0},
                                             {264'000, 0}}));
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices[0], u("Импульс: 12345 мсек не помещается в поле точно и показано как 12 сек "
                            "(12000 мсек)"));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ConfigBindingTest, HoursAreShownInsteadOfOldEdits) {
    binding->startUp();
    binding->configBlock.pulseMs = 7'200'000'00u; // 200 hours
    binding->configBlock.pauseMs = 50;
    binding->configBlock.repetitions = 1;
    binding->Read_conf();
    EXPECT_EQ(ui.act_time->text(), "200");
    EXPECT_EQ(ui.act_mul->currentIndex(), 3);
    EXPECT_EQ(binding->configBlock.pulseMs, 720'000'000u);
    EXPECT_TRUE(notices.isEmpty());
}

TEST_F(ConfigBindingTest, GuardTimesAreKeptWithinRange) {
    ui.T_in->setFocus();
    retype(ui.T_in, "300");
    EXPECT_EQ(ui.T_in->text(), "255");
    ui.T_in->end(false);
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(ui.T_in, Qt::Key_Backspace);
    }
    EXPECT_EQ(ui.T_in->text(), "1");
    // Letters never get in; the digit filter drops them.
    retype(ui.T_mem, "4x2");
    EXPECT_EQ(ui.T_mem->text(), "42");
    // The device number gets "1" back when emptied.
    ui.Num_dev->selectAll();
    QTest::keyClick(ui.Num_dev, Qt::Key_Backspace);
    EXPECT_EQ(ui.Num_dev->text(), "1");
}

TEST_F(ConfigBindingTest, RepetitionsAreCappedAndEmptyTimesRestored) {
    binding->startUp();
    retype(ui.povtor, "300");
    EXPECT_EQ(ui.povtor->text(), "255");
    EXPECT_EQ(binding->configBlock.repetitions, 255);
    EXPECT_EQ(chartPoints().size(), 1020);

    ui.act_time->selectAll();
    QTest::keyClick(ui.act_time, Qt::Key_Backspace);
    EXPECT_EQ(ui.act_time->text(), "1");
    EXPECT_EQ(binding->configBlock.pulseMs, 1u);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ConfigBindingTest, UnitChangeRecomputesTheRecord) {
    binding->startUp();
    ui.pause_mul->setCurrentIndex(1);
    EXPECT_EQ(binding->configBlock.pauseMs, 50'000u);
    EXPECT_EQ(chartPoints().back(), QPointF(55'000, 0));
    retype(ui.act_time, "2");
    ui.act_mul->setCurrentIndex(3);
    EXPECT_EQ(binding->configBlock.pulseMs, 7'200'000u);
}

TEST_F(ConfigBindingTest, RefusedTimingKeepsRecordAndChartAndIsReported) {
    binding->startUp();
    const QList<QPointF> before = chartPoints();
    retype(ui.act_time, "-5");
    EXPECT_EQ(ui.act_time->text(), "-5");
    ASSERT_EQ(errors.size(), 2); // "-" and then "-5"
    EXPECT_EQ(errors[0], u("Импульс: \"-\" не является целым числом"));
    EXPECT_EQ(errors[1], u("Импульс: отрицательная длительность -5 недопустима"));
    EXPECT_EQ(binding->configBlock.pulseMs, 5000u);
    EXPECT_EQ(chartPoints(), before);

    // A write does not send the old pulse while the edit shows another.
    QString error;
    EXPECT_FALSE(binding->Write_conf(&error));
    EXPECT_EQ(error, u("Импульс: отрицательная длительность -5 недопустима"));

    // An hour count beyond the 32-bit field is refused the same way.
    errors.clear();
    retype(ui.act_time, "1194");
    ui.act_mul->setCurrentIndex(3);
    ASSERT_FALSE(errors.isEmpty());
    EXPECT_EQ(errors.back(), u("Импульс: 1194 час — больше наибольшей длительности 4294967295 "
                               "мсек (не более 1193 час)"));
    EXPECT_EQ(binding->configBlock.pulseMs, 1194u); // still the last accepted entry, in мсек
}

TEST_F(ConfigBindingTest, RefusedWriteNamesTheFieldAndKeepsTheRecord) {
    binding->startUp();
    const ConfigBlock::Bytes before = binding->configBlock.encode();
    ui.iButton->item(1, 0)->setText(u("ABC"));
    ui.OUT_TOUT->setText(u("256"));
    QString error;
    EXPECT_FALSE(binding->Write_conf(&error));
    EXPECT_EQ(error, u("Таймаут реле: значение 256 вне допустимого диапазона 0..255\n"
                       "Ключ 2: код ключа должен содержать 12 шестнадцатеричных цифр, введено 3"));
    EXPECT_EQ(binding->configBlock.encode(), before);
}

TEST_F(ConfigBindingTest, WriteThenReadGivesTheSamePages) {
    binding->startUp();
    ui.Mes_in->setChecked(true);
    retype(ui.Oh_num, "1234");
    ui.iButton->item(4, 0)->setText(u("a1b2c3d4e5f6"));
    ui.rej_but1->setChecked(true);
    ASSERT_TRUE(binding->Write_conf(nullptr));
    const ConfigPages written = binding->pages();

    // Disturb the window, then show the record again.
    ui.Mes_in->setChecked(false);
    ui.Oh_num->clear();
    ui.iButton->item(4, 0)->setText(QString());
    ui.rej_but4->setChecked(true);
    binding->Read_conf();
    ConfigPages shown = binding->pages();
    EXPECT_EQ(shown.keys[4], "A1B2C3D4E5F6"); // read back in upper case
    shown.keys[4] = written.keys[4];
    EXPECT_EQ(shown, written);
}

TEST(ConfigBindingDefaults, ErrorsInOneMessageBoxNoticesInTheLog) {
    QMainWindow window;
    TForm1Ui ui;
    ui.setupUi(&window);
    ConfigBinding binding(ui);
    binding.startUp();
    ui.act_time->selectAll();
    QTest::keyClicks(ui.act_time, u("-"));
    QTest::keyClicks(ui.act_time, u("x"));
    const QList<QMessageBox*> boxes = window.findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1); // reused, not piled up
    EXPECT_TRUE(boxes[0]->isVisible());
    EXPECT_EQ(boxes[0]->text(), u("Импульс: \"-x\" не является целым числом"));
    boxes[0]->close();

    binding.configBlock.pauseMs = 10'001;
    binding.Read_conf();
    EXPECT_TRUE(ui.Log->toPlainText().endsWith(
        u("Пауза: 10001 мсек не помещается в поле точно и показано как 10 сек (10000 мсек)")))
        << ui.Log->toPlainText().toStdString();
}

TEST_F(ConfigBindingTest, OperatorChoices) {
    binding->selectOperators(2, 2);
    EXPECT_EQ(ui.Modem_prov->currentIndex(), 2);
    EXPECT_EQ(ui.Dev_prov->currentIndex(), 2);
    EXPECT_EQ(binding->deviceApn(), "internet.tele2.ru");
    ui.Dev_prov->setCurrentIndex(1);
    EXPECT_EQ(binding->deviceApn(), "internet.mts.ru\",\"mts\",\"mts");
    ui.Dev_prov->setCurrentIndex(0);
    EXPECT_EQ(binding->deviceApn(), "internet.beeline.ru\",\"beeline\",\"beeline");
    ui.Dev_prov->setCurrentIndex(3);
    EXPECT_EQ(binding->deviceApn(), "internet\",\"gdata\",\"gdata");
    ui.Modem_prov->setCurrentIndex(0);
    EXPECT_EQ(binding->deviceApn(), "internet\",\"gdata\",\"gdata");
}

TEST_F(ConfigBindingTest, StoredOperatorOutsideTheList) {
    binding->selectOperators(5, 7);
    EXPECT_EQ(ui.Modem_prov->currentIndex(), -1);
    EXPECT_EQ(ui.Dev_prov->currentIndex(), -1);
    EXPECT_EQ(binding->deviceApn(), "");
}

} // namespace
