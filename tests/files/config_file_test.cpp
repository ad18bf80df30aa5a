// The .fcd configuration file: exact bytes written, the Windows profile
// rules when reading files that this program did not write, and files cut
// short, which are refused rather than read as a list that lost its end.
#include "files/config_file.h"

#include "protocol/cp1251.h"
#include "tests/support/full_number_list.h"

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

// Every key of the 650 rows with an empty value, as the Windows program
// writes them, or with LF line ends, or all numbers before all apartments.
std::string allKeys(const char* lineEnd = "\r\n", bool apartmentsFirst = false) {
    std::string numbers;
    std::string apartments;
    std::string pairs;
    for (int row = 1; row <= 650; ++row) {
        const std::string n = "N" + std::to_string(row) + "=" + lineEnd;
        const std::string kv = "Kv" + std::to_string(row) + "=" + lineEnd;
        numbers += n;
        apartments += kv;
        pairs += n + kv;
    }
    return apartmentsFirst ? apartments + numbers : pairs;
}

config_file::DecodeError refusalOf(std::string_view bytes) {
    config_file::DecodeError error;
    EXPECT_FALSE(config_file::decode(bytes, &error)) << bytes.size() << " bytes";
    return error;
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

    config_file::DecodeError error;
    const auto decoded = config_file::decode(file.bytes, &error);
    ASSERT_TRUE(decoded) << error.reason;
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
                             + allKeys() + // the whole list, too late to count for rows 5 to 8
                             "[Other]\r\nN9=not in the section\r\n";
    config_file::DecodeError error;
    const auto decoded = config_file::decode(head + numbersText(text), &error);
    ASSERT_TRUE(decoded) << error.reason;
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
    // The list in a second section of the name is not read.
    EXPECT_EQ(refusalOf(head + numbersText("N5=1\r\n[Numbers]\r\n" + allKeys())).completeRows, 0);

    // LF line ends, and the keys in another order, are the same list.
    for (const std::string& keys : {allKeys("\n"), allKeys("\r\n", true)}) {
        const std::string numbers = "N650=9160000650\nKv650=65\n" + keys;
        const auto other = config_file::decode(head + numbersText(numbers), &error);
        ASSERT_TRUE(other) << error.reason;
        EXPECT_EQ(other->rows[649], (std::array<std::string, 2>{"9160000650", "65"}));
        EXPECT_EQ(other->rows[0], (std::array<std::string, 2>{"", ""}));
    }
}

TEST(ConfigFile, FilesCutShortAreRefusedNamingTheLastWholeRow) {
    const auto file = config_file::encode(patternBlock(), fullNumberList());
    ASSERT_TRUE(file.ok());
    const std::string& full = file.bytes;
    ASSERT_TRUE(config_file::decode(full, nullptr));

    // Cut at 5000 bytes, inside the number of row 187.
    const std::string cut = full.substr(0, 5000);
    ASSERT_TRUE(cut.ends_with("\r\nN187=91610")) << cut.substr(cut.size() - 30);
    auto error = refusalOf(cut);
    EXPECT_EQ(error.kind, config_file::DecodeError::Kind::Incomplete);
    EXPECT_EQ(error.completeRows, 186);
    EXPECT_EQ(error.message("x.fcd"),
              "Файл «x.fcd» неполный: обрывается после строки 186 из 650 списка номеров");

    // Every cut behind the section header is refused, and names as whole
    // the rows whose two lines it holds with their line ends.
    const std::size_t header = config_file::kHeadSize + config_file::kSectionHeader.size();
    for (std::size_t size = header; size < full.size();
         size += (size < header + 80 || size > full.size() - 80) ? 1 : 97) {
        SCOPED_TRACE(size);
        const std::string_view prefix = std::string_view(full).substr(0, size);
        std::size_t lineEnds = 0;
        for (auto at = prefix.find("\r\n", header); at != std::string_view::npos;
             at = prefix.find("\r\n", at + 2)) {
            ++lineEnds;
        }
        error = refusalOf(prefix);
        ASSERT_EQ(error.kind, config_file::DecodeError::Kind::Incomplete);
        ASSERT_EQ(error.completeRows, static_cast<int>(lineEnds / 2));
        ASSERT_TRUE(error.message("x.fcd").starts_with(
            lineEnds / 2 == 0 ? "Файл «x.fcd» неполный: обрывается перед строкой 1 из 650"
                              : "Файл «x.fcd» неполный: обрывается после строки " +
                                    std::to_string(lineEnds / 2) + " из 650"))
            << error.message("x.fcd");
    }
    // Only the CR of the last line end: Kv650 may have lost a character.
    error = refusalOf(std::string_view(full).substr(0, full.size() - 1));
    EXPECT_EQ(error.completeRows, 649);
    // The section header without its line end.
    error = refusalOf(full.substr(0, header - 2));
    EXPECT_EQ(error.kind, config_file::DecodeError::Kind::Incomplete);
    EXPECT_EQ(error.completeRows, 0);

    // A key missing in the middle, and a line cut after a whole list.
    std::string gap = full;
    gap.erase(gap.find("\r\nKv300=") + 2, std::string("Kv300=300\r\n").size());
    error = refusalOf(gap);
    EXPECT_EQ(error.completeRows, 299);
    EXPECT_EQ(error.message("x.fcd"),
              "Файл «x.fcd» неполный: после строки 299 из 650 списка номеров нет ключа Kv300");
    std::string noFirst = full;
    noFirst.erase(header, std::string("N1=9161000013\r\n").size());
    EXPECT_EQ(refusalOf(noFirst).message("x.fcd"),
              "Файл «x.fcd» неполный: перед строкой 1 из 650 списка номеров нет ключа N1");
    error = refusalOf(full + "; comment without its line end");
    EXPECT_EQ(error.kind, config_file::DecodeError::Kind::Incomplete);
    EXPECT_EQ(error.completeRows, 650);
    EXPECT_NE(error.reason.find("последняя строка оборвана"), std::string::npos) << error.reason;
    // Only N5 and Kv5, by hand: a list with 649 rows missing.
    EXPECT_EQ(refusalOf(std::string(100, '\0') + numbersText("N5=9160000005\r\nKv5=5\r\n"))
                  .message("x.fcd"),
              "Файл «x.fcd» неполный: перед строкой 1 из 650 списка номеров нет ключа N1");
}

TEST(ConfigFile, FilesWithoutTheNumbersSectionAreRefused) {
    // A CSV file, however long.
    std::string csv;
    for (int i = 0; i < 50; ++i) {
        csv += std::to_string(i) + ";916123456" + std::to_string(i % 10) + "\r\n";
    }
    auto error = refusalOf(csv);
    EXPECT_EQ(error.kind, config_file::DecodeError::Kind::NotConfiguration);
    EXPECT_EQ(error.message("list.csv"), "Файл «list.csv» не является файлом конфигурации: в нём "
                                         "нет раздела [Numbers] после 100 байт настроек");
    // Shorter than the block.
    EXPECT_NE(refusalOf(std::string(40, '\x01')).reason.find("40 байт"), std::string::npos);
    EXPECT_EQ(refusalOf("").kind, config_file::DecodeError::Kind::NotConfiguration);
    // The section only inside the 100-byte head.
    std::string head(100, '\0');
    head.replace(10, 20, "\r\n[Numbers]\r\nN1=123\r\n");
    EXPECT_EQ(refusalOf(head + "N2=456\r\n" + allKeys()).kind,
              config_file::DecodeError::Kind::NotConfiguration);
}
