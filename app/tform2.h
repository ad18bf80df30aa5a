// The About box: a small modal dialog with a picture, the product, its version
// and what the program is for, closed with "OK".
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TForm2 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);

    // The picture: a relay key with its antenna, drawn here rather than loaded.
    static QPixmap drawPicture(int side);

    QLabel* Image1 = nullptr;
    QLabel* ProductLabel = nullptr;
    QLabel* VersionLabel = nullptr;
    QLabel* PurposeLabel = nullptr;
    QPushButton* OKButton = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
};
