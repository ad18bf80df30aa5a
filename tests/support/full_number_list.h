// A number list with all 650 rows filled, as a building's list is: numbers
// of 10 digits, and from row 10 on the apartment of each its row. Its
// configuration file cut at 5000 bytes ends inside the number of row 187
// ("...\r\nN187=91610"), the file a copy broken off in its middle leaves.
#pragma once

#include "files/number_grid.h"

#include <string>

inline MemoryNumberGrid fullNumberList() {
    MemoryNumberGrid grid;
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        grid.setCell(NumberGrid::kNumberColumn, row, std::to_string(9161000000LL + row * 13));
        grid.setCell(NumberGrid::kApartmentColumn, row, row < 10 ? "" : std::to_string(row));
    }
    return grid;
}
