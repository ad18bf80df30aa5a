// The main window's description and the About box, built for real on the
// offscreen platform: names, captions, defaults, limits, visibility and
// enabled state of every control, the grids, the menu, the fixed geometry,
// captions that fit, and names for assistive technology.
#include "app/tform1_ui.h"
#include "app/tform2.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOption>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

class WindowLayout : public ::testing::Test {
  protected:
    void SetUp() override { ui.setupUi(&form); }

    QMainWindow form;
    TForm1Ui ui;
};

enum Flags : unsigned {
    kShown = 0,
    kHidden = 1,
    kDisabled = 2,
    kChecked = 4,
};

struct Expected {
    const char* name;
    QWidget* widget;
    const char* caption; // text of a label, button, box or edit; title of a group
    unsigned flags;
};

QString captionOf(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return group->title();
    }
    return QStringLiteral("<no caption>");
}

TEST_F(WindowLayout, EveryControlHasItsNameCaptionAndStartState) {
    const QString password = QString::fromLatin1(TForm1Ui::kFactoryPassword);
    const std::vector<Expected> table = {
        // Frame.
        {"Label6", ui.Label6, "Строка состояния", kShown},
        {"Label11", ui.Label11, "Число битых пакетов:", kHidden},
        {"Label7", ui.Label7, "0", kHidden},
        // Page "Редактирование".
        {"RzGroupBox2", ui.RzGroupBox2, "Редактирование номеров", kShown},
        {"Label9", ui.Label9, "Поиск номера", kShown},
        {"Edit1", ui.Edit1, "", kShown},
        {"RzToolButton5", ui.RzToolButton5, "", kShown},
        {"RzToolButton7", ui.RzToolButton7, "Импорт из CSV", kShown},
        {"Read_numbers", ui.Read_numbers, "Считать", kHidden},
        {"Add", ui.Add, "Добавить", kHidden},
        {"Del", ui.Del, "Удалить", kHidden},
        {"Erase_numbers", ui.Erase_numbers, "Импорт из CSV", kHidden},
        {"Number_ab", ui.Number_ab, "00000000000", kHidden},
        {"Label8", ui.Label8, "Кв.", kHidden},
        {"Kv", ui.Kv, "0", kHidden},
        {"RzGroupBox3", ui.RzGroupBox3, "Параметры устройства", kShown},
        {"Label4", ui.Label4, "Пароль", kShown},
        {"Connect", ui.Connect, "Соединиться", kDisabled},
        {"Disconnect", ui.Disconnect, "Разъдиниться", kDisabled},
        {"RzToolButton6", ui.RzToolButton6, "Работать автономно", kShown},
        {"Label3", ui.Label3, "Номер телефона", kHidden},
        {"Number_device", ui.Number_device, "00000000000", kHidden},
        {"RzGroupBox9", ui.RzGroupBox9, "Конфигурация", kShown},
        {"RzToolButton1", ui.RzToolButton1, "Открыть из файла", kShown},
        {"RzToolButton2", ui.RzToolButton2, "Сохранить в файл", kShown},
        {"RzToolButton3", ui.RzToolButton3, "Считать с устройства", kShown},
        {"RzToolButton4", ui.RzToolButton4, "Записать в устройство", kShown},
        // Page "Настройки".
        {"RzGroupBox10", ui.RzGroupBox10, "Общие", kShown},
        {"Label22", ui.Label22, "Номер владельца", kShown},
        {"Oh_num", ui.Oh_num, "", kShown},
        {"Label23", ui.Label23, "Номер устройства", kShown},
        {"Num_dev", ui.Num_dev, "1", kShown},
        {"RzGroupBox1", ui.RzGroupBox1, "Настройка Соединения", kShown},
        {"Label1", ui.Label1, "Порт", kShown},
        {"Label2", ui.Label2, "Скорость", kHidden},
        {"Label29", ui.Label29, "Порт", kHidden},
        {"Edit2", ui.Edit2, "10000", kHidden},
        {"Start_server", ui.Start_server, "Запустить", kHidden},
        {"RzGroupBox5", ui.RzGroupBox5, "Настройки соединения через Интернет", kShown},
        {"Label18", ui.Label18, "Порт сервера", kShown},
        {"Serv_port", ui.Serv_port, "2020", kShown},
        {"Label13", ui.Label13, "Новый пароль", kShown},
        {"ChPass", ui.ChPass, "Сменить", kShown},
        {"Label15", ui.Label15, "Оператор сотовой связи", kShown},
        {"Label16", ui.Label16, "Модем", kShown},
        {"Label17", ui.Label17, "\"GSM модуль\"", kShown},
        {"Send_APN", ui.Send_APN, "Сменить", kShown},
        {"RzGroupBox4", ui.RzGroupBox4, "Настройки", kShown},
        {"All_num_ch", ui.All_num_ch, "Принимать звонки с любого номера", kShown},
        {"SMS_ch", ui.SMS_ch, "СМС только с первого номера в памяти", kShown},
        {"RING_ch", ui.RING_ch, "Ответ в виде звонка", kShown},
        {"Label28", ui.Label28, "Информировать владельца о изменении состояния", kShown},
        {"Mes_in", ui.Mes_in, "Входа", kShown},
        {"Mes_rele", ui.Mes_rele, "Реле", kShown},
        {"SendToRing", ui.SendToRing, "Информировать звонящего о изменении состония входа", kShown},
        {"KEYNUMBUT", ui.KEYNUMBUT, "Управление реле по ключам i-button", kShown},
        {"Short_num", ui.Short_num, "Короткий номер: без \"8\"", kHidden},
        {"Label31", ui.Label31, "Код страны", kShown},
        {"Edit3", ui.Edit3, "+7", kShown},
        {"Label14", ui.Label14, "Режим работы реле", kShown},
        {"Label24", ui.Label24, "Импульс", kShown},
        {"act_time", ui.act_time, "1", kShown},
        {"Label26", ui.Label26, "Пауза", kShown},
        {"pause_time", ui.pause_time, "1", kShown},
        {"Label27", ui.Label27, "Повторять", kShown},
        {"povtor", ui.povtor, "1", kShown},
        {"Label30", ui.Label30, "Таймаум, сек", kShown},
        {"OUT_TOUT", ui.OUT_TOUT, "0", kShown},
        {"RzGroupBox6", ui.RzGroupBox6, "", kHidden},
        {"Debug_en", ui.Debug_en, "Включить режим диагностики ", kShown},
        {"Label12", ui.Label12, "Команда", kHidden},
        {"Comand_box", ui.Comand_box, "AT", kHidden},
        {"Button1", ui.Button1, "Отправить", kHidden},
        // Page "Охрана".
        {"RzGroupBox7", ui.RzGroupBox7, "", kShown},
        {"Ohrana_en", ui.Ohrana_en, "Режим охраны", kShown},
        {"Input_inv", ui.Input_inv, "Инверсия входа датчика", kShown},
        {"Label5", ui.Label5, "Время снятия с охраны, сек", kShown},
        {"T_in", ui.T_in, "20", kShown},
        {"Label10", ui.Label10, "Время постановки на охрану, сек", kShown},
        {"T_out", ui.T_out, "20", kShown},
        {"Label19", ui.Label19, "Время перепостановки, мин", kShown},
        {"T_mem", ui.T_mem, "5", kShown},
        {"Label21", ui.Label21, "Ключи touch memory", kShown},
        {"RzGroupBox8", ui.RzGroupBox8, "Режим работы входа ПОСТАНОВКА/СНЯТИЕ", kShown},
        {"rej_but1", ui.rej_but1, "Смена режима ОХРАНА/НАБЛЮДЕНИЕ - импульс", kShown},
        {"rej_but2", ui.rej_but2, "Активный уровень - ОХРАНА, неактивный - НАБЛЮДЕНИЕ", kShown},
        {"rej_but3", ui.rej_but3, "Переход в режим ОХРАНА - импульс или touch memory,", kShown},
        {"Label20", ui.Label20, "в режим НАБЛЮДЕНИЕ - touch memory", kShown},
        {"rej_but4", ui.rej_but4, "Смена режима ОХРАНА/НАБЛЮДЕНИЕ - touch memory", kChecked},
        // Page "Обновление ПО".
        {"Label25", ui.Label25, "Файл прошивки", kShown},
        {"Firmware_file", ui.Firmware_file, "", kShown},
        {"Open_FW", ui.Open_FW, "Открыть", kDisabled},
        {"Program", ui.Program, "Обновить", kDisabled},
        {"Reset_but", ui.Reset_but, "Перезагрузить", kShown},
        {"FW_ver", ui.FW_ver, "Версия:", kShown},
    };
    for (const Expected& row : table) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(row.widget, nullptr);
        EXPECT_EQ(row.widget->objectName(), QString::fromLatin1(row.name));
        EXPECT_EQ(form.findChild<QWidget*>(QString::fromLatin1(row.name)), row.widget)
            << "another widget carries the same name";
        EXPECT_EQ(captionOf(row.widget), u(row.caption));
        EXPECT_EQ(row.widget->isHidden(), (row.flags & kHidden) != 0);
        EXPECT_EQ(row.widget->isEnabled(), (row.flags & kDisabled) == 0);
        if (const auto* button = qobject_cast<const QAbstractButton*>(row.widget);
            button != nullptr && button->isCheckable()) {
            EXPECT_EQ(button->isChecked(), (row.flags & kChecked) != 0);
        }
    }
    // Every option of the configuration block starts clear; the fourth input
    // mode is the only radio button set.
    for (QCheckBox* box : form.findChildren<QCheckBox*>()) {
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
    }
    // The factory password is four digits, and the new password starts equal to
    // it, so that pressing "Сменить" unchanged keeps the device's password.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]{4}$")).match(password).hasMatch());
    EXPECT_EQ(ui.Password->text(), password);
    EXPECT_EQ(ui.New_pass->text(), password);
}

