// The description of the main window: every control of `TForm1` with its
// name, caption, default, length limit, key filter, visibility, enabled state
// and place. It builds the widgets only; what they do is in `TForm1`.
#pragma once

#include "app/port_combo_box.h"

// Like a generated form header, this one brings in every widget class it
// names, so code that holds a TForm1Ui can use the controls directly.
#include "app/digit_filter.h"
#include "app/grid_delegates.h"
#include "app/relay_chart.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QString>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QWidget>
#include <array>

class TForm1Ui {
  public:
    // The window's fixed client area, below the menu bar.
    static constexpr int kClientWidth = 552;
    static constexpr int kClientHeight = 430;
    static constexpr int kStatusBarHeight = 19;

    // Rows of the two grids; the number grid holds the number in column 0
    // (kNumberColumn) and the apartment in column 1 (kApartmentColumn).
    static constexpr int kNumberRows = 650;
    static constexpr int kKeyRows = 5;

    // The device's factory password, the default of `Password` and `New_pass`.
    static constexpr const char* kFactoryPassword = "1234";
    // The log box keeps the last this many lines.
    static constexpr int kLogLines = 5000;

    // Filters of the window's open and save dialogs.
    static QString openDialogFilter();
    static QString saveDialogFilter();

    // Builds everything onto `form`: caption, fixed size, menu, tree, pages,
    // log and status bar.
    void setupUi(QMainWindow* form);

    // Window frame.
    QWidget* centralWidget = nullptr;
    QTreeWidget* TreeView = nullptr;
    QStackedWidget* PageControl = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QLabel* Label6 = nullptr;
    QPlainTextEdit* Log = nullptr;
    QStatusBar* StatusBar = nullptr;
    std::array<QLabel*, 3> StatusPanels{};
    QLabel* Label11 = nullptr;
    QLabel* Label7 = nullptr;

    // Menu.
    QMenuBar* MainMenu = nullptr;
    QMenu* N2Menu = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* N8 = nullptr;
    QAction* N10 = nullptr; // "Экспорт в CSV"
    QAction* N6 = nullptr;
    QAction* N7 = nullptr;
    // "Записать изменения": the cells that differ from the device's list only
    // (serial link; disabled, with the reason as its tooltip, on the Internet link).
    QAction* N11 = nullptr;
    QAction* N9 = nullptr;
    QAction* N1 = nullptr;
    QAction* N4 = nullptr;

    // Page "Редактирование": numbers.
    QGroupBox* RzGroupBox2 = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QTableWidget* StringGrid1 = nullptr;
    NumberGridDelegate* StringGrid1Delegate = nullptr;
    QToolButton* RzToolButton5 = nullptr;
    QToolButton* RzToolButton7 = nullptr;
    QPushButton* Read_numbers = nullptr;
    QPushButton* Add = nullptr;
    QPushButton* Del = nullptr;
    QPushButton* Erase_numbers = nullptr;
    QLineEdit* Number_ab = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* Kv = nullptr;

    // Page "Редактирование": device parameters.
    QGroupBox* RzGroupBox3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Password = nullptr;
    QPushButton* Connect = nullptr;
    QPushButton* Disconnect = nullptr;
    QToolButton* RzToolButton6 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Number_device = nullptr;

    // Page "Редактирование": configuration file and transfer.
    QGroupBox* RzGroupBox9 = nullptr;
    QToolButton* RzToolButton1 = nullptr;
    QToolButton* RzToolButton2 = nullptr;
    QToolButton* RzToolButton3 = nullptr;
    QToolButton* RzToolButton4 = nullptr;

    // Page "Настройки": general.
    QGroupBox* RzGroupBox10 = nullptr;
    QLabel* Label22 = nullptr;
    QLineEdit* Oh_num = nullptr;
    QLabel* Label23 = nullptr;
    QLineEdit* Num_dev = nullptr;

