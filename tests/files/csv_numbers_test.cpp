// Numbers from CSV into the grid and back out: the line rules, the carried
// apartment, the first empty row, the stop at a bad apartment, the full list,
// what the verdict says of numbers that are none and of lines that are no
// text, and the two encodings.
#include "files/csv_numbers.h"

#include "protocol/cp1251.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

// The rows first..last of the grid as (number, apartment).
Rows rowsOf(const NumberGrid& grid, int first, int last) {
    Rows out;
    for (int row = first; row <= last; ++row) {
        out.emplace_back(grid.cell(1, row), grid.cell(2, row));
    }
    return out;
}

void fill(NumberGrid& grid, int first, int last, const std::string& prefix) {
    for (int row = first; row <= last; ++row) {
        grid.setCell(1, row, prefix + std::to_string(1000000 + row));
        grid.setCell(2, row, "old");
    }
}

} // namespace

TEST(CsvNumbers, LinesEndWithCrLfCrOrLf) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(csv_numbers::splitLines(""), V{});
    EXPECT_EQ(csv_numbers::splitLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(csv_numbers::splitLines("a\r\r\nb\n\n"), (V{"a", "", "b", ""}));
    // A zero byte is part of its line and ends nothing.
    EXPECT_EQ(csv_numbers::splitLines(std::string_view("a\nb\0c\nd", 7)),
              (V{"a", std::string_view("b\0c", 3), "d"}));
}

TEST(CsvNumbers, ApartmentCarriesOverAndShortLinesAreSkipped) {
    MemoryNumberGrid grid;
    grid.setCell(2, 1, "keep"); // a line before any apartment keeps this cell
    grid.setCell(2, 7, "keep");
    const std::string csv = "9160000001\r\n"         // no ";": all number, no apartment yet
                            "12;9161234567\r\n"      // apartment 12
                            ";9169876543\n"          // carries 12
                            "13;1234567\r"           // 7 characters: skipped, 13 stays set
                            "12345678\r\n"           // 8 characters: imported with 13
                            "5;9161234567;слово\r\n" // everything after the first ";"
                            " -1 ;9160000007\r\n"    // -1: the apartment cell keeps its text
                            "\r\n"                   // empty line: skipped
                            ";9160000008";           // last line without line end
    // The word is in code page 1251 in the file.
    std::string bytes = csv;
    bytes.replace(bytes.find("слово"), std::string("слово").size(), "\xF1\xEB\xEE\xE2\xEE");
    const auto result = csv_numbers::importCsv(bytes, grid);
    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.imported, 7);
    EXPECT_EQ(result.skippedShort, 2);
    EXPECT_EQ(rowsOf(grid, 1, 8), (Rows{{"9160000001", "keep"},
                                        {"9161234567", "12"},
                                        {"9169876543", "12"},
                                        {"12345678", "13"},
                                        {"9161234567;слово", "5"},
                                        {"9160000007", ""},
                                        {"9160000008", "keep"},
                                        {"", ""}}));
    EXPECT_EQ(result.summary(), "Импорт из CSV: импортировано номеров: 7 (со строки 1), "
                                "пропущено строк короче 8 символов: 2; из них не похожи на "
                                "номер телефона (не 8–11 цифр, «+» в начале можно): 1, первый — "
                                "в строке 6 «9161234567;слово»");
}

TEST(CsvNumbers, WritesFromTheFirstEmptyRowOverwritingTheRowsBelow) {
    MemoryNumberGrid grid;
    fill(grid, 1, 3, "91");
    fill(grid, 5, 9, "92");
    const Rows before = rowsOf(grid, 1, 9);
    const auto result =
        csv_numbers::importCsv("1;9990000001\r\n2;9990000002\r\n3;9990000003\r\n", grid);
    EXPECT_EQ(result.firstRow, 4);
    Rows expected = before;
    expected[3] = {"9990000001", "1"};
    expected[4] = {"9990000002", "2"};
    expected[5] = {"9990000003", "3"};
    EXPECT_EQ(rowsOf(grid, 1, 9), expected);
}