TEST_F(WindowLayout, EditBoxesHaveTheirLengthLimitsAndReadOnlyState) {
    struct Limit {
        QLineEdit* edit;
        int maxLength;
    };
    const std::vector<Limit> limits = {
        {ui.Edit1, 10},         {ui.Number_ab, 11}, {ui.Kv, 3},          {ui.Password, 4},
        {ui.Number_device, 11}, {ui.Oh_num, 10},    {ui.Num_dev, 4},     {ui.Edit2, 5},
        {ui.Serv_port, 5},      {ui.New_pass, 4},   {ui.Edit3, 5},       {ui.act_time, 4},
        {ui.pause_time, 4},     {ui.povtor, 3},     {ui.OUT_TOUT, 3},    {ui.T_in, 4},
        {ui.T_out, 4},          {ui.T_mem, 4},      {ui.Comand_box, 98},
    };
    for (const Limit& limit : limits) {
        SCOPED_TRACE(limit.edit->objectName().toStdString());
        EXPECT_EQ(limit.edit->maxLength(), limit.maxLength);
        EXPECT_FALSE(limit.edit->isReadOnly());
    }
    EXPECT_TRUE(ui.Firmware_file->isReadOnly());
    EXPECT_TRUE(ui.Log->isReadOnly());
    EXPECT_EQ(ui.Log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(ui.Log->toPlainText().isEmpty());
}

TEST_F(WindowLayout, DropDownListsHoldTheirEntriesAndDefaults) {
    struct Combo {
        QComboBox* box;
        const char* name;
        QStringList entries;
        int current;
        bool hidden;
    };
    const QStringList units{u("мсек"), u("сек"), u("мин"), u("час")};
    const std::vector<Combo> combos = {
        {ui.Rate,
         "Rate",
         {"br110", "br300", "br600", "br1200", "br2400", "br4800", "br9600", "br14400", "br19200",
          "br38400", "br56000", "br57600", "br115200"},
         12,
         true},
        {ui.Modem_prov, "Modem_prov", {u("Билайн"), u("МТС"), u("Теле2")}, 2, false},
        {ui.Dev_prov, "Dev_prov", {u("Билайн"), u("МТС"), u("Теле2"), u("Мегафон")}, 2, false},
        {ui.RELE_REJ,
         "RELE_REJ",
         {u("Выключить"), u("Включить"), u("Инвертировать"), u("Импульс")},
         3,
         false},
        {ui.act_mul, "act_mul", units, 0, false},
        {ui.pause_mul, "pause_mul", units, 0, false},
    };
    for (const Combo& combo : combos) {
        SCOPED_TRACE(combo.name);
        EXPECT_EQ(combo.box->objectName(), QString::fromLatin1(combo.name));
        QStringList entries;
        for (int i = 0; i < combo.box->count(); ++i) {
            entries << combo.box->itemText(i);
        }
        EXPECT_EQ(entries, combo.entries);
        EXPECT_EQ(combo.box->currentIndex(), combo.current);
        EXPECT_FALSE(combo.box->isEditable()) << "a selection-only list";
        EXPECT_EQ(combo.box->isHidden(), combo.hidden);
    }
    EXPECT_EQ(ui.Rate->currentText(), QStringLiteral("br115200"));
    EXPECT_EQ(ui.Dev_prov->currentText(), u("Теле2"));

    // The port list can be typed into; it is filled when the window starts.
    EXPECT_EQ(ui.Port_Box->objectName(), QStringLiteral("Port_Box"));
    EXPECT_TRUE(ui.Port_Box->isEditable());
    EXPECT_EQ(ui.Port_Box->count(), 0);
    EXPECT_TRUE(ui.Port_Box->currentText().isEmpty());
    EXPECT_FALSE(ui.Port_Box->isHidden());
}

TEST_F(WindowLayout, TreeShowsFourPagesAndTheFirstPageIsShown) {
    const QStringList items{u("Редактирование"), u("Настройки"), u("Охрана"), u("Обновление ПО")};
    const QStringList pages{"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4"};
    const QStringList captions{u("Пользовательский режим"), u("Конфигурация"), u("Охрана"),
                               u("Обновление ПО")};
    const std::array<QWidget*, 4> sheets{ui.TabSheet1, ui.TabSheet2, ui.TabSheet3, ui.TabSheet4};

    ASSERT_EQ(ui.TreeView->topLevelItemCount(), 4);
    ASSERT_EQ(ui.PageControl->count(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QTreeWidgetItem* item = ui.TreeView->topLevelItem(i);
        EXPECT_EQ(item->text(0), items[i]);
        EXPECT_EQ(item->childCount(), 0);
        EXPECT_TRUE(item->icon(0).isNull());
        EXPECT_FALSE(item->flags() & Qt::ItemIsEditable);
        EXPECT_EQ(ui.PageControl->widget(i), sheets[i]);
        EXPECT_EQ(sheets[i]->objectName(), pages[i]);
        EXPECT_EQ(sheets[i]->windowTitle(), captions[i]);
    }
    EXPECT_TRUE(ui.TreeView->isHeaderHidden());
    EXPECT_EQ(ui.TreeView->indentation(), 19);
    EXPECT_EQ(ui.TreeView->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_TRUE(ui.TreeView->selectedItems().isEmpty()) << "no page is chosen at start";
    EXPECT_EQ(ui.TreeView->currentItem(), nullptr);
    EXPECT_EQ(ui.PageControl->currentIndex(), 0);
}

TEST_F(WindowLayout, MenuHoldsTheItemsWithTheirCaptions) {
    EXPECT_EQ(ui.MainMenu, form.menuBar());
    EXPECT_EQ(ui.MainMenu->objectName(), QStringLiteral("MainMenu"));
    EXPECT_EQ(ui.N2->text(), u("Конфигурация"));
    EXPECT_EQ(ui.N2->menu(), ui.N2Menu);

    struct Item {
        QAction* action;
        const char* name;
        const char* caption;
    };
    const std::vector<Item> submenu = {
        {ui.N3, "N3", "Открыть из файла"},
        {ui.N8, "N8", "Сохранить в файл"},
        {ui.N10, "N10", "Экспорт в CSV"},
        {ui.N6, "N6", "Считать с устройства"},
        {ui.N7, "N7", "Записать в устройство"},
        {ui.N11, "N11", "Записать изменения"},
        {ui.N9, "N9", "Выход"},
    };
    QList<QAction*> inSubmenu;
    for (QAction* action : ui.N2Menu->actions()) {
        if (!action->isSeparator()) {
            inSubmenu << action;
        }
    }
    ASSERT_EQ(inSubmenu.size(), static_cast<qsizetype>(submenu.size()));
    for (std::size_t i = 0; i < submenu.size(); ++i) {
        SCOPED_TRACE(submenu[i].name);
        EXPECT_EQ(inSubmenu[static_cast<qsizetype>(i)], submenu[i].action);
        EXPECT_EQ(submenu[i].action->objectName(), QString::fromLatin1(submenu[i].name));
        EXPECT_EQ(submenu[i].action->text(), u(submenu[i].caption));
        EXPECT_TRUE(submenu[i].action->isVisible());
        EXPECT_TRUE(submenu[i].action->isEnabled());
    }

    const QList<QAction*> bar = ui.MainMenu->actions();
    ASSERT_EQ(bar.size(), 3);
    EXPECT_EQ(bar[0], ui.N2);
    EXPECT_EQ(bar[1], ui.N1);
    EXPECT_EQ(bar[2], ui.N4);
    EXPECT_EQ(ui.N1->objectName(), QStringLiteral("N1"));
    EXPECT_EQ(ui.N1->text(), u("Руководство"));
    EXPECT_TRUE(ui.N1->isVisible());
    EXPECT_EQ(ui.N4->objectName(), QStringLiteral("N4"));
    EXPECT_EQ(ui.N4->text(), u("О программе..."));
    EXPECT_FALSE(ui.N4->isVisible());
    EXPECT_FALSE(ui.N4->isEnabled());
}

QStringList rowHeadings(const QTableWidget* grid) {
    QStringList headings;
    for (int row = 0; row < grid->rowCount(); ++row) {
        const QTableWidgetItem* item = grid->verticalHeaderItem(row);
        headings << (item != nullptr ? item->text() : QString());
    }
    return headings;
}

QAbstractButton* cornerOf(QTableWidget* grid) {
    return grid->findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
}

TEST_F(WindowLayout, GridsHaveTheirShapeHeadingsAndEmptyCells) {
    struct Grid {
        QTableWidget* grid;
        const char* name;
        int rows;
        QStringList headings;
        QList<int> widths;
        int rowHeight;
    };
    const std::vector<Grid> grids = {
        {ui.StringGrid1, "StringGrid1", 650, {u("Номер телефона"), u("Кв.")}, {97, 33}, 16},
        {ui.iButton, "iButton", 5, {u("Код ключа")}, {108}, 19},
    };
    for (const Grid& expected : grids) {
        SCOPED_TRACE(expected.name);
        QTableWidget* grid = expected.grid;
        EXPECT_EQ(grid->objectName(), QString::fromLatin1(expected.name));
        ASSERT_EQ(grid->rowCount(), expected.rows);
        ASSERT_EQ(grid->columnCount(), expected.headings.size());
        QStringList numbers;
        for (int row = 1; row <= expected.rows; ++row) {
            numbers << QString::number(row);
        }
        EXPECT_EQ(rowHeadings(grid), numbers);
        for (int column = 0; column < grid->columnCount(); ++column) {
            EXPECT_EQ(grid->horizontalHeaderItem(column)->text(), expected.headings[column]);
            EXPECT_EQ(grid->columnWidth(column), expected.widths[column]);
        }
        ASSERT_NE(cornerOf(grid), nullptr);
        EXPECT_EQ(cornerOf(grid)->text(), u("№"));
        EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), expected.rowHeight);
        EXPECT_EQ(grid->rowHeight(expected.rows - 1), expected.rowHeight);
        // Later code writes into cells with setText, so every cell has an item.
        for (int row = 0; row < grid->rowCount(); ++row) {
            for (int column = 0; column < grid->columnCount(); ++column) {
                const QTableWidgetItem* item = grid->item(row, column);
                ASSERT_NE(item, nullptr) << row << "," << column;
                ASSERT_TRUE(item->text().isEmpty());
                ASSERT_TRUE(item->flags() & Qt::ItemIsEditable);
            }
        }
        EXPECT_TRUE(grid->editTriggers() & QAbstractItemView::AnyKeyPressed);
        EXPECT_EQ(grid->selectionMode(), QAbstractItemView::ContiguousSelection);
    }
    EXPECT_TRUE(ui.StringGrid1->horizontalHeader()->sectionsMovable());
    EXPECT_EQ(ui.StringGrid1->size(), QSize(185, 241));
    EXPECT_EQ(ui.iButton->size(), QSize(131, 121));
    EXPECT_EQ(ui.iButton->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(ui.iButton->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(WindowLayout, GridColumnsKeepTheirMeaningWhenDraggedElsewhere) {
    ui.StringGrid1->item(0, 0)->setText(QStringLiteral("9161234567"));
    ui.StringGrid1->item(0, 1)->setText(QStringLiteral("12"));
    ui.StringGrid1->horizontalHeader()->moveSection(0, 1);
    EXPECT_EQ(ui.StringGrid1->horizontalHeader()->visualIndex(0), 1);
    EXPECT_EQ(ui.StringGrid1->item(0, 0)->text(), QStringLiteral("9161234567"));
    EXPECT_EQ(ui.StringGrid1->horizontalHeaderItem(0)->text(), u("Номер телефона"));
}

TEST_F(WindowLayout, ChartIsAFixedRangeLinePreviewWithoutDecorations) {
    ASSERT_NE(ui.Chart, nullptr);
    EXPECT_EQ(ui.Chart->objectName(), QStringLiteral("Chart"));
    EXPECT_EQ(ui.Chart->size(), QSize(145, 66));
    EXPECT_EQ(ui.Chart->count(), 0);
    EXPECT_EQ(ui.Chart->frameShape(), QFrame::StyledPanel);
    const QColor pen = ui.Chart->lineColor();
    EXPECT_GT(pen.green(), 0);
    EXPECT_EQ(pen.red(), 0);
    EXPECT_EQ(pen.blue(), 0);
    EXPECT_DOUBLE_EQ(ui.Chart->minY(), -0.5);
    EXPECT_DOUBLE_EQ(ui.Chart->maxY(), 1.5);
    // Nothing but the frame: no child widgets for a title, legend or axes.
    EXPECT_TRUE(ui.Chart->findChildren<QWidget*>().isEmpty());
}

namespace {

bool isLine(QRgb pixel) {
    return qGreen(pixel) > 60 && qRed(pixel) < 60 && qBlue(pixel) < 60;
}

// The rows of column `x` where the line's colour is.
QList<int> lineRows(const QImage& image, int x) {
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (isLine(image.pixel(x, y))) {
            rows << y;
        }
    }
    return rows;
}

} // namespace

TEST_F(WindowLayout, ChartPaintsThePulseTrainHighThenLow) {
    RelayChart chart(ui.Chart);
    // One pulse of 1000 then a pause of 1000: high on the left half, low on
    // the right half, an edge in the middle.
    chart.show({{0, 1}, {1000, 1}, {1000, 0}, {2000, 0}});
    ASSERT_EQ(ui.Chart->count(), 4);
    EXPECT_DOUBLE_EQ(ui.Chart->minX(), 0);
    EXPECT_DOUBLE_EQ(ui.Chart->maxX(), 2000);
    const QImage image = ui.Chart->grab().toImage();
    ASSERT_EQ(image.size(), QSize(145, 66));

    const int highY = qRound(ui.Chart->map({0, 1}).y());
    const int lowY = qRound(ui.Chart->map({0, 0}).y());
    ASSERT_LT(highY, lowY);
    const int quarter = image.width() / 4;
    const QList<int> left = lineRows(image, quarter);
    const QList<int> right = lineRows(image, 3 * quarter);
    ASSERT_FALSE(left.isEmpty());
    ASSERT_FALSE(right.isEmpty());
    for (int y : left) {
        EXPECT_NEAR(y, highY, 1);
    }
    for (int y : right) {
        EXPECT_NEAR(y, lowY, 1);
    }
    // The falling edge covers the rows between the two levels.
    const int edgeX = qRound(ui.Chart->map({1000, 0}).x());
    qsizetype edge = 0;
    for (int x = edgeX - 1; x <= edgeX + 1; ++x) {
        edge = std::max(edge, lineRows(image, x).size());
    }
    EXPECT_GE(edge, lowY - highY - 1);

    // Cleared, the chart draws no line at all.
    ui.Chart->clear();
    const QImage empty = ui.Chart->grab().toImage();
    for (int x = 0; x < empty.width(); ++x) {
        EXPECT_TRUE(lineRows(empty, x).isEmpty()) << "column " << x;
    }
}

TEST_F(WindowLayout, ChartKeepsAWidthForATrainOfOnePoint) {
    ui.Chart->append({5, 1});
    EXPECT_DOUBLE_EQ(ui.Chart->minX(), 5);
    EXPECT_GT(ui.Chart->maxX(), ui.Chart->minX());
    const QPointF p = ui.Chart->map({5, 1});
    EXPECT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()));
    EXPECT_TRUE(ui.Chart->contentsRect().contains(p.toPoint()));
    ui.Chart->grab(); // paints without dividing by zero
}

TEST_F(WindowLayout, WindowHasTheFixedClientAreaAndTheDesignedPlaces) {
    form.show();
    QApplication::processEvents();

    // Client area: everything below the menu bar.
    const int menuHeight = ui.MainMenu->height();
    EXPECT_EQ(form.width(), 552);
    EXPECT_EQ(form.height() - menuHeight, 430);
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the window must not be resizable";
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(form.windowTitle(), u("Ключ GSM VX-RT-7 \"Велиран\" v3.0"));

    EXPECT_EQ(ui.centralWidget->geometry(), QRect(0, menuHeight, 552, 411));
    EXPECT_EQ(ui.TreeView->geometry(), QRect(8, 8, 113, 401));
    EXPECT_EQ(ui.PageControl->geometry(), QRect(128, 0, 417, 324));
    EXPECT_EQ(ui.Label6->pos(), QPoint(128, 322));
    EXPECT_EQ(ui.Log->geometry(), QRect(128, 336, 417, 71));
    EXPECT_EQ(ui.Label11->pos(), QPoint(401, 322));
    EXPECT_EQ(ui.Label7->pos(), QPoint(531, 322));

    // Status bar: full width at the bottom, 19 high, panels 150, 50 and the rest.
    EXPECT_EQ(ui.StatusBar, form.statusBar());
    EXPECT_EQ(ui.StatusBar->geometry(), QRect(0, menuHeight + 411, 552, 19));
    EXPECT_EQ(ui.StatusPanels[0]->width(), 150);
    EXPECT_EQ(ui.StatusPanels[1]->width(), 50);
    const int lastRight =
        ui.StatusPanels[2]->mapTo(ui.StatusBar, QPoint(ui.StatusPanels[2]->width(), 0)).x();
    EXPECT_GE(lastRight, 552 - 4) << "the last panel extends to the right edge";
    EXPECT_LT(ui.StatusPanels[0]->x(), ui.StatusPanels[1]->x());
    EXPECT_LT(ui.StatusPanels[1]->x(), ui.StatusPanels[2]->x());
    for (QLabel* panel : ui.StatusPanels) {
        EXPECT_TRUE(panel->text().isEmpty());
        EXPECT_EQ(panel->parentWidget(), ui.StatusBar);
    }
}

// The caption must fit the space its control gives it.
int captionRoom(QWidget* widget) {
    if (auto* push = qobject_cast<QPushButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(push);
        option.text = push->text();
        return push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push).width();
    }
    return widget->width();
}