    // Page "Настройки": link.
    QGroupBox* RzGroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    PortComboBox* Port_Box = nullptr; // says when its list drops down
    QLabel* Label2 = nullptr;
    QComboBox* Rate = nullptr;
    QLabel* Label29 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* Start_server = nullptr;

    // Page "Настройки": Internet.
    QGroupBox* RzGroupBox5 = nullptr;
    QLabel* Label18 = nullptr;
    QLineEdit* Serv_port = nullptr;
    QLabel* Label13 = nullptr;
    QLineEdit* New_pass = nullptr;
    QPushButton* ChPass = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label16 = nullptr;
    QComboBox* Modem_prov = nullptr;
    QLabel* Label17 = nullptr;
    QComboBox* Dev_prov = nullptr;
    QPushButton* Send_APN = nullptr;

    // Page "Настройки": device settings and relay.
    QGroupBox* RzGroupBox4 = nullptr;
    QCheckBox* All_num_ch = nullptr;
    QCheckBox* SMS_ch = nullptr;
    QCheckBox* RING_ch = nullptr;
    QLabel* Label28 = nullptr; // heading of Mes_in and Mes_rele
    QCheckBox* Mes_in = nullptr;
    QCheckBox* Mes_rele = nullptr;
    QCheckBox* SendToRing = nullptr;
    QCheckBox* KEYNUMBUT = nullptr;
    QCheckBox* Short_num = nullptr;
    QLabel* Label31 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLabel* Label14 = nullptr;
    QComboBox* RELE_REJ = nullptr;
    QLabel* Label24 = nullptr; // "Импульс"
    QLineEdit* act_time = nullptr;
    QComboBox* act_mul = nullptr;
    QLabel* Label26 = nullptr; // "Пауза"
    QLineEdit* pause_time = nullptr;
    QComboBox* pause_mul = nullptr;
    QLabel* Label27 = nullptr; // "Повторять"
    QLineEdit* povtor = nullptr;
    QLabel* Label30 = nullptr;
    QLineEdit* OUT_TOUT = nullptr;
    RelayChartView* Chart = nullptr;

    // Page "Настройки": diagnostic group, hidden.
    QGroupBox* RzGroupBox6 = nullptr;
    QCheckBox* Debug_en = nullptr;
    QCheckBox* Fast_exchange = nullptr; // "Быстрый обмен", in the Internet group's middle row
    QLabel* Label12 = nullptr;
    QLineEdit* Comand_box = nullptr;
    QPushButton* Button1 = nullptr;

    // Page "Охрана".
    QGroupBox* RzGroupBox7 = nullptr;
    QCheckBox* Ohrana_en = nullptr;
    QCheckBox* Input_inv = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* T_in = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* T_out = nullptr;
    QLabel* Label19 = nullptr;
    QLineEdit* T_mem = nullptr;
    QLabel* Label21 = nullptr;
    QTableWidget* iButton = nullptr;
    KeyGridDelegate* iButtonDelegate = nullptr;
    QGroupBox* RzGroupBox8 = nullptr;
    QRadioButton* rej_but1 = nullptr;
    QRadioButton* rej_but2 = nullptr;
    QRadioButton* rej_but3 = nullptr;
    QLabel* Label20 = nullptr;
    QRadioButton* rej_but4 = nullptr;

    // Page "Обновление ПО".
    QLabel* Label25 = nullptr;
    QLineEdit* Firmware_file = nullptr;
    QPushButton* Open_FW = nullptr;
    QPushButton* Program = nullptr;
    QPushButton* Reset_but = nullptr;
    QLabel* FW_ver = nullptr;
    QProgressBar* FW_load = nullptr;

    // The digits-only filter of Edit2, OUT_TOUT, Oh_num, Num_dev, T_in, T_out
    // and T_mem.
    DigitFilter* KeyPressDigit = nullptr;

  private:
    void setupFrame(QMainWindow* form);
    void setupMenu(QMainWindow* form);
    void setupStatusBar(QMainWindow* form);
    void setupUserPage();
    void setupSettingsPage();
    void setupGuardPage();
    void setupFirmwarePage();
};
