// The number grid StringGrid1 as the number list's interface: rows 1 to 650,
// column 1 the number, column 2 the apartment (the table's rows and columns
// count from 0 and have no fixed row or column of their own).
#pragma once

#include "files/number_grid.h"

class QTableWidget;

class StringGridAdapter : public NumberGrid {
  public:
    explicit StringGridAdapter(QTableWidget* table) : table_(table) {}
    void setCell(int col, int row, const std::string& utf8) override;
    std::string cell(int col, int row) const override;
    int rowCount() const override;

  private:
    QTableWidget* table_;
};
