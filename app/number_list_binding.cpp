#include "app/number_list_binding.h"

#include "app/tform1_ui.h"
#include "session/device_session.h"
#include "session/number_list.h"

namespace {

std::string s(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

NumberListBinding::NumberListBinding(TForm1Ui& ui, NumberGrid& grid, DeviceSession& session,
                                     QObject* parent)
    : QObject(parent), ui_(ui), grid_(grid), session_(session) {
    connect(ui_.Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(ui_.RzToolButton5, &QAbstractButton::clicked, this, [this] { RzToolButton5Click(); });
    connect(ui_.Read_numbers, &QAbstractButton::clicked, this, [this] { Read_numbersClick(); });
    connect(ui_.Add, &QAbstractButton::clicked, this, [this] { AddClick(); });
    connect(ui_.Del, &QAbstractButton::clicked, this, [this] { DelClick(); });
    connect(ui_.Erase_numbers, &QAbstractButton::clicked, this, [this] { Erase_numbersClick(); });
}

std::string NumberListBinding::password() const {
    return s(ui_.Password->text());
}

void NumberListBinding::writeHeadings() {
    QTableWidget* grid = ui_.StringGrid1;
    grid->setHorizontalHeaderItem(kNumberColumn,
                                  new QTableWidgetItem(QString::fromUtf8("Номер телефона")));
    grid->setHorizontalHeaderItem(kApartmentColumn, new QTableWidgetItem(QString::fromUtf8("Кв.")));
}

void NumberListBinding::Edit1Change() {
    const int row = number_list::findNumberRow(grid_, s(ui_.Edit1->text()));
    if (row == 0) {
        return;
    }
    QTableWidget* grid = ui_.StringGrid1;
    const int column = grid->currentColumn() >= 0 ? grid->currentColumn() : kNumberColumn;
    grid->setCurrentCell(row - 1, column);
    grid->scrollToItem(grid->item(row - 1, column));
}

void NumberListBinding::RzToolButton5Click() {
    number_list::clearNumbers(grid_);
    writeHeadings();
}

void NumberListBinding::Read_numbersClick() {
    writeHeadings();
    session_.readNumbers(password());
}

void NumberListBinding::AddClick() {
    session_.addNumber(password(), s(ui_.Number_ab->text()), s(ui_.Kv->text()));
}

void NumberListBinding::DelClick() {
    session_.deleteNumber(password(), s(ui_.Number_ab->text()));
}

void NumberListBinding::Erase_numbersClick() {
    session_.eraseNumbers(password());
}
