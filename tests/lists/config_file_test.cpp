// The .fcd configuration file: exact bytes written, and the Windows profile
// rules when reading files that this program did not write.
#include "lists/config_file.h"

#include "protocol/cp1251.h"

#include <gtest/gtest.h>
#include <random>

namespace {

ConfigBlock::Bytes patternBlock() {
    ConfigBlock::Bytes b{};
    for (std::size_t i = 0; i < b.size(); ++i) {
        b[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    return b;
}

std::string headOf(const ConfigBlock::Bytes& block) {
    return std::string(reinterpret_cast<const char*>(block.data()), block.size()) +
           std::string(32, '\0');
}

std::string numbersText(const std::string& lines) {
    return std::string(config_file::kSectionHeader) + lines;
}

} // namespace

TEST(ConfigFile, SavesByteExactly) {
    MemoryNumberGrid grid;
    const auto block = patternBlock();
    const auto empty = config_file::encode(block, grid);
    ASSERT_TRUE(empty.ok());
    ASSERT_EQ(empty.bytes.size(), 9649u);
    EXPECT_EQ(empty.bytes.substr(0, 100), headOf(block)); // bytes 68..99 zero
    EXPECT_EQ(empty.bytes.substr(100, 26), "\r\n\r\n[Numbers]\r\nN1=\r\nKv1=\r\n");
    EXPECT_NE(empty.bytes.find("\r\nN649=\r\nKv649=\r\nN650=\r\nKv650=\r\n"), std::string::npos);
    EXPECT_TRUE(empty.bytes.ends_with("Kv650=\r\n"));

    // A number only in row 3, no apartment: only that value adds bytes.
    grid.setCell(1, 3, "9161234567");
    const auto one = config_file::encode(block, grid);
    ASSERT_EQ(one.bytes.size(), 9649u + 10);
    EXPECT_NE(one.bytes.find("Kv2=\r\nN3=9161234567\r\nKv3=\r\nN4=\r\n"), std::string::npos);

    // Cyrillic goes to the file as code page 1251, one byte a letter.
    grid.setCell(2, 3, "Кв.7");
    grid.setCell(1, 650, "Ёж;\"x\"");
    const auto cyr = config_file::encode(block, grid);
    ASSERT_TRUE(cyr.ok());
    EXPECT_EQ(cyr.bytes.size(), 9649u + 10 + 4 + 6);
    EXPECT_NE(cyr.bytes.find("Kv3=\xCA\xE2.7\r\n"), std::string::npos);
    EXPECT_TRUE(cyr.bytes.ends_with("N650=\xA8\xE6;\"x\"\r\nKv650=\r\n"));
}

TEST(ConfigFile, TextsThatCannotBeStoredStopTheSaveNamingTheRow) {
    MemoryNumberGrid grid;
    grid.setCell(1, 1, "9161234567");
    grid.setCell(2, 41, "7号");
    auto result = config_file::encode(patternBlock(), grid);
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.bytes.empty());
    EXPECT_NE(result.error->find("Строка 41"), std::string::npos) << *result.error;
    EXPECT_NE(result.error->find("квартира"), std::string::npos) << *result.error;

    // A line break would make the rest of the cell a line of its own.
    grid.setCell(2, 41, "");
    grid.setCell(1, 5, "916\n[Numbers]");
    result = config_file::encode(patternBlock(), grid);
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error->find("Строка 5"), std::string::npos) << *result.error;
}

TEST(ConfigFile, RoundTripKeepsEveryRowAndTheBlock) {
    MemoryNumberGrid grid;
    std::mt19937 rng(7);
    for (int row = 1; row <= 650; ++row) {
        if (row % 5 == 0) {
            continue; // empty rows come back empty, apartments too
        }
        grid.setCell(1, row, std::to_string(9000000000LL + rng() % 999999999));
        grid.setCell(2, row, row % 3 == 0 ? "" : std::to_string(row));
    }
    grid.setCell(1, 7, "Привет; мир=1 [x]"); // separators of both formats inside a value
    grid.setCell(2, 8, "\xC2\x98");          // U+0098, the one hole of code page 1251
    const auto block = patternBlock();
    const auto file = config_file::encode(block, grid);
    ASSERT_TRUE(file.ok()) << *file.error;

    std::string error;
    const auto decoded = config_file::decode(file.bytes, &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->block, block);
    MemoryNumberGrid back;
    for (int row = 1; row <= 650; ++row) {
        back.setCell(1, row, "old");
        back.setCell(2, row, "old");
    }
    config_file::fillGrid(*decoded, back);
    for (int row = 1; row <= 650; ++row) {
        ASSERT_EQ(back.cell(1, row), grid.cell(1, row)) << row;
        ASSERT_EQ(back.cell(2, row), grid.cell(2, row)) << row;
    }
}