int captionNeed(QWidget* widget) {
    if (auto* push = qobject_cast<QPushButton*>(widget)) {
        return push->fontMetrics().horizontalAdvance(push->text());
    }
    if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        return group->fontMetrics().horizontalAdvance(group->title()) + 12;
    }
    return widget->sizeHint().width();
}

bool hasCaption(QWidget* widget) {
    return qobject_cast<QLabel*>(widget) != nullptr ||
           qobject_cast<QAbstractButton*>(widget) != nullptr ||
           qobject_cast<QGroupBox*>(widget) != nullptr;
}

// Checks the visible controls placed on `parent` (not the inner parts of
// compound widgets): captions fit, nothing overlaps a sibling, and everything
// lies inside its parent's client part (below a group's title).
void checkPlacement(QWidget* parent, const QSet<QPair<QWidget*, QWidget*>>& allowedOverlaps) {
    QList<QWidget*> shown;
    for (QWidget* child : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->isVisibleTo(parent) && !child->objectName().isEmpty()) {
            shown << child;
        }
    }
    const QRect room = qobject_cast<QGroupBox*>(parent) ? parent->contentsRect() : parent->rect();
    for (QWidget* child : shown) {
        const std::string name = child->objectName().toStdString();
        EXPECT_TRUE(room.contains(child->geometry()))
            << name << " lies outside " << parent->objectName().toStdString();
        if (hasCaption(child)) {
            EXPECT_LE(captionNeed(child), captionRoom(child)) << name << " caption is clipped";
        }
        for (QWidget* other : shown) {
            if (other == child || allowedOverlaps.contains(qMakePair(child, other)) ||
                allowedOverlaps.contains(qMakePair(other, child))) {
                continue;
            }
            EXPECT_FALSE(child->geometry().intersects(other->geometry()))
                << name << " overlaps " << other->objectName().toStdString();
        }
        if (qobject_cast<QGroupBox*>(child) != nullptr) {
            checkPlacement(child, allowedOverlaps);
        }
    }
}

