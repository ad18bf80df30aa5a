#include "app/tform1.h"

TForm1::TForm1(const Options& options, QWidget* parent) : QMainWindow(parent), options_(options) {
    setWindowTitle(QString::fromUtf8("Ключ GSM VX-RT-7 \"Велиран\" v3.0"));
}

TForm1::~TForm1() = default;