TEST(CsvNumbers, BadApartmentStopsTheImportKeepingTheRowsWritten) {
    MemoryNumberGrid grid;
    // Column captions on the first line: nothing at all is imported.
    auto result =
        csv_numbers::importCsv("\xCA\xE2;\xD2\xE5\xEB\xE5\xF4\xEE\xED\r\n1;9160000001", grid);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, "Строка 1 файла CSV: «Кв» не является целым числом (номер "
                             "квартиры). Импорт остановлен; номеров записано до этой строки: 0.");
    EXPECT_EQ(rowsOf(grid, 1, 1), (Rows{{"", ""}}));

    // A bad line in the middle: the lines before it stay written.
    result =
        csv_numbers::importCsv("1;9160000001\n2;9160000002\n2a;9160000003\n4;9160000004\n", grid);
    ASSERT_TRUE(result.error);
    EXPECT_NE(result.error->find("Строка 3"), std::string::npos);
    EXPECT_NE(result.error->find("«2a»"), std::string::npos);
    EXPECT_EQ(result.imported, 2);
    EXPECT_EQ(rowsOf(grid, 1, 3), (Rows{{"9160000001", "1"}, {"9160000002", "2"}, {"", ""}}));
    // An apartment beyond what a record holds stops it the same way, at its line.
    for (const char* bad : {"65536", "-2", "-65535", "2147483647"}) {
        MemoryNumberGrid fresh;
        result = csv_numbers::importCsv("1;9160000001\n65535;9160000002\n0;9160000003\n" +
                                            std::string(bad) + ";9160000004\n5;9160000005\n",
                                        fresh);
        ASSERT_TRUE(result.error) << bad;
        EXPECT_EQ(*result.error,
                  "Строка 4 файла CSV: «" + std::string(bad) +
                      "» не является номером квартиры (допустимы числа от 0 до "
                      "65535). Импорт остановлен; номеров записано до этой строки: 3.");
        EXPECT_EQ(
            rowsOf(fresh, 1, 4),
            (Rows{{"9160000001", "1"}, {"9160000002", "65535"}, {"9160000003", "0"}, {"", ""}}));
    }
    // Beyond 32 bits is no integer either.
    EXPECT_FALSE(csv_numbers::parseApartment("2147483648"));
    EXPECT_EQ(csv_numbers::parseApartment("-2147483648"), INT_MIN);
    EXPECT_FALSE(csv_numbers::parseApartment("+-1"));
    EXPECT_FALSE(csv_numbers::parseApartment("0x10"));
}

TEST(CsvNumbers, TheVerdictNamesNumbersThatAreNoneAndLinesThatAreNoText) {
    using namespace std::string_literals;
    MemoryNumberGrid grid;
    const std::string csv = "1;9161234567\r\n"      // a number
                            "2;ABCDEFGHIJ\r\n"      // letters
                            "+79161234567\r\n"      // "+" and 11 digits
                            "9161234567 Иванов\r\n" // a name after it
                            "3;9160\0"
                            "000001\r\n"          // a zero byte: reported, skipped
                            "4;916-123-45-67\r\n" // dashes
                            "\0\r\n"              // only a zero byte
                            "5;123456789012\r\n"  // 12 digits
                            "6;++9161234567\r\n"  // two plus signs
                            "7;89161234567\r\n"s; // 11 digits
    std::string bytes = csv;
    const std::string name = "Иванов";
    bytes.replace(bytes.find(name), name.size(), "\xC8\xE2\xE0\xED\xEE\xE2");
    const auto result = csv_numbers::importCsv(bytes, grid);
    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.imported, 8);
    EXPECT_EQ(result.notPhoneNumbers, 5);
    EXPECT_EQ(result.invalidLines, 2);
    EXPECT_EQ(rowsOf(grid, 1, 9), (Rows{{"9161234567", "1"},
                                        {"ABCDEFGHIJ", "2"},
                                        {"+79161234567", "2"},
                                        {"9161234567 Иванов", "2"},
                                        {"916-123-45-67", "4"},
                                        {"123456789012", "5"},
                                        {"++9161234567", "6"},
                                        {"89161234567", "7"},
                                        {"", ""}}));
    // The design's verdict first, as it always was, then what it took.
    EXPECT_EQ(result.summary(),
              "Импорт из CSV: импортировано номеров: 8 (со строки 1), пропущено строк короче 8 "
              "символов: 0; из них не похожи на номер телефона (не 8–11 цифр, «+» в начале "
              "можно): 5, первый — в строке 2 «ABCDEFGHIJ»; пропущено недопустимых строк: 2, "
              "первая — строка 5 (нулевой байт)");

    // A verdict with nothing to add is the design's alone.
    MemoryNumberGrid plain;
    EXPECT_EQ(csv_numbers::importCsv("1;+7916123456\n;12345678\n", plain).summary(),
              "Импорт из CSV: импортировано номеров: 2 (со строки 1), пропущено строк короче 8 "
              "символов: 0");
}

