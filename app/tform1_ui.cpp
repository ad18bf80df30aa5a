#include "app/tform1_ui.h"

#include "app/port_combo_box.h"

#include "app/digit_filter.h"
#include "app/grid_delegates.h"
#include "app/lazy_icon_style.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOption>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>

namespace {

// The design's 8-point font does not exist here; DejaVu Sans at 10 pixels keeps
// every caption of the fixed-size window inside its control.
constexpr int kFontPixels = 10;
constexpr int kFieldHeight = 18; // edit boxes and drop-down lists
constexpr int kRowButtonHeight = 19;
constexpr int kButtonHeight = 26;

QString tr8(const char* text) {
    return QString::fromUtf8(text);
}

QLabel* makeLabel(QWidget* parent, const char* name, const char* caption, int x, int y,
                  int height = kFieldHeight) {
    auto* label = new QLabel(tr8(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setGeometry(x, y, label->sizeHint().width(), height);
    return label;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, int maxLength,
                    const QRect& place, const QString& accessibleName) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    if (maxLength > 0) {
        edit->setMaxLength(maxLength);
    }
    edit->setText(text);
    edit->setGeometry(place);
    edit->setAccessibleName(accessibleName);
    return edit;
}

// An edit box placed right of its label, which names it for assistive technology.
QLineEdit* makeLabelledEdit(QWidget* parent, const char* name, QLabel* label, const QString& text,
                            int maxLength, int x, int width) {
    QLineEdit* edit = makeEdit(parent, name, text, maxLength,
                               QRect(x, label->y(), width, kFieldHeight), label->text());
    label->setBuddy(edit);
    return edit;
}

template <typename Combo = QComboBox>
Combo* makeCombo(QWidget* parent, const char* name, const QStringList& items, int current,
                 const QRect& place, const QString& accessibleName) {
    auto* combo = new Combo(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->addItems(items);
    combo->setCurrentIndex(current);
    combo->setGeometry(place);
    combo->setAccessibleName(accessibleName);
    return combo;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption,
                        const QRect& place) {
    auto* button = new QPushButton(tr8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    return button;
}

QToolButton* makeToolButton(QWidget* parent, const char* name, const char* caption,
                            const QIcon& icon, const QRect& place) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(tr8(caption));
    button->setIcon(icon);
    button->setIconSize(QSize(16, 16));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setGeometry(place);
    return button;
}

QCheckBox* makeCheck(QWidget* parent, const char* name, const char* caption, int x, int y,
                     int height = kFieldHeight) {
    auto* check = new QCheckBox(tr8(caption), parent);
    check->setObjectName(QString::fromLatin1(name));
    check->setGeometry(x, y, check->sizeHint().width(), height);
    return check;
}

QRadioButton* makeRadio(QWidget* parent, const char* name, const char* caption, int x, int y) {
    auto* radio = new QRadioButton(tr8(caption), parent);
    radio->setObjectName(QString::fromLatin1(name));
    radio->setGeometry(x, y, radio->sizeHint().width(), 16);
    return radio;
}

QGroupBox* makeGroup(QWidget* parent, const char* name, const char* caption, const QRect& place) {
    auto* group = new QGroupBox(tr8(caption), parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(place);
    return group;
}

// Draws the heading text of the grid's top-left cell, which a table view
// leaves blank.
class CornerHeading : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* corner = qobject_cast<QAbstractButton*>(watched);
        if (corner == nullptr || event->type() != QEvent::Paint) {
            return false;
        }
        QStyleOptionHeader option;
        option.initFrom(corner);
        option.state = QStyle::State_None;
        if (corner->isEnabled()) {
            option.state |= QStyle::State_Enabled;
        }
        if (corner->isActiveWindow()) {
            option.state |= QStyle::State_Active;
        }
        if (corner->isDown()) {
            option.state |= QStyle::State_Sunken;
        }
        option.rect = corner->rect();
        option.position = QStyleOptionHeader::OnlyOneSection;
        option.text = corner->text();
        option.textAlignment = Qt::AlignCenter;
        QPainter painter(corner);
        corner->style()->drawControl(QStyle::CE_Header, &option, &painter, corner);
        return true;
    }
};

struct GridShape {
    int rows;
    QStringList headings;
    int rowHeadingWidth;
    QList<int> columnWidths;
    int rowHeight;
};

// A string grid in the manner of the design: a heading row, a column of row
// numbers "1".."rows", the corner "№", and empty cells ready for setText.
QTableWidget* makeGrid(QWidget* parent, const char* name, const GridShape& shape,
                       const QRect& place, const QString& accessibleName) {
    auto* grid = new QTableWidget(shape.rows, static_cast<int>(shape.headings.size()), parent);
    grid->setObjectName(QString::fromLatin1(name));
    grid->setAccessibleName(accessibleName);
    grid->setHorizontalHeaderLabels(shape.headings);
    QStringList rowNumbers;
    for (int row = 1; row <= shape.rows; ++row) {
        rowNumbers << QString::number(row);
    }
    grid->setVerticalHeaderLabels(rowNumbers);
    for (int row = 0; row < shape.rows; ++row) {
        for (int column = 0; column < grid->columnCount(); ++column) {
            grid->setItem(row, column, new QTableWidgetItem());
        }
    }

    QHeaderView* rowHeading = grid->verticalHeader();
    rowHeading->setMinimumSectionSize(shape.rowHeight);
    rowHeading->setDefaultSectionSize(shape.rowHeight);
    rowHeading->setSectionResizeMode(QHeaderView::Fixed);
    rowHeading->setDefaultAlignment(Qt::AlignCenter);
    rowHeading->setFixedWidth(shape.rowHeadingWidth);

    QHeaderView* columnHeading = grid->horizontalHeader();
    columnHeading->setMinimumSectionSize(10);
    columnHeading->setFixedHeight(shape.rowHeight + 2);
    columnHeading->setSectionResizeMode(QHeaderView::Fixed);
    for (int column = 0; column < shape.columnWidths.size(); ++column) {
        columnHeading->resizeSection(column, shape.columnWidths[column]);
    }

    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
    grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setWordWrap(false);
    // Tab leaves the grid, as in the rest of the window.
    grid->setTabKeyNavigation(false);

    if (auto* corner = grid->findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        corner->setText(tr8("№"));
        corner->installEventFilter(new CornerHeading(grid));
    }
    grid->setGeometry(place);
    return grid;
}

} // namespace

QString TForm1Ui::openDialogFilter() {
    return QStringLiteral("File configuration [*.fcd] (*.fcd);;Binary files [*.bin] (*.bin);;"
                          "CSV file [*.csv] (*.csv)");
}

QString TForm1Ui::saveDialogFilter() {
    return QStringLiteral("File configuration [*.fcd] (*.fcd)");
}

void TForm1Ui::setupUi(QMainWindow* form) {
    // Standard icons are read when first drawn: the menu bar's overflow
    // button alone would otherwise decode a set of pictures at start-up.
    LazyIconStyle::install();
    if (form->objectName().isEmpty()) {
        form->setObjectName(QStringLiteral("Form1"));
    }
    form->setWindowTitle(tr8("Ключ GSM VX-RT-7 \"Велиран\" v3.0"));
    // A single border: system menu, minimise and close, no maximise.
    form->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(kFontPixels);
    form->setFont(font);

    KeyPressDigit = new DigitFilter(form);

    setupMenu(form);
    setupFrame(form);
    setupUserPage();
    setupSettingsPage();
    setupGuardPage();
    setupFirmwarePage();
    setupStatusBar(form);

    for (QLineEdit* edit : {Edit2, OUT_TOUT, Oh_num, Num_dev, T_in, T_out, T_mem}) {
        KeyPressDigit->install(edit);
    }

    // The client area (below the menu bar) is fixed; the window takes its size
    // from it and sits in the middle of the desktop.
    const QSize size(kClientWidth, kClientHeight + MainMenu->sizeHint().height());
    form->setFixedSize(size);
    if (const QScreen* screen = form->screen()) {
        const QRect desktop = screen->availableGeometry();
        form->move(desktop.center() - QPoint(size.width() / 2, size.height() / 2));
    }
}

void TForm1Ui::setupMenu(QMainWindow* form) {
    QStyle* style = form->style();
    MainMenu = form->menuBar();
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    MainMenu->setAccessibleName(tr8("Главное меню"));

    N2Menu = new QMenu(tr8("Конфигурация"), MainMenu);
    N2Menu->setObjectName(QStringLiteral("N2Menu"));
    N2Menu->setFont(form->font());
    N2 = N2Menu->menuAction();
    N2->setObjectName(QStringLiteral("N2"));
    MainMenu->addMenu(N2Menu);

    auto item = [&](const char* name, const char* caption) {
        auto* action = new QAction(tr8(caption), form);
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    auto iconItem = [&](const char* name, const char* caption, QStyle::StandardPixmap icon) {
        QAction* action = item(name, caption);
        action->setIcon(style->standardIcon(icon));
        return action;
    };
    N3 = iconItem("N3", "Открыть из файла", QStyle::SP_DialogOpenButton);
    N8 = iconItem("N8", "Сохранить в файл", QStyle::SP_DialogSaveButton);
    N10 = iconItem("N10", "Экспорт в CSV", QStyle::SP_FileDialogDetailedView);
    N6 = iconItem("N6", "Считать с устройства", QStyle::SP_ArrowDown);
    N7 = iconItem("N7", "Записать в устройство", QStyle::SP_ArrowUp);
    N11 = item("N11", "Записать изменения");
    N9 = iconItem("N9", "Выход", QStyle::SP_DialogCloseButton);
    // Items of the bar itself show their caption, not a picture.
    N1 = item("N1", "Руководство");
    N4 = item("N4", "О программе...");
    N2Menu->addAction(N3);
    N2Menu->addAction(N8);
    N2Menu->addAction(N10);
    N2Menu->addSeparator();
    N2Menu->addAction(N6);
    N2Menu->addAction(N7);
    N2Menu->addAction(N11);
    N2Menu->setToolTipsVisible(true);
    N2Menu->addSeparator();
    N2Menu->addAction(N9);
    MainMenu->addAction(N1);
    MainMenu->addAction(N4);
    N4->setVisible(false);
    N4->setEnabled(false);
}

void TForm1Ui::setupFrame(QMainWindow* form) {
    centralWidget = new QWidget(form);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    form->setCentralWidget(centralWidget);

    TreeView = new QTreeWidget(centralWidget);
    TreeView->setObjectName(QStringLiteral("TreeView"));
    TreeView->setAccessibleName(tr8("Разделы"));
    TreeView->setGeometry(8, 8, 113, 401);
    TreeView->setColumnCount(1);
    TreeView->setHeaderHidden(true);
    TreeView->setRootIsDecorated(false);
    TreeView->setIndentation(19);
    TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView->setFrameShape(QFrame::StyledPanel);
    TreeView->setFrameShadow(QFrame::Plain);
    for (const char* text : {"Редактирование", "Настройки", "Охрана", "Обновление ПО"}) {
        TreeView->addTopLevelItem(new QTreeWidgetItem(QStringList{tr8(text)}));
    }
    TreeView->setCurrentItem(nullptr);
    TreeView->clearSelection();

    PageControl = new QStackedWidget(centralWidget);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setGeometry(128, 0, 417, 324);
    auto page = [&](const char* name, const char* caption) {
        auto* sheet = new QWidget();
        sheet->setObjectName(QString::fromLatin1(name));
        sheet->setWindowTitle(tr8(caption));
        sheet->setAccessibleName(tr8(caption));
        PageControl->addWidget(sheet);
        return sheet;
    };
    TabSheet1 = page("TabSheet1", "Пользовательский режим");
    TabSheet2 = page("TabSheet2", "Конфигурация");
    TabSheet3 = page("TabSheet3", "Охрана");
    TabSheet4 = page("TabSheet4", "Обновление ПО");
    PageControl->setCurrentIndex(0);

    Label6 = makeLabel(centralWidget, "Label6", "Строка состояния", 128, 322, 14);
    Log = new QPlainTextEdit(centralWidget);
    Log->setObjectName(QStringLiteral("Log"));
    Log->setAccessibleName(Label6->text());
    Log->setGeometry(128, 336, 417, 71);
    Log->setReadOnly(true);
    // A busy server logs a line per connection: the oldest lines go first.
    Log->setMaximumBlockCount(kLogLines);
    Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Log->setFrameShape(QFrame::StyledPanel);
    Log->setFrameShadow(QFrame::Sunken);
    Label6->setBuddy(Log);
    Label6->raise();

    Label11 = makeLabel(centralWidget, "Label11", "Число битых пакетов:", 401, 322, 14);
    Label7 = makeLabel(centralWidget, "Label7", "0", 531, 322, 14);
    Label11->hide();
    Label7->hide();
}

void TForm1Ui::setupStatusBar(QMainWindow* form) {
    StatusBar = new QStatusBar(form);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setAccessibleName(tr8("Панель состояния"));
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFixedHeight(kStatusBarHeight);
    form->setStatusBar(StatusBar);
    const std::array<int, 3> widths{150, 50, 0};
    for (std::size_t i = 0; i < StatusPanels.size(); ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(3);
        if (widths[i] > 0) {
            panel->setFixedWidth(widths[i]);
            StatusBar->addWidget(panel, 0);
        } else {
            StatusBar->addWidget(panel, 1); // the last panel runs to the right edge
        }
        StatusPanels[i] = panel;
    }
}

void TForm1Ui::setupUserPage() {
    QStyle* style = TabSheet1->style();

    // Left half: the number list.
    RzGroupBox2 =
        makeGroup(TabSheet1, "RzGroupBox2", "Редактирование номеров", QRect(2, 2, 204, 320));
    Label9 = makeLabel(RzGroupBox2, "Label9", "Поиск номера", 8, 17);
    const int searchX = Label9->geometry().right() + 7;
    Edit1 = makeLabelledEdit(RzGroupBox2, "Edit1", Label9, QString(), 10, searchX, 193 - searchX);
    StringGrid1 = makeGrid(RzGroupBox2, "StringGrid1",
                           {kNumberRows, {tr8("Номер телефона"), tr8("Кв.")}, 30, {97, 33}, 16},
                           QRect(8, 41, 185, 241), RzGroupBox2->title());
    // Columns may be dragged to a new place; the table keeps each column's
    // cells with it, so column 0 stays the number wherever it is shown.
    StringGrid1->horizontalHeader()->setSectionsMovable(true);
    StringGrid1Delegate = new NumberGridDelegate(StringGrid1);
    StringGrid1->setItemDelegate(StringGrid1Delegate);

    RzToolButton5 =
        makeToolButton(RzGroupBox2, "RzToolButton5", "", style->standardIcon(QStyle::SP_TrashIcon),
                       QRect(8, 288, 26, 24));
    RzToolButton5->setToolButtonStyle(Qt::ToolButtonIconOnly);
    RzToolButton5->setToolTip(tr8("Очистить список"));
    RzToolButton5->setAccessibleName(tr8("Очистить список"));
    RzToolButton7 =
        makeToolButton(RzGroupBox2, "RzToolButton7", "Импорт из CSV",
                       style->standardIcon(QStyle::SP_FileIcon), QRect(40, 288, 153, 24));

    // Single-number commands, kept hidden.
    Read_numbers = makeButton(RzGroupBox2, "Read_numbers", "Считать", QRect(8, 262, 60, 22));
    Add = makeButton(RzGroupBox2, "Add", "Добавить", QRect(70, 262, 60, 22));
    Del = makeButton(RzGroupBox2, "Del", "Удалить", QRect(132, 262, 60, 22));
    Erase_numbers =
        makeButton(RzGroupBox2, "Erase_numbers", "Импорт из CSV", QRect(8, 288, 120, 22));
    Number_ab = makeEdit(RzGroupBox2, "Number_ab", QStringLiteral("00000000000"), 11,
                         QRect(8, 240, 90, kFieldHeight), tr8("Номер абонента"));
    Label8 = makeLabel(RzGroupBox2, "Label8", "Кв.", 104, 240);
    Kv = makeLabelledEdit(RzGroupBox2, "Kv", Label8, QStringLiteral("0"), 3,
                          Label8->geometry().right() + 5, 40);
    for (QWidget* hidden : std::initializer_list<QWidget*>{Read_numbers, Add, Del, Erase_numbers,
                                                           Number_ab, Label8, Kv}) {
        hidden->hide();
    }

    // Top right: the device's password and the link buttons.
    RzGroupBox3 =
        makeGroup(TabSheet1, "RzGroupBox3", "Параметры устройства", QRect(210, 2, 205, 150));
    Label4 = makeLabel(RzGroupBox3, "Label4", "Пароль", 8, 20);
    Password =
        makeLabelledEdit(RzGroupBox3, "Password", Label4, QString::fromLatin1(kFactoryPassword), 4,
                         Label4->geometry().right() + 7, 50);
    Connect = makeButton(RzGroupBox3, "Connect", "Соединиться", QRect(8, 46, 189, kButtonHeight));
    Connect->setEnabled(false);
    Disconnect =
        makeButton(RzGroupBox3, "Disconnect", "Разъдиниться", QRect(8, 78, 189, kButtonHeight));
    Disconnect->setEnabled(false);
    RzToolButton6 = makeToolButton(RzGroupBox3, "RzToolButton6", "Работать автономно",
                                   style->standardIcon(QStyle::SP_ComputerIcon),
                                   QRect(8, 110, 189, kButtonHeight));
    // The modem's number, used only by the modem call, is kept hidden.
    Label3 = makeLabel(RzGroupBox3, "Label3", "Номер телефона", 8, 46);
    Number_device = makeLabelledEdit(RzGroupBox3, "Number_device", Label3,
                                     QStringLiteral("00000000000"), 11, 105, 92);
    Label3->hide();
    Number_device->hide();

    // Bottom right: configuration file and transfer.
    RzGroupBox9 = makeGroup(TabSheet1, "RzGroupBox9", "Конфигурация", QRect(210, 156, 205, 166));
    RzToolButton1 = makeToolButton(RzGroupBox9, "RzToolButton1", "Открыть из файла", N3->icon(),
                                   QRect(8, 22, 189, kButtonHeight));
    RzToolButton2 = makeToolButton(RzGroupBox9, "RzToolButton2", "Сохранить в файл", N8->icon(),
                                   QRect(8, 56, 189, kButtonHeight));
    RzToolButton3 = makeToolButton(RzGroupBox9, "RzToolButton3", "Считать с устройства", N6->icon(),
                                   QRect(8, 90, 189, kButtonHeight));
    RzToolButton4 = makeToolButton(RzGroupBox9, "RzToolButton4", "Записать в устройство",
                                   N7->icon(), QRect(8, 124, 189, kButtonHeight));
}

void TForm1Ui::setupSettingsPage() {
    // Top left: general.
    RzGroupBox10 = makeGroup(TabSheet2, "RzGroupBox10", "Общие", QRect(2, 0, 206, 58));
    Label22 = makeLabel(RzGroupBox10, "Label22", "Номер владельца", 8, 17);
    Label23 = makeLabel(RzGroupBox10, "Label23", "Номер устройства", 8, 37);
    const int generalX = std::max(Label22->geometry().right(), Label23->geometry().right()) + 7;
    Oh_num = makeLabelledEdit(RzGroupBox10, "Oh_num", Label22, QString(), 10, generalX, 80);
    Num_dev =
        makeLabelledEdit(RzGroupBox10, "Num_dev", Label23, QStringLiteral("1"), 4, generalX, 40);

    // Top right: the link.
    RzGroupBox1 =
        makeGroup(TabSheet2, "RzGroupBox1", "Настройка Соединения", QRect(212, 0, 203, 58));
    Label1 = makeLabel(RzGroupBox1, "Label1", "Порт", 8, 17);
    const int linkX = Label1->geometry().right() + 7;
    Port_Box = makeCombo<PortComboBox>(RzGroupBox1, "Port_Box", {}, -1,
                                       QRect(linkX, 17, 195 - linkX, kFieldHeight), Label1->text());
    Port_Box->setEditable(true);
    Port_Box->setInsertPolicy(QComboBox::NoInsert);
    Label1->setBuddy(Port_Box);
    // The Internet server's port and button take the second row in Internet mode.
    Label29 = makeLabel(RzGroupBox1, "Label29", "Порт", 8, 37);
    Edit2 = makeLabelledEdit(RzGroupBox1, "Edit2", Label29, QStringLiteral("10000"), 5, linkX, 48);
    Start_server = makeButton(RzGroupBox1, "Start_server", "Запустить",
                              QRect(linkX + 54, 37, 195 - linkX - 54, kFieldHeight));
    // The baud rate comes from the settings file; its list is never shown.
    Label2 = makeLabel(RzGroupBox1, "Label2", "Скорость", 8, 37);
    const QStringList rates{"br110",   "br300",   "br600",   "br1200",  "br2400",
                            "br4800",  "br9600",  "br14400", "br19200", "br38400",
                            "br56000", "br57600", "br115200"};
    const int rateX = Label2->geometry().right() + 7;
    Rate = makeCombo(RzGroupBox1, "Rate", rates, 12, QRect(rateX, 37, 195 - rateX, kFieldHeight),
                     Label2->text());
    Label2->setBuddy(Rate);
    for (QWidget* hidden :
         std::initializer_list<QWidget*>{Label29, Edit2, Start_server, Label2, Rate}) {
        hidden->hide();
    }

    // Middle: the Internet link.
    RzGroupBox5 = makeGroup(TabSheet2, "RzGroupBox5", "Настройки соединения через Интернет",
                            QRect(2, 59, 413, 77));
    Label18 = makeLabel(RzGroupBox5, "Label18", "Порт сервера", 8, 17);
    Label15 = makeLabel(RzGroupBox5, "Label15", "Оператор сотовой связи", 8, 36);
    Label16 = makeLabel(RzGroupBox5, "Label16", "Модем", 8, 55);
    const int firstFieldX = std::max(Label18->geometry().right(), Label16->geometry().right()) + 7;
    Serv_port = makeLabelledEdit(RzGroupBox5, "Serv_port", Label18, QStringLiteral("2020"), 5,
                                 firstFieldX, 48);
    const QStringList modemOperators{tr8("Билайн"), tr8("МТС"), tr8("Теле2")};
    Modem_prov = makeCombo(RzGroupBox5, "Modem_prov", modemOperators, 2,
                           QRect(firstFieldX, 55, 80, kFieldHeight), Label16->text());
    Label16->setBuddy(Modem_prov);
    const int secondLabelX = firstFieldX + 80 + 16;
    Label13 = makeLabel(RzGroupBox5, "Label13", "Новый пароль", secondLabelX, 17);
    Label17 = makeLabel(RzGroupBox5, "Label17", "\"GSM модуль\"", secondLabelX, 55);
    const int secondFieldX = std::max(Label13->geometry().right(), Label17->geometry().right()) + 7;
    New_pass = makeLabelledEdit(RzGroupBox5, "New_pass", Label13,
                                QString::fromLatin1(kFactoryPassword), 4, secondFieldX, 48);
    const QStringList deviceOperators{tr8("Билайн"), tr8("МТС"), tr8("Теле2"), tr8("Мегафон")};
    Dev_prov = makeCombo(RzGroupBox5, "Dev_prov", deviceOperators, 2,
                         QRect(secondFieldX, 55, 80, kFieldHeight), Label17->text());
    Label17->setBuddy(Dev_prov);
    const int changeX = secondFieldX + 80 + 8;
    ChPass = makeButton(RzGroupBox5, "ChPass", "Сменить",
                        QRect(changeX, 17, 405 - changeX, kRowButtonHeight));
    Send_APN = makeButton(RzGroupBox5, "Send_APN", "Сменить",
                          QRect(changeX, 55, 405 - changeX, kRowButtonHeight));
    ChPass->setAccessibleDescription(Label13->text());
    Send_APN->setAccessibleDescription(Label15->text());
    // The link's fast exchange, in the free right half of the middle row (the
    // link group above has no free row: the Internet controls share it).
    Fast_exchange = makeCheck(RzGroupBox5, "Fast_exchange", "Быстрый обмен", secondLabelX, 36);
    Fast_exchange->setAccessibleName(tr8("Быстрый обмен"));
    Fast_exchange->setToolTip(
        tr8("Последовательный порт: разбирать ответ устройства сразу, как только он принят "
            "целиком"));

    // Bottom: the device's options and the relay.
    RzGroupBox4 = makeGroup(TabSheet2, "RzGroupBox4", "Настройки", QRect(2, 137, 413, 185));
    All_num_ch = makeCheck(RzGroupBox4, "All_num_ch", "Принимать звонки с любого номера", 8, 17);
    SMS_ch = makeCheck(RzGroupBox4, "SMS_ch", "СМС только с первого номера в памяти", 8, 36);
    RING_ch = makeCheck(RzGroupBox4, "RING_ch", "Ответ в виде звонка", 8, 55, 16);
    KEYNUMBUT = makeCheck(RzGroupBox4, "KEYNUMBUT", "Управление реле по ключам i-button",
                          RING_ch->geometry().right() + 17, 55, 16);
    SendToRing = makeCheck(RzGroupBox4, "SendToRing",
                           "Информировать звонящего о изменении состония входа", 8, 71, 16);
    Label28 = makeLabel(RzGroupBox4, "Label28", "Информировать владельца о изменении состояния", 8,
                        87, 16);
    Mes_in = makeCheck(RzGroupBox4, "Mes_in", "Входа", Label28->geometry().right() + 9, 87, 16);
    Mes_rele = makeCheck(RzGroupBox4, "Mes_rele", "Реле", Mes_in->geometry().right() + 7, 87, 16);
    Mes_in->setAccessibleDescription(Label28->text());
    Mes_rele->setAccessibleDescription(Label28->text());
    // Only a received or loaded block changes this option.
    Short_num = makeCheck(RzGroupBox4, "Short_num", "Короткий номер: без \"8\"", 250, 71, 16);
    Short_num->hide();

    // Country code and relay time-out at the right of the first two rows.
    Label31 = makeLabel(RzGroupBox4, "Label31", "Код страны", 0, 17);
    Label30 = makeLabel(RzGroupBox4, "Label30", "Таймаум, сек", 0, 36);
    const int rightFieldX = 405 - 45;
    Label31->move(rightFieldX - 6 - Label31->width(), 17);
    Label30->move(rightFieldX - 6 - Label30->width(), 36);
    Edit3 =
        makeLabelledEdit(RzGroupBox4, "Edit3", Label31, QStringLiteral("+7"), 5, rightFieldX, 45);
    OUT_TOUT =
        makeLabelledEdit(RzGroupBox4, "OUT_TOUT", Label30, QStringLiteral("0"), 3, rightFieldX, 45);

    // Relay mode and timing, with the preview chart on their right.
    constexpr int bandY = 104;
    constexpr int bandPitch = 19;
    Label14 = makeLabel(RzGroupBox4, "Label14", "Режим работы реле", 8, bandY);
    RELE_REJ = makeCombo(RzGroupBox4, "RELE_REJ",
                         {tr8("Выключить"), tr8("Включить"), tr8("Инвертировать"), tr8("Импульс")},
                         3, QRect(Label14->geometry().right() + 7, bandY, 104, kFieldHeight),
                         Label14->text());
    Label14->setBuddy(RELE_REJ);
    Label24 = makeLabel(RzGroupBox4, "Label24", "Импульс", 8, bandY + bandPitch);
    Label26 = makeLabel(RzGroupBox4, "Label26", "Пауза", 8, bandY + 2 * bandPitch);
    Label27 = makeLabel(RzGroupBox4, "Label27", "Повторять", 8, bandY + 3 * bandPitch);
    const int timeX = std::max({Label24->geometry().right(), Label26->geometry().right(),
                                Label27->geometry().right()}) +
                      7;
    const QStringList units{tr8("мсек"), tr8("сек"), tr8("мин"), tr8("час")};
    act_time =
        makeLabelledEdit(RzGroupBox4, "act_time", Label24, QStringLiteral("1"), 4, timeX, 44);
    act_mul =
        makeCombo(RzGroupBox4, "act_mul", units, 0,
                  QRect(timeX + 48, bandY + bandPitch, 62, kFieldHeight), tr8("Единица импульса"));
    pause_time =
        makeLabelledEdit(RzGroupBox4, "pause_time", Label26, QStringLiteral("1"), 4, timeX, 44);
    pause_mul =
        makeCombo(RzGroupBox4, "pause_mul", units, 0,
                  QRect(timeX + 48, bandY + 2 * bandPitch, 62, kFieldHeight), tr8("Единица паузы"));
    povtor = makeLabelledEdit(RzGroupBox4, "povtor", Label27, QStringLiteral("1"), 3, timeX, 44);

    Chart = new RelayChartView(RzGroupBox4);
    Chart->setObjectName(QStringLiteral("Chart"));
    Chart->setAccessibleName(tr8("Импульсы реле"));
    Chart->setGeometry(405 - 145, bandY + 4, 145, 66);

    // Diagnostic group, hidden: it would cover the bottom group if shown.
    RzGroupBox6 = makeGroup(TabSheet2, "RzGroupBox6", "", QRect(2, 262, 413, 60));
    RzGroupBox6->setAccessibleName(tr8("Режим диагностики"));
    Debug_en = makeCheck(RzGroupBox6, "Debug_en", "Включить режим диагностики ", 8, 8);
    Label12 = makeLabel(RzGroupBox6, "Label12", "Команда", 8, 32);
    Comand_box = makeLabelledEdit(RzGroupBox6, "Comand_box", Label12, QStringLiteral("AT"), 98,
                                  Label12->geometry().right() + 7, 220);
    Button1 = makeButton(RzGroupBox6, "Button1", "Отправить",
                         QRect(Comand_box->geometry().right() + 8, 32, 90, kRowButtonHeight));
    Label12->hide();
    Comand_box->hide();
    Button1->hide();
    RzGroupBox6->hide();
}

void TForm1Ui::setupGuardPage() {
    RzGroupBox7 = makeGroup(TabSheet3, "RzGroupBox7", "", QRect(2, 2, 413, 320));
    RzGroupBox7->setAccessibleName(tr8("Охрана"));
    Ohrana_en = makeCheck(RzGroupBox7, "Ohrana_en", "Режим охраны", 8, 10);
    Input_inv = makeCheck(RzGroupBox7, "Input_inv", "Инверсия входа датчика", 8, 30);
    Label5 = makeLabel(RzGroupBox7, "Label5", "Время снятия с охраны, сек", 8, 56);
    Label10 = makeLabel(RzGroupBox7, "Label10", "Время постановки на охрану, сек", 8, 78);
    Label19 = makeLabel(RzGroupBox7, "Label19", "Время перепостановки, мин", 8, 100);
    const int timeX = std::max({Label5->geometry().right(), Label10->geometry().right(),
                                Label19->geometry().right()}) +
                      8;
    T_in = makeLabelledEdit(RzGroupBox7, "T_in", Label5, QStringLiteral("20"), 4, timeX, 40);
    T_out = makeLabelledEdit(RzGroupBox7, "T_out", Label10, QStringLiteral("20"), 4, timeX, 40);
    T_mem = makeLabelledEdit(RzGroupBox7, "T_mem", Label19, QStringLiteral("5"), 4, timeX, 40);

    Label21 = makeLabel(RzGroupBox7, "Label21", "Ключи touch memory", 270, 10);
    iButton = makeGrid(RzGroupBox7, "iButton", {kKeyRows, {tr8("Код ключа")}, 20, {108}, 19},
                       QRect(270, 28, 131, 121), Label21->text());
    iButton->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    iButton->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    iButtonDelegate = new KeyGridDelegate(iButton);
    iButton->setItemDelegate(iButtonDelegate);
    Label21->setBuddy(iButton);

    RzGroupBox8 = makeGroup(RzGroupBox7, "RzGroupBox8", "Режим работы входа ПОСТАНОВКА/СНЯТИЕ",
                            QRect(8, 160, 397, 112));
    rej_but1 =
        makeRadio(RzGroupBox8, "rej_but1", "Смена режима ОХРАНА/НАБЛЮДЕНИЕ - импульс", 8, 18);
    rej_but2 = makeRadio(RzGroupBox8, "rej_but2",
                         "Активный уровень - ОХРАНА, неактивный - НАБЛЮДЕНИЕ", 8, 37);
    rej_but3 = makeRadio(RzGroupBox8, "rej_but3",
                         "Переход в режим ОХРАНА - импульс или touch memory,", 8, 56);
    // The third choice's text goes on under its caption, aligned with it.
    QStyleOptionButton radioOption;
    radioOption.initFrom(rej_but3);
    const int captionX =
        8 + rej_but3->style()
                ->subElementRect(QStyle::SE_RadioButtonContents, &radioOption, rej_but3)
                .left();
    Label20 =
        makeLabel(RzGroupBox8, "Label20", "в режим НАБЛЮДЕНИЕ - touch memory", captionX, 72, 14);
    rej_but3->setAccessibleName(rej_but3->text() + QLatin1Char(' ') + Label20->text());
    rej_but4 =
        makeRadio(RzGroupBox8, "rej_but4", "Смена режима ОХРАНА/НАБЛЮДЕНИЕ - touch memory", 8, 88);
    rej_but4->setChecked(true);
}

void TForm1Ui::setupFirmwarePage() {
    Label25 = makeLabel(TabSheet4, "Label25", "Файл прошивки", 10, 12);
    Firmware_file = makeEdit(TabSheet4, "Firmware_file", QString(), 0,
                             QRect(10, 32, 397, kFieldHeight + 2), Label25->text());
    Firmware_file->setReadOnly(true);
    Label25->setBuddy(Firmware_file);
    Open_FW = makeButton(TabSheet4, "Open_FW", "Открыть", QRect(10, 62, 110, kButtonHeight));
    Program = makeButton(TabSheet4, "Program", "Обновить", QRect(126, 62, 110, kButtonHeight));
    Reset_but =
        makeButton(TabSheet4, "Reset_but", "Перезагрузить", QRect(297, 62, 110, kButtonHeight));
    Open_FW->setEnabled(false);
    Program->setEnabled(false);
    FW_ver = makeLabel(TabSheet4, "FW_ver", "Версия:", 10, 100);
    FW_ver->setFixedWidth(200);
    FW_load = new QProgressBar(TabSheet4);
    FW_load->setObjectName(QStringLiteral("FW_load"));
    FW_load->setAccessibleName(tr8("Загрузка прошивки"));
    FW_load->setRange(0, 1000);
    FW_load->setValue(0);
    FW_load->setTextVisible(false);
    FW_load->setGeometry(10, 124, 397, 18);
}
