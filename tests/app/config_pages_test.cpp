// The pages as the user sees them against the record: what Write_conf stores,
// what it refuses and with which message, and what Read_conf shows.
#include "app/config_pages.h"

#include <gtest/gtest.h>

namespace {

using Bytes = ConfigBlock::Bytes;

Bytes written(const ConfigPages& pages) {
    const WriteConfResult result = Write_conf(pages);
    EXPECT_TRUE(result.ok()) << result.message();
    return result.ok() ? result.block->encode() : Bytes{};
}

// The single error of a refused write.
std::string refusal(const ConfigPages& pages) {
    const WriteConfResult result = Write_conf(pages);
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.block.has_value());
    EXPECT_EQ(result.errors.size(), 1u) << result.message();
    return result.errors.empty() ? std::string() : result.errors.front();
}

ConfigPages withStartTiming() {
    ConfigPages p;
    p.act_time = "5000";
    p.pause_time = "50";
    return p;
}

TEST(WriteConf, DefaultPagesGiveTheStartRecord) {
    const Bytes b = written(withStartTiming());
    Bytes expected{};
    expected[0] = 0xD2; // "1234"
    expected[1] = 0x04;
    expected[3] = 3;    // "Импульс"
    expected[4] = 0x88; // 5000
    expected[5] = 0x13;
    expected[8] = 50;
    expected[12] = 1;
    expected[13] = 20;
    expected[14] = 20;
    expected[15] = 5;
    expected[16] = 3;
    expected[58] = 1;
    expected[62] = 0x2B; // "+7"
    expected[63] = 0x37;
    EXPECT_EQ(b, expected);
}

TEST(WriteConf, OptionBitsFollowTheirBoxes) {
    ConfigPages p = withStartTiming();
    p.All_num_ch = p.SMS_ch = p.RING_ch = p.Ohrana_en = p.Input_inv = p.Short_num = p.Mes_in =
        p.Mes_rele = true;
    EXPECT_EQ(written(p)[2], 255);

    ConfigPages first = withStartTiming();
    first.All_num_ch = true;
    EXPECT_EQ(written(first)[2], 1);

    ConfigPages last = withStartTiming();
    last.Mes_rele = true;
    EXPECT_EQ(written(last)[2], 128);

    ConfigPages guard = withStartTiming();
    guard.Ohrana_en = true;
    guard.Input_inv = true;
    EXPECT_EQ(written(guard)[2], 0x18);

    ConfigPages relay = withStartTiming();
    relay.SendToRing = true;
    EXPECT_EQ(written(relay)[60], 1);
    relay.KEYNUMBUT = true;
    EXPECT_EQ(written(relay)[60], 3);
    relay.SendToRing = false;
    EXPECT_EQ(written(relay)[60], 2);
}

TEST(WriteConf, KeyTextGoesInReversedPairs) {
    ConfigPages p = withStartTiming();
    p.keys[0] = "0102030405A6";
    p.keys[4] = "a1b2c3d4e5f6"; // lower case gives the same bytes
    const Bytes b = written(p);
    EXPECT_EQ((std::array<std::uint8_t, 6>{b[28], b[29], b[30], b[31], b[32], b[33]}),
              (std::array<std::uint8_t, 6>{0xA6, 0x05, 0x04, 0x03, 0x02, 0x01}));
    for (int i = 34; i < 52; ++i) {
        EXPECT_EQ(b[i], 0) << i;
    }
    EXPECT_EQ((std::array<std::uint8_t, 6>{b[52], b[53], b[54], b[55], b[56], b[57]}),
              (std::array<std::uint8_t, 6>{0xF6, 0xE5, 0xD4, 0xC3, 0xB2, 0xA1}));
}

