// The difference between the list a device holds and the list the user wants
// it to hold, cell by cell, for a write that sends only what changed.
//
// A full write on the serial link leaves cells 0..n-1 holding the non-empty
// rows of the list in list order and frees the rest ("RT+EFA=n"). The plan
// here leaves the device in exactly that state: it names the cells among
// 0..n-1 whose number or apartment differ from what the device holds (or
// that it does not hold at all) and ends with the same "RT+EFA=n". A row
// removed in the middle shifts every later cell, and those cells go too.
#pragma once

#include "files/number_grid.h"

#include <string>
#include <vector>

namespace number_changes {

// One memory cell as the device keeps it: the number text and the apartment
// as the decimal of its 16-bit value (an empty apartment is 0).
struct Cell {
    std::string number;
    std::string apartment;
    bool operator==(const Cell&) const = default;
};

// The cells a full write of `grid` leaves, in cell order: its non-empty rows
// in grid order. A list read from the device gives what the device holds.
std::vector<Cell> cellsOf(const NumberGrid& grid);

struct Plan {
    // send[k]: cell k must be written (k from 0 to length - 1).
    std::vector<bool> send;
    int cells = 0;  // how many are true in `send`
    int length = 0; // the cells the list fills: "RT+EFA=length" frees the rest
};

Plan plan(const std::vector<Cell>& held, const std::vector<Cell>& wanted);

} // namespace number_changes
