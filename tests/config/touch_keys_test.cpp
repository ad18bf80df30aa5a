// Touch-memory key codes: the typing filter and the conversion between the
// twelve digits of a key cell and the six bytes of its record.
#include "config/touch_keys.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using touch_keys::KeyBytes;

TEST(KeyFilter, HexDigitsAndBackspaceOnly) {
    for (char32_t c : {U'0', U'9', U'A', U'F', U'a', U'f', U'\b'}) {
        EXPECT_TRUE(touch_keys::KeyPressHex(c)) << int(c);
    }
    for (char32_t c : {U'G', U'g', U' ', U'\r', U'\n', U'x', U'/', U':', U'@', U'`', U'\0',
                       U'\u0410', U'\uFF10'}) {
        EXPECT_FALSE(touch_keys::KeyPressHex(c)) << int(c);
    }
}

TEST(KeyFilter, TwelveDigitsAtMost) {
    EXPECT_TRUE(touch_keys::keyCellAccepts(0, U'a'));
    EXPECT_TRUE(touch_keys::keyCellAccepts(11, U'7'));
    EXPECT_FALSE(touch_keys::keyCellAccepts(12, U'7'));
    EXPECT_TRUE(touch_keys::keyCellAccepts(12, U'\b'));
    EXPECT_FALSE(touch_keys::keyCellAccepts(3, U'G'));
}

TEST(KeyConversion, PairsGoToTheRecordBackwards) {
    const auto key = touch_keys::keyTextToBytes("0102030405A6", 1);
    ASSERT_TRUE(key.ok()) << *key.error;
    EXPECT_EQ(key.bytes, (KeyBytes{0xA6, 0x05, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(touch_keys::bytesToKeyText(key.bytes), "0102030405A6");

    const auto lower = touch_keys::keyTextToBytes("0a1b2c3d4e5f", 2);
    const auto upper = touch_keys::keyTextToBytes("0A1B2C3D4E5F", 2);
    ASSERT_TRUE(lower.ok());
    EXPECT_EQ(lower.bytes, upper.bytes);
    EXPECT_EQ(lower.bytes, (KeyBytes{0x5F, 0x4E, 0x3D, 0x2C, 0x1B, 0x0A}));
    EXPECT_EQ(touch_keys::bytesToKeyText(lower.bytes), "0A1B2C3D4E5F");
}

TEST(KeyConversion, EmptyCellAndEmptyRecord) {
    const auto empty = touch_keys::keyTextToBytes("", 4);
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty.bytes, KeyBytes{});
    EXPECT_EQ(touch_keys::bytesToKeyText(KeyBytes{}), "");
    // Byte 0 decides: a record whose byte 0 is 0 holds no key.
    EXPECT_EQ(touch_keys::bytesToKeyText(KeyBytes{0, 1, 2, 3, 4, 5}), "");
    EXPECT_EQ(touch_keys::bytesToKeyText(KeyBytes{1, 0, 0, 0, 0, 0}), "000000000001");
}

TEST(KeyConversion, EveryByteValueSurvives) {
    for (int v = 1; v < 256; ++v) {
        const KeyBytes bytes{std::uint8_t(v), std::uint8_t(255 - v), 0, std::uint8_t(v), 0x80, 7};
        const std::string text = touch_keys::bytesToKeyText(bytes);
        const auto back = touch_keys::keyTextToBytes(text, 1);
        ASSERT_TRUE(back.ok()) << text;
        ASSERT_EQ(back.bytes, bytes) << text;
    }
}

TEST(KeyConversionRefuses, PartialCodesNameTheirRow) {
    for (int length = 1; length <= 11; ++length) {
        // The text sits at the end of its own allocation, so a read past it
        // is caught by the address sanitizer.
        std::unique_ptr<char[]> buffer(new char[length]);
        for (int i = 0; i < length; ++i) {
            buffer[i] = "123456789ABC"[i];
        }
        const auto key = touch_keys::keyTextToBytes(std::string_view(buffer.get(), length), 2);
        ASSERT_FALSE(key.ok()) << length;
        EXPECT_EQ(*key.error, "Ключ 2: код ключа должен содержать 12 шестнадцатеричных цифр, "
                              "введено " +
                                  std::to_string(length));
        EXPECT_EQ(key.bytes, KeyBytes{});
    }
    const auto longer = touch_keys::keyTextToBytes("0102030405A6B", 5);
    ASSERT_FALSE(longer.ok());
    EXPECT_EQ(*longer.error, "Ключ 5: код ключа должен содержать 12 шестнадцатеричных цифр, "
                             "введено 13");
}

TEST(KeyConversionRefuses, CharactersThatAreNotHexDigits) {
    EXPECT_EQ(*touch_keys::keyTextToBytes("01020304050G", 1).error,
              "Ключ 1: недопустимый символ \"G\" в коде ключа; код состоит из цифр 0-9 и букв A-F");
    EXPECT_EQ(
        *touch_keys::keyTextToBytes("0102 0304050", 3).error,
        "Ключ 3: недопустимый символ пробел в коде ключа; код состоит из цифр 0-9 и букв A-F");
    EXPECT_EQ(*touch_keys::keyTextToBytes("АБ0203040506", 4).error,
              "Ключ 4: недопустимый символ \"А\" в коде ключа; код состоит из цифр 0-9 и букв A-F");
}

TEST(KeyConversionRefuses, CodeEndingInZeroWouldBeAnEmptySlot) {
    const auto key = touch_keys::keyTextToBytes("0102030405A0", 1);
    EXPECT_TRUE(key.ok()); // only the last pair counts
    const auto zero = touch_keys::keyTextToBytes("0102030405"
                                                 "00",
                                                 2);
    ASSERT_FALSE(zero.ok());
    EXPECT_EQ(*zero.error, "Ключ 2: код ключа, оканчивающийся на \"00\", устройство не сохранит "
                           "(такая запись означает пустую ячейку)");
    EXPECT_EQ(zero.bytes, KeyBytes{});
}

} // namespace