TEST(WriteConf, TextsAreZeroPadded) {
    ConfigPages p = withStartTiming();
    p.Oh_num = "9161234567";
    p.countryCode = "+7";
    Bytes b = written(p);
    EXPECT_EQ(std::string(b.begin() + 17, b.begin() + 27), "9161234567");
    EXPECT_EQ(b[27], 0);
    EXPECT_EQ((std::array<std::uint8_t, 6>{b[62], b[63], b[64], b[65], b[66], b[67]}),
              (std::array<std::uint8_t, 6>{0x2B, 0x37, 0, 0, 0, 0}));

    p.Oh_num.clear();
    p.countryCode = "+3759";
    b = written(p);
    for (int i = 17; i <= 27; ++i) {
        EXPECT_EQ(b[i], 0) << i;
    }
    EXPECT_EQ(std::string(b.begin() + 62, b.begin() + 67), "+3759");
    EXPECT_EQ(b[67], 0);
}

TEST(WriteConf, CyrillicTextIsStoredIn1251) {
    ConfigPages p = withStartTiming();
    p.countryCode = "Код";
    const Bytes b = written(p);
    EXPECT_EQ((std::array<std::uint8_t, 4>{b[62], b[63], b[64], b[65]}),
              (std::array<std::uint8_t, 4>{0xCA, 0xEE, 0xE4, 0}));
}

TEST(WriteConf, NumbersTakeTheirWholeRange) {
    ConfigPages p = withStartTiming();
    p.Password = "0";
    p.Num_dev = "65535";
    p.OUT_TOUT = "255";
    p.T_in = "1";
    p.T_out = "255";
    p.T_mem = "128";
    p.RELE_REJ = 0;
    p.inputMode = 2;
    const Bytes b = written(p);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[58], 0xFF);
    EXPECT_EQ(b[59], 0xFF);
    EXPECT_EQ(b[61], 255);
    EXPECT_EQ(b[13], 1);
    EXPECT_EQ(b[14], 255);
    EXPECT_EQ(b[15], 128);
    EXPECT_EQ(b[3], 0);
    EXPECT_EQ(b[16], 2);
}

