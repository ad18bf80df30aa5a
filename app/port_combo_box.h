// The port list: an editable combo box that says when its list is about to
// drop down, so the list can be discovered anew at that moment.
#pragma once

#include <QComboBox>

class PortComboBox : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;

  signals:
    void aboutToDropDown();

  public:
    void showPopup() override {
        emit aboutToDropDown();
        QComboBox::showPopup();
    }
};
