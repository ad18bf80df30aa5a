// The 68-byte settings record, byte by byte, against records built by hand
// from the device's layout.
#include "config/config_block.h"

#include <gtest/gtest.h>

namespace {

using Bytes = ConfigBlock::Bytes;

// A record with a distinct value in every field, written out at the offsets
// the device uses.
Bytes handBuiltRecord() {
    Bytes b{};
    b[0] = 0xD2; // password 1234 = 0x04D2
    b[1] = 0x04;
    b[2] = 0x81; // All_num_ch and Mes_rele
    b[3] = 2;    // relay mode "Инвертировать"
    b[4] = 0x39; // pulse 12345 = 0x00003039
    b[5] = 0x30;
    b[6] = 0x00;
    b[7] = 0x00;
    b[8] = 0x78; // pause 0x12345678
    b[9] = 0x56;
    b[10] = 0x34;
    b[11] = 0x12;
    b[12] = 200; // repetitions
    b[13] = 30;  // disarm
    b[14] = 40;  // arm
    b[15] = 7;   // re-arm
    b[16] = 1;   // input mode
    const char owner[] = "9161234567";
    for (int i = 0; i < 10; ++i) {
        b[17 + i] = static_cast<std::uint8_t>(owner[i]);
    }
    b[27] = 0;
    const std::uint8_t key1[6] = {0xA6, 0x05, 0x04, 0x03, 0x02, 0x01};
    for (int i = 0; i < 6; ++i) {
        b[28 + i] = key1[i];
        b[52 + i] = static_cast<std::uint8_t>(0xF0 + i); // key 5
    }
    b[58] = 0x31; // device number 54321 = 0xD431
    b[59] = 0xD4;
    b[60] = 0x02; // KEYNUMBUT only
    b[61] = 255;  // relay time-out
    b[62] = '+';
    b[63] = '3';
    b[64] = '7';
    b[65] = '5';
    b[66] = 0;
    b[67] = 0;
    return b;
}

TEST(ConfigBlockCodec, DecodesEveryFieldAtItsOffset) {
    const ConfigBlock c = ConfigBlock::decode(handBuiltRecord());
    EXPECT_EQ(c.password, 1234);
    EXPECT_EQ(c.options, ConfigOption::All_num_ch | ConfigOption::Mes_rele);
    EXPECT_EQ(c.relayMode, 2);
    EXPECT_EQ(c.pulseMs, 12345u);
    EXPECT_EQ(c.pauseMs, 0x12345678u);
    EXPECT_EQ(c.repetitions, 200);
    EXPECT_EQ(c.disarmTime, 30);
    EXPECT_EQ(c.armTime, 40);
    EXPECT_EQ(c.rearmTime, 7);
    EXPECT_EQ(c.inputMode, 1);
    EXPECT_EQ(std::string(c.ownerNumber.begin(), c.ownerNumber.end()), "9161234567");
    EXPECT_EQ(c.keys[0], (ConfigBlock::KeyRecord{0xA6, 0x05, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(c.keys[1], ConfigBlock::KeyRecord{});
    EXPECT_EQ(c.keys[4], (ConfigBlock::KeyRecord{0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5}));
    EXPECT_EQ(c.deviceNumber, 54321);
    EXPECT_EQ(c.relayOptions, RelayOption::KEYNUMBUT);
    EXPECT_EQ(c.relayTimeout, 255);
    EXPECT_EQ(c.countryCode, (std::array<std::uint8_t, 5>{'+', '3', '7', '5', 0}));
}

TEST(ConfigBlockCodec, EncodesBackToTheSameBytes) {
    const Bytes record = handBuiltRecord();
    EXPECT_EQ(ConfigBlock::decode(record).encode(), record);
}

TEST(ConfigBlockCodec, EncodesLittleEndianWithNamedFields) {
    ConfigBlock c;
    c.password = 0xBEEF;
    c.pulseMs = 0xA1B2C3D4;
    c.pauseMs = 1;
    c.deviceNumber = 0x0102;
    c.relayOptions = RelayOption::SendToRing | RelayOption::KEYNUMBUT;
    const Bytes b = c.encode();
    EXPECT_EQ(b[0], 0xEF);
    EXPECT_EQ(b[1], 0xBE);
    EXPECT_EQ(b[4], 0xD4);
    EXPECT_EQ(b[5], 0xC3);
    EXPECT_EQ(b[6], 0xB2);
    EXPECT_EQ(b[7], 0xA1);
    EXPECT_EQ(b[8], 1);
    EXPECT_EQ(b[9], 0);
    EXPECT_EQ(b[58], 0x02);
    EXPECT_EQ(b[59], 0x01);
    EXPECT_EQ(b[60], 0x03);
    EXPECT_EQ(ConfigBlock::decode(b), c);
}

TEST(ConfigBlockCodec, TextTerminatorsAreAlwaysZero) {
    // A record from a device that left junk where the owner number's and the
    // country code's terminators belong: re-encoding terminates both texts.
    Bytes b = handBuiltRecord();
    b[27] = 0x55;
    b[67] = 0x66;
    const Bytes again = ConfigBlock::decode(b).encode();
    EXPECT_EQ(again[27], 0);
    EXPECT_EQ(again[67], 0);
    // A full ten-character owner number still keeps byte 27 at 0.
    ConfigBlock c;
    c.ownerNumber.fill('9');
    c.countryCode.fill('1');
    const Bytes full = c.encode();
    for (int i = 17; i < 27; ++i) {
        EXPECT_EQ(full[i], '9') << i;
    }
    EXPECT_EQ(full[27], 0);
    EXPECT_EQ(full[28], 0);
    for (int i = 62; i < 67; ++i) {
        EXPECT_EQ(full[i], '1') << i;
    }
    EXPECT_EQ(full[67], 0);
}

TEST(ConfigBlockCodec, EachKeyRecordHasItsOwnSixBytes) {
    ConfigBlock c;
    for (std::size_t k = 0; k < ConfigBlock::kKeyCount; ++k) {
        c.keys[k].fill(static_cast<std::uint8_t>(0x10 * (k + 1)));
    }
    const Bytes b = c.encode();
    for (std::size_t k = 0; k < ConfigBlock::kKeyCount; ++k) {
        for (std::size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(b[28 + 6 * k + i], 0x10 * (k + 1)) << "key " << k << " byte " << i;
        }
    }
    EXPECT_EQ(b[27], 0);
    EXPECT_EQ(b[58], 0);
}

} // namespace
