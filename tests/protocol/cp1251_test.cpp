// The 1251 module against glibc's iconv as an independent table.
#include "protocol/cp1251.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace {

// What glibc says a 1251 byte is, as UTF-8; nullopt where it has no mapping.
std::optional<std::string> iconvDecode(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inp = in;
    char* outp = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) {
        return std::nullopt;
    }
    return std::string(out, sizeof out - outLeft);
}

TEST(Cp1251, EveryDefinedByteMatchesTheCodePageAndRoundTrips) {
    int defined = 0;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string utf8 = cp1251::toUtf8(one);
        const auto reference = iconvDecode(static_cast<unsigned char>(b));
        if (reference) {
            ++defined;
            EXPECT_EQ(utf8, *reference) << "byte " << b;
        }
        const auto back = cp1251::fromUtf8(utf8);
        ASSERT_TRUE(back.ok()) << "byte " << b;
        EXPECT_EQ(back.bytes, one) << "byte " << b;
    }
    EXPECT_EQ(defined, 255); // all but 0x98
}

TEST(Cp1251, RussianTextBothWays) {
    const std::string text = "Coeдинение установлено: \"Велиран\" №5 Ёё";
    const auto enc = cp1251::fromUtf8(text);
    ASSERT_TRUE(enc.ok());
    // Latin C, o, e, then Cyrillic д (0xE4).
    EXPECT_EQ(enc.bytes.substr(0, 4), std::string("Coe\xE4"));
    EXPECT_EQ(static_cast<unsigned char>(enc.bytes[enc.bytes.size() - 2]), 0xA8); // Ё
    EXPECT_EQ(static_cast<unsigned char>(enc.bytes.back()), 0xB8);                // ё
    EXPECT_EQ(cp1251::toUtf8(enc.bytes), text);
}

TEST(Cp1251, RefusesWhatItCannotHoldAndSaysWhere) {
    const auto greek = cp1251::fromUtf8("ab\xCE\xA9z"); // Ω
    ASSERT_FALSE(greek.ok());
    EXPECT_EQ(greek.error->character, U'\u03A9');
    EXPECT_EQ(greek.error->position, 2u);
    EXPECT_TRUE(greek.bytes.empty());
    EXPECT_NE(greek.error->message().find("Ω"), std::string::npos);
    EXPECT_NE(greek.error->message().find("позиция 3"), std::string::npos);

    const auto emoji = cp1251::fromUtf8("\xF0\x9F\x98\x80");
    ASSERT_FALSE(emoji.ok());
    EXPECT_EQ(emoji.error->character, U'\U0001F600');

    for (const char* bad : {"\xC3", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xFF", "a\x80"}) {
        const auto r = cp1251::fromUtf8(bad);
        ASSERT_FALSE(r.ok()) << bad;
        EXPECT_TRUE(r.error->invalidUtf8);
    }
}

} // namespace
