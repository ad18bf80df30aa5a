// Numbers from CSV into the grid and back out: the line rules, the carried
// apartment, the first empty row, the stop at a bad apartment, the full list.
#include "lists/csv_numbers.h"

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

TEST(CsvNumbers, LinesEndWithCrLfCrOrLfAndAZeroByteEndsTheText) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(csv_numbers::splitLines(""), V{});
    EXPECT_EQ(csv_numbers::splitLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(csv_numbers::splitLines("a\r\r\nb\n\n"), (V{"a", "", "b", ""}));
    EXPECT_EQ(csv_numbers::splitLines(std::string_view("a\nb\0c\nd", 7)), (V{"a", "b"}));
    EXPECT_EQ(csv_numbers::splitLines(std::string_view("\0a", 2)), V{});
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
                                "пропущено строк короче 8 символов: 2");
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

    // A byte order mark stays part of the first apartment.
    result = csv_numbers::importCsv("\xEF\xBB\xBF"
                                    "1;9160000001\r\n",
                                    grid);
    EXPECT_TRUE(result.error);
    EXPECT_EQ(grid.cell(1, 1), "");

    // A bad line in the middle: the lines before it stay written.
    result =
        csv_numbers::importCsv("1;9160000001\n2;9160000002\n2a;9160000003\n4;9160000004\n", grid);
    ASSERT_TRUE(result.error);
    EXPECT_NE(result.error->find("Строка 3"), std::string::npos);
    EXPECT_NE(result.error->find("«2a»"), std::string::npos);
    EXPECT_EQ(result.imported, 2);
    EXPECT_EQ(rowsOf(grid, 1, 3), (Rows{{"9160000001", "1"}, {"9160000002", "2"}, {"", ""}}));
    // Beyond 32 bits is no integer either.
    EXPECT_FALSE(csv_numbers::parseApartment("2147483648"));
    EXPECT_EQ(csv_numbers::parseApartment("-2147483648"), INT_MIN);
    EXPECT_FALSE(csv_numbers::parseApartment("+-1"));
    EXPECT_FALSE(csv_numbers::parseApartment("0x10"));
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
    grid.setCell(2, 9, "-3");
    grid.setCell(2, 10, "77"); // an apartment without a number is no entry
    const auto exported = csv_numbers::exportCsv(grid);
    ASSERT_TRUE(exported.ok()) << *exported.error;
    EXPECT_EQ(exported.rows, 4);
    EXPECT_EQ(exported.bytes, "12;9161234567\r\n-1;9169999999\r\n;9160000000\r\n"
                              "-3;\xD2\xE5\xF1\xF2;\xED\xEE\xEC\xE5\xF0\r\n");

    MemoryNumberGrid back;
    const auto imported = csv_numbers::importCsv(exported.bytes, back);
    EXPECT_EQ(imported.imported, 4);
    EXPECT_EQ(rowsOf(back, 1, 5), (Rows{{"9161234567", "12"},
                                        {"9169999999", ""},
                                        {"9160000000", ""},
                                        {"Тест;номер", "-3"},
                                        {"", ""}}));
}

TEST(CsvNumbers, ExportRefusesRowsThatWouldNotComeBack) {
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"1234567", ""},                             // the import skips it
        {"9161234567", "007"},                       // would come back as 7
        {"9161234567", "-1"},                        // would come back empty
        {"9161234567", "1 "},  {"916123456\r7", ""}, // would become two lines
        {"9161234567号", ""},                        // no 1251 form
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
