// Fuzz target over the CSV import and export. Input: one byte that says how
// many rows are filled before the import (times 3, capped at 650), then the
// CSV text. The import must keep the rows above its first empty row, account
// for every line it did not write (a line that is no text too), and whatever
// the export accepts must import into an empty list as the same rows.
#include "files/csv_numbers.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

int fuzzCsvNumbers(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const int filled = std::min(650, data[0] * 3);
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    MemoryNumberGrid grid;
    for (int row = 1; row <= filled; ++row) {
        grid.setCell(1, row, "91600" + std::to_string(10000 + row));
        grid.setCell(2, row, std::to_string(row));
    }
    const auto result = csv_numbers::importCsv(bytes, grid);
    if (filled == 650) {
        if (result.started) {
            std::abort();
        }
        return 0;
    }
    const auto lines =
        csv_numbers::splitLines(result.utf8 ? bytes.substr(3) : bytes); // without its mark
    const std::size_t counted = static_cast<std::size_t>(result.imported + result.skippedShort +
                                                         result.notFitting + result.invalidLines);
    if (result.firstRow != filled + 1 || counted > lines.size() ||
        (!result.error && counted != lines.size()) || result.imported > 650 - filled ||
        result.notPhoneNumbers > result.imported ||
        (result.notPhoneNumbers > 0) != (result.firstNotPhoneLine > 0) ||
        (result.invalidLines > 0) != (result.firstInvalidLine > 0)) {
        std::abort();
    }
    for (int row = 1; row <= filled; ++row) {
        if (grid.cell(2, row) != std::to_string(row)) {
            std::abort();
        }
    }
    const auto exported = csv_numbers::exportCsv(grid);
    if (!exported.ok()) {
        return 0;
    }
    MemoryNumberGrid back;
    const auto again = csv_numbers::importCsv(exported.bytes, back);
    if (again.error || again.imported != exported.rows) {
        std::abort();
    }
    int row = 1;
    for (int r = 1; r <= 650; ++r) {
        if (grid.cell(1, r).empty()) {
            continue;
        }
        if (back.cell(1, row) != grid.cell(1, r) || back.cell(2, row) != grid.cell(2, r)) {
            std::abort();
        }
        ++row;
    }
    return 0;
}

#ifdef VXRT7_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzCsvNumbers(data, size);
}
#endif