TEST_F(WindowLayout, CaptionsFitAndControlsDoNotOverlapOnEveryPage) {
    form.show();
    QApplication::processEvents();
    // The design puts the log's caption 2 pixels into the page area.
    const QSet<QPair<QWidget*, QWidget*>> allowed{{ui.PageControl, ui.Label6}};
    checkPlacement(ui.centralWidget, allowed);
    for (QWidget* page : {ui.TabSheet1, ui.TabSheet2, ui.TabSheet3, ui.TabSheet4}) {
        SCOPED_TRACE(page->objectName().toStdString());
        ui.PageControl->setCurrentWidget(page);
        QApplication::processEvents();
        checkPlacement(page, allowed);
    }

    // The Internet controls that appear later, with the longer caption of a
    // running server, and a firmware version, must fit as well.
    ui.PageControl->setCurrentWidget(ui.TabSheet2);
    ui.Label29->show();
    ui.Edit2->show();
    ui.Start_server->show();
    ui.Start_server->setText(u("Остановить"));
    ui.FW_ver->setText(u("Версия: 255"));
    checkPlacement(ui.RzGroupBox1, allowed);
    checkPlacement(ui.TabSheet4, allowed);
    // The diagnostic group, shown, keeps its own controls apart.
    ui.Label12->show();
    ui.Comand_box->show();
    ui.Button1->show();
    checkPlacement(ui.RzGroupBox6, allowed);
}