TEST(WriteConf, TimingComesFromTheEditsAndUnits) {
    ConfigPages p;
    p.act_time = "2";
    p.act_mul = 3; // час
    p.pause_time = "50";
    p.pause_mul = 1; // сек
    p.povtor = "255";
    const ConfigBlock c = *Write_conf(p).block;
    EXPECT_EQ(c.pulseMs, 7'200'000u);
    EXPECT_EQ(c.pauseMs, 50'000u);
    EXPECT_EQ(c.repetitions, 255);
}

TEST(WriteConfRefuses, NumbersOutsideTheirFields) {
    struct Case {
        void (*set)(ConfigPages&);
        const char* message;
    };
    const Case cases[] = {
        {[](ConfigPages& p) { p.Num_dev = "-5"; },
         "Номер устройства: отрицательное значение -5 недопустимо"},
        {[](ConfigPages& p) { p.Num_dev = "65536"; },
         "Номер устройства: значение 65536 вне допустимого диапазона 0..65535"},
        {[](ConfigPages& p) { p.OUT_TOUT = "256"; },
         "Таймаут реле: значение 256 вне допустимого диапазона 0..255"},
        {[](ConfigPages& p) { p.OUT_TOUT = ""; }, "Таймаут реле: поле не заполнено"},
        {[](ConfigPages& p) { p.T_in = "256"; },
         "Время снятия с охраны: значение 256 вне допустимого диапазона 0..255"},
        {[](ConfigPages& p) { p.T_out = "-1"; },
         "Время постановки на охрану: отрицательное значение -1 недопустимо"},
        {[](ConfigPages& p) { p.T_mem = "5 "; },
         "Время перепостановки: \"5 \" не является целым числом"},
        {[](ConfigPages& p) { p.Password = ""; }, "Пароль: поле не заполнено"},
        {[](ConfigPages& p) { p.Password = "12a4"; }, "Пароль: \"12a4\" не является целым числом"},
        {[](ConfigPages& p) { p.Password = "99999"; },
         "Пароль: значение 99999 вне допустимого диапазона 0..65535"},
        {[](ConfigPages& p) { p.RELE_REJ = -1; }, "Режим работы реле: режим не выбран"},
    };
    for (const Case& c : cases) {
        ConfigPages p = withStartTiming();
        c.set(p);
        EXPECT_EQ(refusal(p), c.message);
    }
}

TEST(WriteConfRefuses, TextsThatDoNotFit) {
    ConfigPages p = withStartTiming();
    p.Oh_num = "91612345678";
    EXPECT_EQ(refusal(p), "Номер владельца: не более 10 символов, введено 11");

    p = withStartTiming();
    p.countryCode = "+37599";
    EXPECT_EQ(refusal(p), "Код страны: не более 5 символов, введено 6");

    p = withStartTiming();
    p.Oh_num = "916✓";
    EXPECT_EQ(refusal(p), "Номер владельца: Символ \"✓\" (U+2713, позиция 4) нельзя записать в "
                          "кодировке Windows-1251");

    p = withStartTiming();
    p.countryCode = std::string("+7\0", 3);
    EXPECT_EQ(refusal(p), "Код страны: текст содержит нулевой символ");
}

TEST(WriteConfRefuses, ShortKeyNamesItsRow) {
    ConfigPages p = withStartTiming();
    p.keys[2] = "0102030405";
    EXPECT_EQ(refusal(p),
              "Ключ 3: код ключа должен содержать 12 шестнадцатеричных цифр, введено 10");
    p.keys[2] = "0";
    EXPECT_EQ(refusal(p),
              "Ключ 3: код ключа должен содержать 12 шестнадцатеричных цифр, введено 1");
}

TEST(WriteConfRefuses, TimingThatDoesNotFit) {
    ConfigPages p = withStartTiming();
    p.act_time = "1194";
    p.act_mul = 3;
    EXPECT_EQ(refusal(p), "Импульс: 1194 час — больше наибольшей длительности 4294967295 мсек (не "
                          "более 1193 час)");
    p = withStartTiming();
    p.povtor = "-1";
    EXPECT_EQ(refusal(p), "Повторять: отрицательное значение -1 недопустимо");
    p = withStartTiming();
    p.pause_mul = -1;
    EXPECT_EQ(refusal(p), "Пауза: не выбрана единица времени");
}

TEST(WriteConfRefuses, ListsEveryBadFieldAtOnce) {
    ConfigPages p = withStartTiming();
    p.Password = "x";
    p.T_in = "300";
    p.keys[4] = "ABC";
    const WriteConfResult result = Write_conf(p);
    ASSERT_FALSE(result.ok());
    ASSERT_EQ(result.errors.size(), 3u);
    EXPECT_EQ(result.message(), "Пароль: \"x\" не является целым числом\n"
                                "Время снятия с охраны: значение 300 вне допустимого диапазона "
                                "0..255\n"
                                "Ключ 5: код ключа должен содержать 12 шестнадцатеричных цифр, "
                                "введено 3");
}

TEST(ReadConf, ShowsEveryFieldButThePassword) {
    ConfigBlock c;
    c.password = 4321;
    c.options = ConfigOption::SMS_ch | ConfigOption::Short_num | ConfigOption::Mes_in;
    c.relayMode = 1;
    c.pulseMs = 3000;
    c.pauseMs = 120'000;
    c.repetitions = 9;
    c.disarmTime = 0;
    c.armTime = 255;
    c.rearmTime = 15;
    c.inputMode = 0;
    c.ownerNumber = {'8', '9', '0', '0', 0, 0, 0, 0, 0, 0};
    c.keys[1] = {0xA6, 0x05, 0x04, 0x03, 0x02, 0x01};
    c.keys[3] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}; // byte 0 is 0: no key
    c.deviceNumber = 54321;
    c.relayOptions = RelayOption::SendToRing;
    c.relayTimeout = 77;
    c.countryCode = {'+', '3', '8', 0, 'x'};

    ConfigPages p;
    p.Password = "1111";
    p.keys[3] = "stale";
    std::vector<std::string> notices;
    Read_conf(c, p, &notices);
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(p.Password, "1111");
    EXPECT_FALSE(p.All_num_ch);
    EXPECT_TRUE(p.SMS_ch);
    EXPECT_TRUE(p.Short_num);
    EXPECT_TRUE(p.Mes_in);
    EXPECT_FALSE(p.Mes_rele);
    EXPECT_EQ(p.RELE_REJ, 1);
    EXPECT_EQ(p.act_time, "3000");
    EXPECT_EQ(p.act_mul, 0);
    EXPECT_EQ(p.pause_time, "120");
    EXPECT_EQ(p.pause_mul, 1);
    EXPECT_EQ(p.povtor, "9");
    EXPECT_EQ(p.T_in, "0");
    EXPECT_EQ(p.T_out, "255");
    EXPECT_EQ(p.T_mem, "15");
    EXPECT_EQ(p.inputMode, 0);
    EXPECT_EQ(p.Oh_num, "8900");
    EXPECT_EQ(p.keys[0], "");
    EXPECT_EQ(p.keys[1], "0102030405A6");
    EXPECT_EQ(p.keys[3], "");
    EXPECT_EQ(p.Num_dev, "54321");
    EXPECT_TRUE(p.SendToRing);
    EXPECT_FALSE(p.KEYNUMBUT);
    EXPECT_EQ(p.OUT_TOUT, "77");
    EXPECT_EQ(p.countryCode, "+38");
}

