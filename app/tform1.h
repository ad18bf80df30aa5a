// The main window of the configurator. It builds one device session and is
// its observer: log box, status bar, buttons and message boxes show what the
// session reports, and the handlers hand it what the user typed. The widgets
// themselves are built by TForm1Ui.
#pragma once

#include "app/config_binding.h"
#include "app/firmware_page_binding.h"
#include "app/number_list_binding.h"
#include "app/string_grid_adapter.h"
#include "app/tform1_ui.h"
#include "comm/main_thread_dispatcher_qt.h"
#include "link/internet_link_qt.h"
#include "session/device_session.h"
#include "session/event_text.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>

class TForm2;
class LogStamps;
class QFileDialog;

class TForm1 : public QMainWindow, private SessionObserver, private EventTextSink {
    Q_OBJECT
  public:
    struct Options {
        // A port named on the command line; it replaces the stored "Port" for this
        // run.
        std::optional<QString> portOverride;
        // Where "Сonfig.ini" is read and written; empty: beside the program (or
        // the user's configuration folder when that cannot be written).
        QString settingsPath;
        // Where the serial ports are discovered (tests point these at made-up
        // trees).
        QString sysClassTty = QStringLiteral("/sys/class/tty");
        QString devDir = QStringLiteral("/dev");
        // Catch SIGTERM and SIGINT and close the window as if its close button was
        // pressed.
        bool handleSignals = false;
        // Where "Руководство" looks for the manual; empty: beside the program,
        // then the installed documentation folders (app/install_layout.h).
        QStringList manualFolders;
    };
    explicit TForm1(const Options& options, QWidget* parent = nullptr);
    ~TForm1() override;

    TForm1Ui ui;

  private:
    // Declared before the port: the port's event thread posts through it.
    QtMainThreadDispatcher dispatcher_;

  public:
    // Both need the widgets, so they are made once the window is built.
    std::unique_ptr<ConfigBinding> config;
    std::unique_ptr<StringGridAdapter> numberGrid;
    // The port, the link, the replies, the commands and the number list's
    // transfers: the window's device session.
    std::unique_ptr<DeviceSession> session;
    // The number list's controls.
    std::unique_ptr<NumberListBinding> numberList;
    // The firmware page.
    std::unique_ptr<FirmwarePageBinding> firmware;
    std::unique_ptr<InternetLink> ServerSocket1;
    QTimer Timer;     // 20 ms: receive pacing, watchdogs, number writer
    QTimer Timer_sys; // 1 s: open the port and greet the device

    QString settingsPath() const { return settingsPath_; }

    // Handlers of the window's controls.
    void TreeViewClick();
    void Port_BoxDropDown();
    void Port_BoxChange();
    void RateChange();
    void Start_serverClick();
    void N6Click();
    void N7Click();
    void N11Click(); // "Записать изменения"
    // "Записать изменения" is there for the serial link only.
    void showWriteChangesState();
    void N1Click();
    void N4Click();
    void N9Click();

    // The page shown: 0..3, or -1 for none.
    int currentPage() const;
    // Tells the session whether the number list is in front of the user.
    void showPageState();

    // The window's file dialogs, made on first use and kept. OpenDialog is
    // shared by the configuration file, the CSV import and the firmware page;
    // each sets its own filter entry (1-based, as the filter lists them) and
    // file name before it shows the dialog. Neither asks before a file is
    // replaced or insists that it exists, and neither adds an extension: a
    // name is used as typed. Both return the chosen path, or an empty text
    // when the user cancels.
    QFileDialog* OpenDialog();
    QFileDialog* SaveDialog();
    QString executeOpenDialog(int filterIndex, const QString& fileName);
    QString executeSaveDialog(const QString& fileName);

    // Configuration files and CSV: the dialogs here, the work in files/.
    void N8Click();            // "Сохранить в файл"
    void N3Click();            // "Открыть из файла"
    void RzToolButton7Click(); // "Импорт из CSV"
    void N10Click();           // "Экспорт в CSV"
    // The export's save dialog, filter "CSV file [*.csv]".
    QFileDialog* CsvSaveDialog();

    // "Сохранить журнал" in the log box's context menu: every line of the box
    // with the time it appeared, into a text file (UTF-8) for support.
    QAction* LogSave = nullptr;
    void LogSaveClick();
    QFileDialog* LogSaveDialog();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    // "Записать в устройство" (every cell) and "Записать изменения".
    void writeToDevice(bool changesOnly);
    void FormClose();
    void syncTimers();
    void onSignal(int signal);
    void showError(const QString& text);
    void showStatus(int panel, const std::string& text);

    // SessionObserver: an event's data goes to its page, its texts to the
    // sink below.
    void event(const SessionEvent& event) override;
    void phaseChanged(const LinkPhase& phase) override;
    void firmwarePageReset() override;
    void timersChanged() override;
    // EventTextSink, and the window's own log lines.
    void logLine(const std::string& text) override;
    void portStatus(const std::string& text) override;
    void linkStatus(const std::string& text) override;
    void message(const std::string& text) override;
    void error(const std::string& text) override;

    Options options_;
    QString settingsPath_;
    std::string storedPort_;
    TForm2* about_ = nullptr;
    QFileDialog* openDialog_ = nullptr;
    QFileDialog* saveDialog_ = nullptr;
    QFileDialog* csvSaveDialog_ = nullptr;
    QFileDialog* logSaveDialog_ = nullptr;
    LogStamps* logStamps_ = nullptr;
    bool closing_ = false;
    int closingSignal_ = 0;          // the signal that closes the program, or 0
    QPointer<QMessageBox> errorBox_; // the error box shown, one at a time
};