// Controls a user operates or reads, not the inner parts of compound widgets
// (a grid's headers and scroll bars, a drop-down's edit line, the menu's buttons).
QList<QWidget*> userControls(QWidget* root) {
    QList<QWidget*> controls;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        bool inner = false;
        for (QWidget* up = widget->parentWidget(); up != nullptr && up != root;
             up = up->parentWidget()) {
            if (qobject_cast<QAbstractScrollArea*>(up) || qobject_cast<QComboBox*>(up) ||
                qobject_cast<QMenuBar*>(up) || qobject_cast<QStatusBar*>(up)) {
                inner = true;
                break;
            }
        }
        const bool control =
            qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
            qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractItemView*>(widget) ||
            qobject_cast<QPlainTextEdit*>(widget) || qobject_cast<QProgressBar*>(widget) ||
            qobject_cast<RelayChartView*>(widget) || qobject_cast<QGroupBox*>(widget);
        if (control && !inner) {
            controls << widget;
        }
    }
    return controls;
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face != nullptr ? face->text(QAccessible::Name) : QString();
}

bool labelledBy(QWidget* widget, QLabel* label) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    if (face == nullptr) {
        return false;
    }
    for (const auto& relation : face->relations(QAccessible::Label)) {
        if (relation.first != nullptr && relation.first->object() == label) {
            return true;
        }
    }
    return false;
}