TEST(ReadConf, OddRecordValues) {
    ConfigBlock c;
    c.inputMode = 7;                           // not shown: the radio choice stays
    c.relayMode = 9;                           // no such item
    c.countryCode = {'+', '1', '2', '3', '4'}; // no zero inside: five characters
    c.ownerNumber = {0xC0, 0xE1, 0, '7', 0, 0, 0, 0, 0, 0};
    c.disarmTime = c.armTime = c.rearmTime = 5;
    ConfigPages p;
    p.inputMode = 1;
    Read_conf(c, p);
    EXPECT_EQ(p.inputMode, 1);
    EXPECT_EQ(p.RELE_REJ, -1);
    EXPECT_EQ(p.countryCode, "+1234");
    EXPECT_EQ(p.Oh_num, "Аб"); // 1251 to the screen's Unicode, up to the first zero
    // Writing such pages back names the missing relay mode instead of storing 255.
    EXPECT_EQ(refusal(p), "Режим работы реле: режим не выбран");
}

TEST(ReadConf, WriteReadRoundTrip) {
    ConfigPages p;
    p.Password = "0042";
    p.Oh_num = "9031112233";
    p.Num_dev = "9999";
    p.All_num_ch = p.RING_ch = p.Mes_rele = p.KEYNUMBUT = p.Input_inv = true;
    p.countryCode = "+998";
    p.OUT_TOUT = "30";
    p.RELE_REJ = 2;
    p.act_time = "167"; // 10 020 000 ms: more than 9999 seconds, so minutes
    p.act_mul = 2;
    p.pause_time = "9999";
    p.pause_mul = 0;
    p.povtor = "3";
    p.T_in = "1";
    p.T_out = "60";
    p.T_mem = "255";
    p.inputMode = 1;
    p.keys = {"0102030405A6", "", "FFFFFFFFFFFF", "0000000000FF", ""};
    const ConfigBlock c = *Write_conf(p).block;

    ConfigPages back;
    back.Password = p.Password;
    Read_conf(c, back);
    EXPECT_EQ(back, p);
    EXPECT_EQ(Write_conf(back).block->encode(), c.encode());
}

