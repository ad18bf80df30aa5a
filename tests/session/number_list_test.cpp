// The list operations on a grid in memory: what the window's grid tests do
// not reach (an empty key, the rows a search or an add reports).
#include "files/number_grid.h"
#include "session/number_list.h"

#include <gtest/gtest.h>

namespace {

using number_list::AddResult;

TEST(NumberList, AddReportsTheRowAndRefusesAnEmptyText) {
    MemoryNumberGrid grid;
    grid.setCell(NumberGrid::kNumberColumn, 1, "111");
    grid.setCell(NumberGrid::kNumberColumn, 3, "333");
    int row = -1;
    EXPECT_EQ(number_list::addIfAbsent(grid, "", &row), AddResult::Empty);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(grid.cell(NumberGrid::kNumberColumn, 2), "");

    EXPECT_EQ(number_list::addIfAbsent(grid, "333", &row), AddResult::Duplicate);
    EXPECT_EQ(row, 3);
    EXPECT_EQ(number_list::addIfAbsent(grid, "33", &row), AddResult::Added);
    EXPECT_EQ(row, 2);

    for (int r = 1; r <= NumberGrid::kRows; ++r) {
        grid.setCell(NumberGrid::kNumberColumn, r, std::to_string(r));
    }
    EXPECT_EQ(number_list::addIfAbsent(grid, "x", &row), AddResult::Full);
    EXPECT_EQ(row, 0);
}

TEST(NumberList, SearchFindsNothingInAnEmptyListButTheEmptyText) {
    MemoryNumberGrid grid;
    EXPECT_EQ(number_list::findNumberRow(grid, "1"), 0);
    EXPECT_EQ(number_list::findNumberRow(grid, ""), 1);
    grid.setCell(NumberGrid::kApartmentColumn, 5, "1");
    EXPECT_EQ(number_list::findNumberRow(grid, "1"), 0) << "apartments are not searched";
    grid.setCell(NumberGrid::kNumberColumn, 650, "x1y");
    EXPECT_EQ(number_list::findNumberRow(grid, "1"), 650);
}

} // namespace
