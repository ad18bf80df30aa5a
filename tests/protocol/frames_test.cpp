// The exact bytes of every command the configurator sends, in both forms.
#include "protocol/frames.h"

#include <gtest/gtest.h>

namespace {

using namespace frames;
using namespace std::string_literals;

std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

TEST(Frames, FixedCommands) {
    const struct {
        std::string made;
        std::string expected;
    } cases[] = {
        {frameGreeting(), "CONFO"},   {frameClose(), "CONFC\r"},       {frameClosed(), "CLOSED"},
        {frameModemCall(), "AT\r"},   {frameReset(), "!RST"},          {frameBootPrompt(), "<"},
        {frameReceiveOk(), "R_OK\r"}, {frameReceiveFail(), "RFAIL\r"}, {frameEraseAll(), "ERASE"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.made, c.expected);
    }
}

TEST(Frames, ConfigReadCarriesThePasswordLowByteFirst) {
    const struct {
        std::uint16_t password;
        std::string tail;
    } cases[] = {
        {1234, bytesOf({0xD2, 0x04})},
        {200, bytesOf({0xC8, 0x00})}, // below 256: the zero high
                                      // byte is sent
        {0, bytesOf({0x00, 0x00})},
        {65535, bytesOf({0xFF, 0xFF})},
        {256, bytesOf({0x00, 0x01})},
    };
    for (const auto& c : cases) {
        const std::string frame = frameConfigRead(c.password);
        ASSERT_EQ(frame.size(), 7u) << c.password;
        EXPECT_EQ(frame, "CONFR" + c.tail) << c.password;
    }
}

TEST(Frames, PasswordValueTakesDecimalDigitsOnly) {
    EXPECT_EQ(passwordValue("1234"), 1234);
    EXPECT_EQ(passwordValue("0012"), 12); // leading zeros make no difference
    EXPECT_EQ(passwordValue("12"), 12);
    EXPECT_EQ(passwordValue("0"), 0);
    EXPECT_EQ(passwordValue("65535"), 65535);
    for (const char* bad :
         {"", "65536", "99999999999999999999", "-1", "+5", " 12", "12 ", "12a", "0x10", "１２"}) {
        EXPECT_EQ(passwordValue(bad), std::nullopt) << bad;
    }
}

TEST(Frames, ConfigWriteIsTheKeywordAndTheWholeBlock) {
    ConfigBlockBytes block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i % 3 == 0 ? 0 : 0xF0 + i % 16);
    }
    const std::string frame = frameConfigWrite(block);
    ASSERT_EQ(frame.size(), 73u);
    EXPECT_EQ(frame.substr(0, 5), "CONFW");
    EXPECT_EQ(frame.substr(5), std::string(reinterpret_cast<const char*>(block.data()), 68));
}

TEST(Frames, TextCommandsInBothForms) {
    const struct {
        TextFrame made;
        std::string expected;
    } cases[] = {
        {frameChangePassword("1234", "5678", true), "CHPASS 1234 5678\r"},
        {frameChangePassword("1234", "5678", false), "CHPASS 1234 5678\x1A\r"},
        {frameChangePassword("12", "", true), "CHPASS 12 \r"}, // typed texts travel unpadded
        {frameNumberAdd("1234", "9001234567", "15", true), "ADD 1234 900123456715\r"},
        {frameNumberAdd("1234", "9001234567", "15", false), "ADD900123456715\x1A\r"},
        {frameNumberDel("1234", "9001234567", true), "DEL 1234 9001234567\r"},
        {frameNumberDel("1234", "9001234567", false), "DEL9001234567\x1A\r"},
        {frameErase("1234", true), "ERASE 1234\r"},
        {frameErase("1234", false), "ERASE\r"},
        {frameRead("1234", true), "READ 1234\r"},
        {frameRead("1234", false), "READ"},
        {frameNtf(0, "9001234567", "15"), "RT+NTF=0,9001234567,15\r"},
        {frameNtf(649, "123", ""), "RT+NTF=649,123,\r"}, // empty apartment: comma, then \r
        {frameEfa(3), "RT+EFA=3\r"},
        {frameEfa(0), "RT+EFA=0\r"},
        {frameDiagnostic("AT"), "AT\r"},
        {frameDiagnostic(""), "\r"},
        // Cyrillic arrives as 1251 bytes and leaves unchanged.
        {frameChangePassword("\xC0\xC1", "1", true), "CHPASS \xC0\xC1 1\r"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.made.ok()) << c.expected << ": " << c.made.error;
        EXPECT_EQ(c.made.bytes, c.expected);
    }
    const std::string internet = frameChangePassword("1", "2", false).bytes;
    EXPECT_EQ(internet.substr(internet.size() - 2), bytesOf({26, 13}));
    const std::string serial = frameChangePassword("1", "2", true).bytes;
    EXPECT_EQ(serial.back(), 13);
    EXPECT_NE(serial[serial.size() - 2], 26);
}