TEST(CsvNumbers, Utf8IsReadAfterItsByteOrderMarkAndRefusedWithoutIt) {
    const std::string utf8 = "Кв;Телефон\r\n" // captions: stop the import at line 1
                             "12;9161234567\r\n";
    const std::string list = "12;9161234567\r\n"
                             ";Иванов 1234\r\n"      // 11 characters, 17 bytes
                             "13;Пётр\r\n"           // 4 characters, 8 bytes: too short
                             "14;9160000001\xFF\r\n" // not UTF-8: reported, skipped
                             "15;9160000002\r\n"
                             "16;916000000号\r\n"; // no 1251 form: reported, skipped
    // "CSV UTF-8" as spreadsheets save it: the same rows as the 1251 file.
    MemoryNumberGrid grid;
    auto result = csv_numbers::importCsv("\xEF\xBB\xBF" + list, grid);
    EXPECT_TRUE(result.utf8);
    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.imported, 3);
    EXPECT_EQ(result.skippedShort, 1);
    EXPECT_EQ(result.invalidLines, 2);
    EXPECT_EQ(result.firstInvalidLine, 4);
    EXPECT_EQ(result.firstInvalidReason, "байты не в кодировке UTF-8");
    EXPECT_EQ(result.firstNotPhoneText, "Иванов 1234");
    EXPECT_EQ(rowsOf(grid, 1, 4),
              (Rows{{"9161234567", "12"}, {"Иванов 1234", "12"}, {"9160000002", "15"}, {"", ""}}));
    const auto inCp1251 = cp1251::fromUtf8(list.substr(0, list.find("14;")) + "15;9160000002\r\n");
    ASSERT_TRUE(inCp1251.ok());
    MemoryNumberGrid same;
    csv_numbers::importCsv(inCp1251.bytes, same);
    EXPECT_EQ(rowsOf(same, 1, 4), rowsOf(grid, 1, 4));
    // The mark before an apartment no longer makes it a bad one.
    MemoryNumberGrid captions;
    result = csv_numbers::importCsv("\xEF\xBB\xBF" + utf8, captions);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, "Строка 1 файла CSV: «Кв» не является целым числом (номер "
                             "квартиры). Импорт остановлен; номеров записано до этой строки: 0.");

    // Without the mark: not a row is written, and the message says what to do.
    MemoryNumberGrid untouched;
    untouched.setCell(1, 2, "9169999999");
    result = csv_numbers::importCsv(list.substr(0, list.find("14;")), untouched);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.imported, 0);
    EXPECT_TRUE(result.error->starts_with("Файл CSV, похоже, в кодировке UTF-8 (строка 2: «;Иванов "
                                          "1234»)"))
        << *result.error;
    EXPECT_NE(result.error->find("«CSV UTF-8»"), std::string::npos);
    EXPECT_NE(result.error->find("Windows-1251"), std::string::npos);
    EXPECT_EQ(rowsOf(untouched, 1, 3), (Rows{{"", ""}, {"9169999999", ""}, {"", ""}}));
    // Plain ASCII and 1251 Cyrillic are no UTF-8: imported as always.
    EXPECT_FALSE(csv_numbers::importCsv("1;9161234567\n", untouched).error);
    EXPECT_FALSE(
        csv_numbers::importCsv(cp1251::fromUtf8("5;Дом 12345678\n").bytes, untouched).error);
    EXPECT_EQ(untouched.cell(1, 3), "Дом 12345678");
}