TEST_F(WindowLayout, EveryControlHasANameForAssistiveTechnology) {
    const QList<QWidget*> controls = userControls(&form);
    // The walk reaches the controls of every page, hidden ones included.
    for (QWidget* deep : std::initializer_list<QWidget*>{ui.StringGrid1, ui.Number_ab, ui.Rate,
                                                         ui.Comand_box, ui.rej_but4, ui.iButton,
                                                         ui.FW_load, ui.Chart, ui.TreeView}) {
        EXPECT_TRUE(controls.contains(deep)) << deep->objectName().toStdString();
    }
    for (QWidget* control : controls) {
        EXPECT_FALSE(accessibleName(control).trimmed().isEmpty())
            << control->metaObject()->className() << " " << control->objectName().toStdString()
            << " has no accessible name";
        EXPECT_FALSE(control->objectName().isEmpty())
            << control->metaObject()->className() << " has no object name";
    }
    struct Named {
        QWidget* widget;
        const char* name;
    };
    const std::vector<Named> named = {
        {ui.Log, "Строка состояния"},
        {ui.Password, "Пароль"},
        {ui.StringGrid1, "Редактирование номеров"},
        {ui.RzToolButton5, "Очистить список"},
        {ui.Edit1, "Поиск номера"},
        {ui.Oh_num, "Номер владельца"},
        {ui.T_mem, "Время перепостановки, мин"},
        {ui.iButton, "Ключи touch memory"},
        {ui.Mes_in, "Входа"},
        {ui.Connect, "Соединиться"},
        {ui.Firmware_file, "Файл прошивки"},
    };
    for (const Named& expected : named) {
        EXPECT_EQ(accessibleName(expected.widget), u(expected.name))
            << expected.widget->objectName().toStdString();
    }
    // A drop-down list on Linux is announced by its current entry, with its
    // label attached as the "labelled by" relation; elsewhere by its name.
    struct Labelled {
        QComboBox* box;
        QLabel* label;
    };
    for (const Labelled& pair :
         {Labelled{ui.Port_Box, ui.Label1}, Labelled{ui.Rate, ui.Label2},
          Labelled{ui.Modem_prov, ui.Label16}, Labelled{ui.Dev_prov, ui.Label17},
          Labelled{ui.RELE_REJ, ui.Label14}}) {
        SCOPED_TRACE(pair.box->objectName().toStdString());
        EXPECT_EQ(pair.box->accessibleName(), pair.label->text());
        EXPECT_TRUE(labelledBy(pair.box, pair.label));
    }
    EXPECT_TRUE(labelledBy(ui.Password, ui.Label4));
    EXPECT_TRUE(labelledBy(ui.T_in, ui.Label5));
    EXPECT_EQ(ui.RzToolButton5->toolTip(), u("Очистить список"));
    EXPECT_TRUE(ui.RzToolButton5->text().isEmpty());
    EXPECT_FALSE(ui.RzToolButton5->icon().isNull());
}