TEST(LoadData, UnitIsTheSmallestThatFitsFourDigits) {
    struct Case {
        std::uint32_t ms;
        const char* text;
        int unit;
        bool exact;
    };
    const Case cases[] = {
        {0, "0", 0, true},
        {50, "50", 0, true},
        {5000, "5000", 0, true},
        {9999, "9999", 0, true},
        {10'000, "10", 1, true},
        {12'345, "12", 1, false}, // no four-digit form is exact: rounded down
        {7'200'000, "7200", 1, true},
        {9'999'000, "9999", 1, true},
        {9'999'001, "166", 2, false},
        {599'940'000, "9999", 2, true},
        {599'940'001, "166", 3, false}, // beyond minutes: hours, never the old edits
        {3'600'000'000u, "1000", 3, true},
        {4'294'967'295u, "1193", 3, false},
    };
    for (const Case& c : cases) {
        const relay_timing::DurationDisplay d = relay_timing::displayDuration(c.ms);
        EXPECT_EQ(std::to_string(d.count), c.text) << c.ms;
        EXPECT_EQ(d.unitIndex, c.unit) << c.ms;
        EXPECT_EQ(d.exact, c.exact) << c.ms;
    }
}

TEST(LoadData, WhenAnyUnitShowsADurationExactlyTheChosenOneDoes) {
    for (std::uint32_t count = 1; count <= 9999; count += 7) {
        for (int unit = 0; unit < relay_timing::kUnitCount; ++unit) {
            const std::uint64_t wide = std::uint64_t{count} * relay_timing::kUnitMs[unit];
            if (wide > 0xFFFFFFFFu) {
                continue; // beyond the field (hours above 1193)
            }
            const auto ms = static_cast<std::uint32_t>(wide);
            const relay_timing::DurationDisplay d = relay_timing::displayDuration(ms);
            ASSERT_TRUE(d.exact) << ms;
            ASSERT_EQ(std::uint64_t{d.count} * relay_timing::kUnitMs[d.unitIndex], ms);
            ASSERT_LE(d.count, 9999u);
        }
    }
}

TEST(LoadData, RoundedDurationsAreNoticed) {
    ConfigBlock c;
    c.pulseMs = 12'345;
    c.pauseMs = 4'000'000'000u;
    c.repetitions = 255;
    ConfigPages p;
    std::vector<std::string> notices;
    Load_data(c, p, &notices);
    EXPECT_EQ(p.act_time, "12");
    EXPECT_EQ(p.act_mul, 1);
    EXPECT_EQ(p.pause_time, "1111");
    EXPECT_EQ(p.pause_mul, 3);
    EXPECT_EQ(p.povtor, "255");
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], "Импульс: 12345 мсек не помещается в поле точно и показано как 12 сек "
                          "(12000 мсек)");
    EXPECT_EQ(notices[1], "Пауза: 4000000000 мсек не помещается в поле точно и показано как 1111 "
                          "час (3999600000 мсек)");
    // What the pages now say is what a write stores.
    const ConfigBlock again = *Write_conf(p).block;
    EXPECT_EQ(again.pulseMs, 12'000u);
    EXPECT_EQ(again.pauseMs, 3'999'600'000u);
}

TEST(InputGuards, GuardTimesAndDeviceNumber) {
    EXPECT_EQ(Edit_val_1_255("300"), "255");
    EXPECT_EQ(Edit_val_1_255("9999"), "255");
    EXPECT_EQ(Edit_val_1_255(""), "1");
    EXPECT_EQ(Edit_val_1_255("255"), std::nullopt);
    EXPECT_EQ(Edit_val_1_255("0"), std::nullopt); // taken as typed; a write refuses it
    EXPECT_EQ(Edit_val_1_255("abc"), std::nullopt);
    EXPECT_EQ(Num_devChange(""), "1");
    EXPECT_EQ(Num_devChange("9999"), std::nullopt);
}

} // namespace
