#include "session/number_list.h"

namespace number_list {

int findNumberRow(const NumberGrid& grid, std::string_view text) {
    const int rows = grid.rowCount();
    for (int r = 1; r <= rows; ++r) {
        if (grid.cell(NumberGrid::kNumberColumn, r).find(text) != std::string::npos) {
            return r;
        }
    }
    return 0;
}

void clearNumbers(NumberGrid& grid) {
    const int rows = grid.rowCount();
    for (int r = 1; r <= rows; ++r) {
        grid.setCell(NumberGrid::kNumberColumn, r, std::string());
        grid.setCell(NumberGrid::kApartmentColumn, r, std::string());
    }
}

AddResult addIfAbsent(NumberGrid& grid, const std::string& text, int* row) {
    if (row != nullptr) {
        *row = 0;
    }
    if (text.empty()) {
        // It would "match" the first empty row and be reported as a duplicate.
        return AddResult::Empty;
    }
    const int rows = grid.rowCount();
    for (int r = 1; r <= rows; ++r) {
        if (grid.cell(NumberGrid::kNumberColumn, r) == text) {
            if (row != nullptr) {
                *row = r;
            }
            return AddResult::Duplicate;
        }
    }
    for (int r = 1; r <= rows; ++r) {
        if (grid.cell(NumberGrid::kNumberColumn, r).empty()) {
            grid.setCell(NumberGrid::kNumberColumn, r, text);
            if (row != nullptr) {
                *row = r;
            }
            return AddResult::Added;
        }
    }
    return AddResult::Full;
}

} // namespace number_list