TEST_F(WindowLayout, MenuAndButtonIconsDrawTheStylesStandardPictures) {
    // The pictures are those of the platform's own style, read when drawn.
    auto* lazy = qobject_cast<QProxyStyle*>(form.style());
    ASSERT_NE(lazy, nullptr);
    QStyle* style = lazy->baseStyle();
    const struct {
        QIcon icon;
        QStyle::StandardPixmap which;
        const char* what;
    } icons[] = {
        {ui.N3->icon(), QStyle::SP_DialogOpenButton, "N3"},
        {ui.N8->icon(), QStyle::SP_DialogSaveButton, "N8"},
        {ui.N6->icon(), QStyle::SP_ArrowDown, "N6"},
        {ui.N7->icon(), QStyle::SP_ArrowUp, "N7"},
        {ui.N9->icon(), QStyle::SP_DialogCloseButton, "N9"},
        {ui.RzToolButton1->icon(), QStyle::SP_DialogOpenButton, "RzToolButton1"},
        {ui.RzToolButton4->icon(), QStyle::SP_ArrowUp, "RzToolButton4"},
        {ui.RzToolButton5->icon(), QStyle::SP_TrashIcon, "RzToolButton5"},
        {ui.RzToolButton6->icon(), QStyle::SP_ComputerIcon, "RzToolButton6"},
        {ui.RzToolButton7->icon(), QStyle::SP_FileIcon, "RzToolButton7"},
    };
    for (const auto& entry : icons) {
        SCOPED_TRACE(entry.what);
        EXPECT_FALSE(entry.icon.isNull());
        const QImage expected = style->standardIcon(entry.which).pixmap(16, 16).toImage();
        const QImage shown = entry.icon.pixmap(16, 16).toImage();
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(shown.convertToFormat(QImage::Format_ARGB32),
                  expected.convertToFormat(QImage::Format_ARGB32));
        EXPECT_EQ(entry.icon.actualSize(QSize(16, 16)), QSize(16, 16));
    }
    // The bar's own items show their caption only.
    EXPECT_TRUE(ui.N1->icon().isNull());
    EXPECT_TRUE(ui.N4->icon().isNull());
}