TEST(Frames, AccessPointWithOneAndWithThreeQuotedFields) {
    // Tele2: a name only.
    EXPECT_EQ(frameApn("1234", "internet.tele2.ru").bytes, "APN 1234 \"internet.tele2.ru\"#\r");
    // Name, user and password joined by quote-comma-quote: three quoted fields.
    EXPECT_EQ(frameApn("1234", "internet.mts.ru\",\"mts\",\"mts").bytes,
              "APN 1234 \"internet.mts.ru\",\"mts\",\"mts\"#\r");
    // No operator chosen: an empty pair of quotes.
    EXPECT_EQ(frameApn("1234", "").bytes, "APN 1234 \"\"#\r");
}

TEST(Frames, TextsTooLongForTheSendBufferAreRefusedNotCut) {
    // "APN " + 4 + " \"" + apn + "\"#\r" is 13 + apn characters.
    const TextFrame fits = frameApn("1234", std::string(86, 'a'));
    ASSERT_TRUE(fits.ok()) << fits.error;
    EXPECT_EQ(fits.bytes.size(), 99u);
    const TextFrame tooLong = frameApn("1234", std::string(87, 'a'));
    EXPECT_FALSE(tooLong.ok());
    EXPECT_TRUE(tooLong.bytes.empty());
    EXPECT_NE(tooLong.error.find("100"), std::string::npos) << tooLong.error;
    EXPECT_NE(tooLong.error.find("99"), std::string::npos) << tooLong.error;

    EXPECT_EQ(frameDiagnostic(std::string(98, 'A')).bytes.size(), 99u);
    EXPECT_FALSE(frameDiagnostic(std::string(99, 'A')).ok());
    // A number from a file can be far longer than the grid lets one type.
    EXPECT_FALSE(frameNtf(649, std::string(90, '9'), "1234").ok());
    EXPECT_FALSE(frameNumberAdd("1234", std::string(200, '9'), "1", false).ok());
    EXPECT_FALSE(frameChangePassword(std::string(60, '1'), std::string(60, '2'), true).ok());
}

TEST(Frames, ArgumentsThatWouldBreakTheCommandApartAreRefused) {
    for (const std::string& bad : {"12\r34"s, "12\n"s, "12\0 34"s}) {
        const TextFrame f = frameNtf(0, bad, "1");
        EXPECT_FALSE(f.ok());
        EXPECT_TRUE(f.bytes.empty());
        EXPECT_FALSE(frameChangePassword("1234", bad, true).ok());
        EXPECT_FALSE(frameDiagnostic(bad).ok());
    }
    // Byte 26 is ordinary data inside an argument.
    EXPECT_TRUE(frameNtf(0, "1\x1A", "1").ok());
}

TEST(Frames, NumberRecordsAndBatches) {
    // A number of 7 characters is followed by three zero bytes; apartment
    // 300 is 44, 1.
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(encodeNumberRecord("9001234", 300).data()), 12),
        "9001234"s + bytesOf({0, 0, 0, 44, 1}));
    // Twelve characters: only the first ten go.
    const auto twelve = encodeNumberRecord("123456789012", 0xFFFF);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(twelve.data()), 12),
              "1234567890"s + bytesOf({0xFF, 0xFF}));

    // Reading stops at byte 13 or 0 within the ten; ten digits fill the field.
    const std::string padded13 = "12345\r\r\r\r\r"s + bytesOf({7, 0});
    const auto r13 = decodeNumberRecord(reinterpret_cast<const std::uint8_t*>(padded13.data()));
    EXPECT_EQ(r13.number, "12345");
    EXPECT_EQ(r13.apartment, 7);
    const std::string full = "9001234567"s + bytesOf({0x2C, 0x01});
    const auto r10 = decodeNumberRecord(reinterpret_cast<const std::uint8_t*>(full.data()));
    EXPECT_EQ(r10.number, "9001234567");
    EXPECT_EQ(r10.apartment, 300);

    std::vector<NumberRecordBytes> records;
    EXPECT_EQ(frameNumberBatch(records), "");
    records.push_back(encodeNumberRecord("111", 1));
    EXPECT_EQ(frameNumberBatch(records),
              "ADN\x01"s + "111"s + bytesOf({0, 0, 0, 0, 0, 0, 0, 1, 0}) + "@");
    records.assign(10, encodeNumberRecord("9001234567", 2));
    const std::string ten = frameNumberBatch(records);
    ASSERT_EQ(ten.size(), 125u);
    EXPECT_EQ(ten.substr(0, 4), "ADN\x0A");
    EXPECT_EQ(ten.back(), '@');
    records.push_back(records.front());
    EXPECT_EQ(frameNumberBatch(records), ""); // eleven do not fit a batch
}

} // namespace
