// The subscriber number grid as the logic sees it: addressed by position,
// column 1 the number text, column 2 the apartment text, rows 1 to 650 the
// entries (row 0 holds the headings and column 0 the row numbers; neither is
// written through here). Texts are UTF-8; the window converts nothing.
//
// The window implements this over StringGrid1; MemoryNumberGrid below keeps
// the same cells in memory for code that runs without a window (the
// simulator, file conversions, the fuzz target).
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

class NumberGrid {
  public:
    static constexpr int kNumberColumn = 1;
    static constexpr int kApartmentColumn = 2;
    static constexpr int kRows = 650;

    virtual ~NumberGrid() = default;

    // Writes one cell. col is 1 or 2, row from 1 to rowCount(); anything
    // else is a programming error and throws std::out_of_range.
    virtual void setCell(int col, int row, const std::string& utf8) = 0;
    // Reads one cell, with the same bounds.
    virtual std::string cell(int col, int row) const = 0;
    // The number of entry rows: 650.
    virtual int rowCount() const = 0;

    // Whether (col, row) addresses an entry cell.
    bool isEntryCell(int col, int row) const {
        return (col == kNumberColumn || col == kApartmentColumn) && row >= 1 && row <= rowCount();
    }
};

class MemoryNumberGrid : public NumberGrid {
  public:
    MemoryNumberGrid() : rows_(kRows) {}

    void setCell(int col, int row, const std::string& utf8) override {
        check(col, row);
        rows_[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(col - 1)] = utf8;
    }
    std::string cell(int col, int row) const override {
        check(col, row);
        return rows_[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(col - 1)];
    }
    int rowCount() const override { return kRows; }

    // Empties every entry cell.
    void clear() {
        for (auto& r : rows_) {
            r[0].clear();
            r[1].clear();
        }
    }

  private:
    void check(int col, int row) const {
        if (!isEntryCell(col, row)) {
            throw std::out_of_range("number grid cell (" + std::to_string(col) + ", " +
                                    std::to_string(row) + ") does not exist");
        }
    }

    std::vector<std::array<std::string, 2>> rows_;
};