TEST(AboutBox, ShowsPictureProductAndVersionAndClosesWithOk) {
    TForm2 about;
    EXPECT_TRUE(about.isModal());
    ASSERT_NE(about.Image1, nullptr);
    const QPixmap picture = about.Image1->pixmap();
    ASSERT_FALSE(picture.isNull());
    // A picture is drawn, not left blank: some pixels differ from the first.
    const QImage image = picture.toImage();
    int differing = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            differing += image.pixel(x, y) != image.pixel(0, 0) ? 1 : 0;
        }
    }
    EXPECT_GT(differing, 100);

    EXPECT_TRUE(about.ProductLabel->text().contains(QStringLiteral("VX-RT-7")));
    EXPECT_TRUE(about.VersionLabel->text().contains(QStringLiteral(VXRT7_VERSION)));
    EXPECT_FALSE(about.PurposeLabel->text().isEmpty());
    EXPECT_EQ(about.OKButton->text(), QStringLiteral("OK"));

    bool centred = false;
    QTimer::singleShot(0, &about, [&] {
        const QRect desktop = about.screen()->availableGeometry();
        centred = (about.geometry().center() - desktop.center()).manhattanLength() <= 2;
        about.OKButton->click();
    });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
    EXPECT_TRUE(centred);
    EXPECT_FALSE(about.isVisible());
}

} // namespace