TEST(CsvNumbers, EmptyFileAndFullListChangeNothing) {
    MemoryNumberGrid grid;
    fill(grid, 1, 650, "9");
    const Rows before = rowsOf(grid, 1, 650);
    auto result = csv_numbers::importCsv("1;9160000001\r\n", grid);
    EXPECT_FALSE(result.started);
    EXPECT_EQ(rowsOf(grid, 1, 650), before);

    grid.setCell(1, 100, "");
    result = csv_numbers::importCsv("", grid);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.imported, 0);
    EXPECT_EQ(grid.cell(1, 100), "");
}

TEST(CsvNumbers, TenThousandLinesIntoThreeFreeRows) {
    MemoryNumberGrid grid;
    fill(grid, 1, 647, "9");
    const Rows before = rowsOf(grid, 1, 647);
    std::string csv;
    for (int i = 0; i < 10000; ++i) {
        csv += std::to_string(i) + ";" + std::to_string(8000000000LL + i) + "\r\n";
    }
    csv += "bad;9160000000\r\n"; // beyond the list: counted, not converted
    const auto result = csv_numbers::importCsv(csv, grid);
    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.imported, 3);
    EXPECT_EQ(result.notFitting, 9998);
    EXPECT_EQ(rowsOf(grid, 1, 647), before);
    EXPECT_EQ(rowsOf(grid, 648, 650),
              (Rows{{"8000000000", "0"}, {"8000000001", "1"}, {"8000000002", "2"}}));
    EXPECT_NE(result.summary().find("не поместилось в список: 9998"), std::string::npos);
}

TEST(CsvNumbers, ExportImportsBackToTheSameRows) {
    MemoryNumberGrid grid;
    grid.setCell(1, 2, "9161234567");
    grid.setCell(2, 2, "12");
    grid.setCell(1, 3, "9169999999"); // no apartment after one with an apartment
    grid.setCell(1, 5, "9160000000"); // and again
    grid.setCell(1, 9, "Тест;номер");
    grid.setCell(2, 9, "65535");
    grid.setCell(2, 10, "77"); // an apartment without a number is no entry
    const auto exported = csv_numbers::exportCsv(grid);
    ASSERT_TRUE(exported.ok()) << *exported.error;
    EXPECT_EQ(exported.rows, 4);
    EXPECT_EQ(exported.bytes, "12;9161234567\r\n-1;9169999999\r\n;9160000000\r\n"
                              "65535;\xD2\xE5\xF1\xF2;\xED\xEE\xEC\xE5\xF0\r\n");

    MemoryNumberGrid back;
    const auto imported = csv_numbers::importCsv(exported.bytes, back);
    EXPECT_EQ(imported.imported, 4);
    EXPECT_EQ(rowsOf(back, 1, 5), (Rows{{"9161234567", "12"},
                                        {"9169999999", ""},
                                        {"9160000000", ""},
                                        {"Тест;номер", "65535"},
                                        {"", ""}}));
}

TEST(CsvNumbers, ExportRefusesRowsThatWouldNotComeBack) {
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"1234567", ""},                                // the import skips it
        {"9161234567", "007"},                          // would come back as 7
        {"9161234567", "-1"},                           // would come back empty
        {"9161234567", "-3"},  {"9161234567", "65536"}, // no apartment the import takes
        {"Рџ 12345678", ""},                            // its 1251 bytes D0 9F read as UTF-8
        {"9161234567", "1 "},  {"916123456\r7", ""},    // would become two lines
        {"9161234567号", ""},                           // no 1251 form
    };
    for (const auto& [number, apartment] : bad) {
        MemoryNumberGrid grid;
        grid.setCell(1, 1, "9160000001");
        grid.setCell(1, 4, number);
        grid.setCell(2, 4, apartment);
        const auto exported = csv_numbers::exportCsv(grid);
        ASSERT_FALSE(exported.ok()) << number << ";" << apartment;
        EXPECT_TRUE(exported.bytes.empty());
        EXPECT_TRUE(exported.error->starts_with("Строка 4 списка номеров")) << *exported.error;
    }
}
