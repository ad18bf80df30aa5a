#include "app/string_grid_adapter.h"

#include <QTableWidget>
#include <stdexcept>

void StringGridAdapter::setCell(int col, int row, const std::string& utf8) {
    if (!isEntryCell(col, row)) {
        throw std::out_of_range("number grid cell (" + std::to_string(col) + ", " +
                                std::to_string(row) + ") does not exist");
    }
    QTableWidgetItem* item = table_->item(row - 1, col - 1);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        table_->setItem(row - 1, col - 1, item);
    }
    item->setText(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

std::string StringGridAdapter::cell(int col, int row) const {
    if (!isEntryCell(col, row)) {
        throw std::out_of_range("number grid cell (" + std::to_string(col) + ", " +
                                std::to_string(row) + ") does not exist");
    }
    const QTableWidgetItem* item = table_->item(row - 1, col - 1);
    return item == nullptr ? std::string() : item->text().toUtf8().toStdString();
}

int StringGridAdapter::rowCount() const {
    return std::min(table_->rowCount(), kRows);
}
