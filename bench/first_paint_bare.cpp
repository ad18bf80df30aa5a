// Start-up probe of a bare Qt Widgets window for comparison with the
// configurator's: a QMainWindow of the same size whose only content is a
// 650 x 2 QTableWidget built and filled the way the number grid is (heading
// labels, row numbers "1".."650", an empty item in every cell, fixed
// sections). It links Qt Widgets only. Run by idle_startup; by hand:
//   QT_QPA_PLATFORM=offscreen build/bin/first_paint_bare
#include "first_paint.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QStringList>
#include <QTableWidget>
#include <QTimer>

int main(int argc, char* argv[]) {
    first_paint::Marks marks;
    marks.main = first_paint::monotonicNs();
    first_paint::ProbeApplication app(argc, argv, marks);

    constexpr int kRows = 650;
    constexpr int kRowHeight = 16;
    QMainWindow window;
    auto* grid = new QTableWidget(kRows, 2, &window);
    grid->setHorizontalHeaderLabels(
        {QString::fromUtf8("Номер телефона"), QString::fromUtf8("Кв.")});
    QStringList rowNumbers;
    for (int row = 1; row <= kRows; ++row) {
        rowNumbers << QString::number(row);
    }
    grid->setVerticalHeaderLabels(rowNumbers);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < grid->columnCount(); ++column) {
            grid->setItem(row, column, new QTableWidgetItem());
        }
    }
    QHeaderView* rowHeading = grid->verticalHeader();
    rowHeading->setMinimumSectionSize(kRowHeight);
    rowHeading->setDefaultSectionSize(kRowHeight);
    rowHeading->setSectionResizeMode(QHeaderView::Fixed);
    rowHeading->setDefaultAlignment(Qt::AlignCenter);
    rowHeading->setFixedWidth(30);
    QHeaderView* columnHeading = grid->horizontalHeader();
    columnHeading->setMinimumSectionSize(10);
    columnHeading->setFixedHeight(kRowHeight + 2);
    columnHeading->setSectionResizeMode(QHeaderView::Fixed);
    columnHeading->resizeSection(0, 97);
    columnHeading->resizeSection(1, 33);
    window.setCentralWidget(grid);
    // The configurator's window: 552 x 430 client area below a menu bar.
    window.setFixedSize(552, 430 + 22);
    marks.window = first_paint::monotonicNs();

    app.watch(&window);
    window.show();
    marks.shown = first_paint::monotonicNs();
    QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(3); });
    return app.exec();
}