TEST(ConfigFile, HandMadeFilesFollowTheProfileRules) {
    // A head of random bytes with everything that could look like INI text.
    std::mt19937 rng(11);
    ConfigBlock::Bytes block{};
    for (auto& b : block) {
        b = static_cast<std::uint8_t>(rng());
    }
    const char trapBytes[] = "\r\n[Numbers]\nN5=from the head\r\n\0=\n[";
    const std::string trap(trapBytes, sizeof trapBytes - 1);
    std::copy(trap.begin(), trap.end(), block.begin() + 2);
    std::string head = headOf(block);
    head.replace(70, 13, "\n[numbers]\nN1");

    const std::string longValue(3000, '9');
    const std::string text = "; a comment\r\n"
                             "  kV5  =  \"  12 \"  \r\n" // any case, blanks and quotes dropped
                             "n5=9161234567\r\n"         // lower-case key
                             "N5=second wins not\r\n"    // a duplicated key: the first counts
                             "Kv6=\r\n"                  // present but empty: empty, not "0"
                             "N7=" +
                             longValue +
                             "\r\n"                            // read up to 2047 characters
                             "N8=\xCF\xF0\xE8\xE2\xE5\xF2\r\n" // 1251 text
                             "[Other]\r\nN9=not in the section\r\n";
    std::string error;
    const auto decoded = config_file::decode(head + numbersText(text), &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->block, block);
    const auto& rows = decoded->rows;
    ASSERT_EQ(rows.size(), 650u);
    EXPECT_EQ(rows[4][0], "9161234567");
    EXPECT_EQ(rows[4][1], "  12 ");
    EXPECT_EQ(rows[5][0], "");
    EXPECT_EQ(rows[5][1], "");
    EXPECT_EQ(rows[6][0], std::string(2047, '9'));
    EXPECT_EQ(rows[7][0], "Привет");
    EXPECT_EQ(rows[8][0], "");
    EXPECT_EQ(rows[0][0], ""); // "N1" of the head is not read
    EXPECT_EQ(rows[0][1], "0");
    EXPECT_EQ(rows[649][1], "0");

    // Only N5 and Kv5: every other row is empty with the apartment "0".
    const auto only5 =
        config_file::decode(head + numbersText("N5=9160000005\r\nKv5=5\r\n"), &error);
    ASSERT_TRUE(only5);
    for (int i = 0; i < 650; ++i) {
        ASSERT_EQ(only5->rows[static_cast<std::size_t>(i)][0], i == 4 ? "9160000005" : "") << i;
        ASSERT_EQ(only5->rows[static_cast<std::size_t>(i)][1], i == 4 ? "5" : "0") << i;
    }
    // A section with no keys is still a configuration file.
    EXPECT_TRUE(config_file::decode(head + "\r\n[NUMBERS]", &error));
}

TEST(ConfigFile, FilesWithoutTheNumbersSectionAreRefused) {
    std::string error;
    // A CSV file, however long.
    std::string csv;
    for (int i = 0; i < 50; ++i) {
        csv += std::to_string(i) + ";916123456" + std::to_string(i % 10) + "\r\n";
    }
    EXPECT_FALSE(config_file::decode(csv, &error));
    EXPECT_NE(error.find("[Numbers]"), std::string::npos) << error;
    // Shorter than the block.
    EXPECT_FALSE(config_file::decode(std::string(40, '\x01'), &error));
    EXPECT_NE(error.find("40 байт"), std::string::npos) << error;
    EXPECT_FALSE(config_file::decode("", &error));
    // The section only inside the 100-byte head.
    std::string head(100, '\0');
    head.replace(10, 20, "\r\n[Numbers]\r\nN1=123\r\n");
    EXPECT_FALSE(config_file::decode(head + "N2=456\r\n", &error));
}
