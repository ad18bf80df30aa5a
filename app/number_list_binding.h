// The window side of the subscriber number list: the search box, the clear
// button, the number read and the hidden single-number buttons on the grid
// StringGrid1. The transfers themselves are the device session's.
//
// The user may drag the grid's columns to new places. Everything here and in
// the logic addresses the table's own (logical) columns, which keep their
// cells and headings wherever they are shown, so the number stays the number.
#pragma once

#include "files/number_grid.h"

#include <QObject>

#include <string>

class DeviceSession;
class TForm1Ui;

class NumberListBinding : public QObject {
  public:
    // Connects the handlers to the controls of `ui`; everything passed in
    // must outlive the binding. `grid` is StringGrid1 as the logic sees it.
    NumberListBinding(TForm1Ui& ui, NumberGrid& grid, DeviceSession& session,
                      QObject* parent = nullptr);

    // Handlers of the controls.
    void Edit1Change();        // the search text changed: the first match becomes current
    void RzToolButton5Click(); // "Очистить список"
    void Read_numbersClick();  // clear the list and ask the device for its list
    void AddClick();           // hidden: add Number_ab with Kv on the device
    void DelClick();           // hidden: delete Number_ab on the device
    void Erase_numbersClick(); // hidden: erase the device's list

    // Row 0 of the number and apartment columns.
    void writeHeadings();

  private:
    std::string password() const;

    TForm1Ui& ui_;
    NumberGrid& grid_;
    DeviceSession& session_;
};
