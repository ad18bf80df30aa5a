#include "app/tform1.h"

#include "app/install_layout.h"
#include "app/log_stamps.h"
#include "app/platform.h"
#include "app/port_combo_box.h"
#include "app/settings.h"
#include "app/tform2.h"
#include "comm/port_discovery.h"
#include "files/backups.h"
#include "files/config_file.h"
#include "files/csv_numbers.h"
#include "files/file_io.h"
#include "files/log_file.h"

#include <algorithm>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <cstdio>

namespace {

const QString kInternet = QString::fromUtf8(kInternetEntry);

// The pages of PageControl in the order of the navigation tree.
constexpr int kNumbersPage = 0;
constexpr int kFirmwarePage = 3;

QString q(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}
std::string s(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

TForm1::TForm1(const Options& options, QWidget* parent)
    : QMainWindow(parent), dispatcher_(this), options_(options) {
    ui.setupUi(this);
    config = std::make_unique<ConfigBinding>(ui);
    numberGrid = std::make_unique<StringGridAdapter>(ui.StringGrid1);
    // The device session does the work; the window hands over what was typed
    // and shows what the session reports.
    SessionObserver& observer = *this;
    session = std::make_unique<DeviceSession>(&dispatcher_, *numberGrid, observer);
    numberList = std::make_unique<NumberListBinding>(ui, *numberGrid, *session);
    firmware = std::make_unique<FirmwarePageBinding>(
        ui, *session,
        [this](int filter, const QString& name) { return executeOpenDialog(filter, name); }, this);
    connect(ui.Open_FW, &QAbstractButton::clicked, this, [this] { firmware->Open_FWClick(); });
    connect(ui.Program, &QAbstractButton::clicked, this, [this] { firmware->ProgramClick(); });

    ServerSocket1 = std::make_unique<InternetLink>(this);
    // An installed program keeps the server's module in its own folder.
    ServerSocket1->moduleFolder = install_layout::moduleFolder(install_layout::programFolder());
    // ServerSocket1ClientRead: each read of the device goes to the session at
    // once, and the server's own texts are shown as the session's are.
    connect(
        ServerSocket1.get(), &InternetLink::deviceRead, this,
        [this](const std::uint8_t* bytes, std::size_t count) {
            session->internetRead(bytes, count);
        },
        Qt::DirectConnection);
    connect(
        ServerSocket1.get(), &InternetLink::reported, this,
        [this](const SessionEvent& note) { event(note); }, Qt::DirectConnection);
    connect(ServerSocket1.get(), &InternetLink::listeningChanged, this, [this](bool listening) {
        ui.Start_server->setText(QString::fromUtf8(listening ? "Остановить" : "Запустить"));
    });
    session->attachInternet({[this](const std::uint8_t* bytes, std::size_t count) {
                                 return ServerSocket1->Send_data(bytes, count);
                             },
                             [this] { ServerSocket1->Start_server_fun(false); },
                             [this] { return ServerSocket1->isListening(); },
                             [this] { return ServerSocket1->deviceConnected(); }});
    session->setDeferral([this](int ms, std::function<void()> call) {
        QTimer::singleShot(ms, this, std::move(call));
    });

    Timer.setInterval(20);
    Timer.setTimerType(Qt::PreciseTimer);
    Timer_sys.setInterval(1000);
    connect(&Timer, &QTimer::timeout, this, [this] { session->tick20ms(); });
    connect(&Timer_sys, &QTimer::timeout, this, [this] { session->tick1s(); });

    // Only a mouse click on the tree changes the page. Keys the device
    // reports go into the number list only while its page is in front.
    ui.TreeView->viewport()->installEventFilter(this);
    connect(ui.PageControl, &QStackedWidget::currentChanged, this, [this] { showPageState(); });
    showPageState();
    connect(ui.Port_Box, &PortComboBox::aboutToDropDown, this, [this] { Port_BoxDropDown(); });
    connect(ui.Port_Box, &QComboBox::currentTextChanged, this, [this] { Port_BoxChange(); });
    connect(ui.Rate, &QComboBox::activated, this, [this] { RateChange(); });
    connect(ui.Start_server, &QAbstractButton::clicked, this, [this] { Start_serverClick(); });
    connect(ui.Connect, &QAbstractButton::clicked, this,
            [this] { session->connect(s(ui.Number_device->text()), s(ui.Serv_port->text())); });
    connect(ui.Disconnect, &QAbstractButton::clicked, this, [this] { session->disconnect(); });
    connect(ui.RzToolButton6, &QAbstractButton::clicked, this, [this] { session->goOffline(); });
    connect(ui.Debug_en, &QAbstractButton::clicked, this, [this](bool checked) {
        session->setDiagnostics(checked);
        ui.Label12->setVisible(checked);
        ui.Comand_box->setVisible(checked);
        ui.Button1->setVisible(checked);
    });
    connect(ui.Button1, &QAbstractButton::clicked, this,
            [this] { session->sendDiagnostic(s(ui.Comand_box->text())); });
    connect(ui.N6, &QAction::triggered, this, [this] { N6Click(); });
    connect(ui.RzToolButton3, &QAbstractButton::clicked, this, [this] { N6Click(); });
    connect(ui.N7, &QAction::triggered, this, [this] { N7Click(); });
    connect(ui.RzToolButton4, &QAbstractButton::clicked, this, [this] { N7Click(); });
    connect(ui.N11, &QAction::triggered, this, [this] { N11Click(); });
    connect(ui.ChPass, &QAbstractButton::clicked, this,
            [this] { session->changePassword(s(ui.Password->text()), s(ui.New_pass->text())); });
    connect(ui.Send_APN, &QAbstractButton::clicked, this,
            [this] { session->sendApn(s(ui.Password->text()), config->deviceApn()); });
    connect(ui.Reset_but, &QAbstractButton::clicked, this, [this] { session->restartDevice(); });
    connect(ui.N9, &QAction::triggered, this, [this] { N9Click(); });
    connect(ui.N8, &QAction::triggered, this, [this] { N8Click(); });
    connect(ui.RzToolButton2, &QAbstractButton::clicked, this, [this] { N8Click(); });
    connect(ui.N3, &QAction::triggered, this, [this] { N3Click(); });
    connect(ui.RzToolButton1, &QAbstractButton::clicked, this, [this] { N3Click(); });
    connect(ui.RzToolButton7, &QAbstractButton::clicked, this, [this] { RzToolButton7Click(); });
    connect(ui.N10, &QAction::triggered, this, [this] { N10Click(); });
    connect(ui.N1, &QAction::triggered, this, [this] { N1Click(); });
    connect(ui.N4, &QAction::triggered, this, [this] { N4Click(); });

    // The log box's context menu: its standard entries and "Сохранить журнал".
    logStamps_ = new LogStamps(ui.Log);
    LogSave = new QAction(QString::fromUtf8("Сохранить журнал"), this);
    LogSave->setObjectName(QStringLiteral("LogSave"));
    connect(LogSave, &QAction::triggered, this, [this] { LogSaveClick(); });
    ui.Log->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui.Log, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = ui.Log->createStandardContextMenu();
        menu->setObjectName(QStringLiteral("LogMenu"));
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addSeparator();
        menu->addAction(LogSave);
        menu->popup(ui.Log->mapToGlobal(at));
    });

    if (options_.handleSignals) {
        platform::watchTerminationSignals(this, [this](int signal) { onSignal(signal); });
    }

    FormCreate();
}

TForm1::~TForm1() {
    // The port's event thread must be gone before the window's members are.
    session->closePort();
}

void TForm1::FormCreate() {
    // 1. The serial ports that can be opened now.
    {
        const QSignalBlocker block(ui.Port_Box);
        ui.Port_Box->clear();
        for (const auto& name : Find_Ports(s(options_.sysClassTty), s(options_.devDir))) {
            ui.Port_Box->addItem(q(name));
        }
    }

    // 2-8. The settings.
    settingsPath_ =
        options_.settingsPath.isEmpty() ? Settings::defaultPath() : options_.settingsPath;
    const Settings settings = Settings::read(settingsPath_);
    storedPort_ = settings.port;
    DeviceSession::LinkSettings stored;
    stored.portName = options_.portOverride ? s(*options_.portOverride) : settings.port;
    stored.baudIndex = settings.baudrate;
    stored.serverPort = settings.serverPort;
    stored.fastExchange = settings.fastExchange;
    // The speed and server port are checked by the session: the log says
    // what was replaced. The operators sit between them in the settings.
    const DeviceSession::LinkSettings taken = session->restoreSettings(stored);
    {
        const QSignalBlocker block(ui.Port_Box);
        ui.Port_Box->setEditText(q(taken.portName));
    }
    ui.Rate->setCurrentIndex(taken.baudIndex < ui.Rate->count() ? taken.baudIndex : -1);
    config->selectOperators(settings.modProv, settings.devProv);
    ui.Serv_port->setText(QString::number(taken.serverPort));
    ServerSocket1->listenAddress = q(settings.serverAddress);
    for (const std::string& peer : settings.allowedPeers) {
        ServerSocket1->allowedPeers.append(q(peer));
    }
    ui.Fast_exchange->setChecked(settings.fastExchange);
    connect(ui.Fast_exchange, &QAbstractButton::toggled, this,
            [this](bool on) { session->setFastExchange(on); });

    // 9-13. The relay timing defaults, shown and drawn.
    config->startUp();
    showWriteChangesState();

    // Both timers run from the start: the port timer's first tick comes a second
    // later.
    Timer_sys.start();
    syncTimers();
}

void TForm1::FormClose() {
    session->sayGoodbye();
    const LinkState& link = session->state();
    Settings settings;
    settings.port = link.portName;
    if (options_.portOverride && link.portName == s(*options_.portOverride)) {
        settings.port = storedPort_; // the command line named it for this run only
    }
    settings.baudrate = link.baudIndex;
    settings.modProv = ui.Modem_prov->currentIndex();
    settings.devProv = ui.Dev_prov->currentIndex();
    settings.serverPort = link.serverPort;
    settings.fastExchange = session->fastExchange();
    if (const auto error = settings.write(settingsPath_)) {
        // The settings are lost for the next run, but the port is still
        // closed and the device unlinked. Closed by a signal, no one may be
        // there to answer a box: stderr and the log instead, and out at once.
        if (closingSignal_ != 0) {
            logLine(*error);
            std::fprintf(stderr, "vxrt7-config: %s\n", error->c_str());
        } else {
            QMessageBox::warning(this, windowTitle(), q(*error));
        }
    }
    Timer.stop();
    Timer_sys.stop();
    session->closePort();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        // A write under way is cut only when the user says so; a signal
        // does not ask. Either way the device's state is told exactly.
        if (closingSignal_ == 0 && session->writeUnderWay() &&
            QMessageBox::question(this, windowTitle(),
                                  QString::fromUtf8("Идет запись в прибор. Прервать?")) !=
                QMessageBox::Yes) {
            event->ignore();
            return;
        }
        if (const auto holds = session->stopWrites()) {
            const std::string line = "Запись в прибор прервана: " + *holds;
            logLine(line);
            if (closingSignal_ != 0) {
                std::fprintf(stderr, "vxrt7-config: сигнал %d: %s\n", closingSignal_, line.c_str());
            }
        }
        closing_ = true;
        FormClose();
    }
    event->accept();
}

void TForm1::onSignal(int signal) {
    closingSignal_ = signal;
    close();
    // Ended by a signal: the exit code says so, as the shell's 128 + signal.
    QCoreApplication::exit(128 + closingSignal_);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui.TreeView->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // The tree has updated its selection on the press; the click acts on it.
        QTimer::singleShot(0, this, [this] { TreeViewClick(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

int TForm1::currentPage() const {
    return ui.PageControl->isHidden() ? -1 : ui.PageControl->currentIndex();
}

void TForm1::showPageState() {
    session->setNumberListShown(currentPage() == kNumbersPage);
}

void TForm1::TreeViewClick() {
    const auto selected = ui.TreeView->selectedItems();
    const int index = selected.isEmpty() ? -1 : ui.TreeView->indexOfTopLevelItem(selected.front());
    if (index >= 0) {
        ui.PageControl->setCurrentIndex(index);
        ui.PageControl->setVisible(true);
    } else {
        ui.PageControl->setVisible(false);
    }
    showPageState();

    // The firmware page ("Обновление ПО") hands the line to the bootloader;
    // every other page gives it back.
    if (index == kFirmwarePage) {
        session->enterBootloader();
    } else {
        session->leaveBootloader();
    }
}

void TForm1::Port_BoxDropDown() {
    const QSignalBlocker block(ui.Port_Box);
    ui.Port_Box->clear();
    for (const auto& name : Find_Ports(s(options_.sysClassTty), s(options_.devDir))) {
        ui.Port_Box->addItem(q(name));
    }
    ui.Port_Box->addItem(kInternet);
    ui.Port_Box->setCurrentIndex(-1);
    ui.Port_Box->setEditText(QString());
}

void TForm1::Port_BoxChange() {
    session->choosePort(s(ui.Port_Box->currentText()));
    const bool internet = session->internetChosen();
    ui.Label29->setVisible(internet);
    ui.Edit2->setVisible(internet);
    ui.Start_server->setVisible(internet);
    showWriteChangesState();
}

void TForm1::RateChange() {
    session->setBaudIndex(ui.Rate->currentIndex());
}

void TForm1::Start_serverClick() {
    session->run([this] {
        if (ServerSocket1->isListening()) {
            ServerSocket1->Start_server_fun(false);
        } else {
            ServerSocket1->Start_server_fun(true, ui.Edit2->text());
        }
    });
}

void TForm1::N6Click() {
    session->readConfig(s(ui.Password->text()));
}

void TForm1::N7Click() {
    writeToDevice(false);
}

void TForm1::N11Click() {
    writeToDevice(true);
}

void TForm1::showWriteChangesState() {
    // On the Internet link the device stores the numbers of a batch in the
    // order received, with no cell numbers: only the whole list can go.
    const bool internet = session->internetChosen();
    ui.N11->setEnabled(!internet);
    ui.N11->setToolTip(
        internet ? QString::fromUtf8("Через Интернет номера передаются пакетами без номеров ячеек: "
                                     "запись изменений возможна только через последовательный "
                                     "порт. Используйте «Записать в устройство»")
                 : QString::fromUtf8("Записать конфигурацию и только те номера, которые "
                                     "отличаются от списка прибора"));
}

void TForm1::writeToDevice(bool changesOnly) {
    if (session->numberListIncomplete() &&
        QMessageBox::question(
            this, windowTitle(),
            QString::fromUtf8("Список номеров считан из прибора не полностью. Запись заменит "
                              "список прибора этим неполным списком. Записать?")) !=
            QMessageBox::Yes) {
        logLine("Запись не начата: список номеров считан не полностью");
        return;
    }
    const auto buildBlock = [this]() -> std::optional<frames::ConfigBlockBytes> {
        QString error;
        if (!config->Write_conf(&error)) {
            logLine("Конфигурация не записана: " + s(error));
            message(s(error));
            return std::nullopt;
        }
        return config->configBlock.encode();
    };
    if (changesOnly) {
        // Read back, too: no read shows a cell the owner freed in the middle
        // of the list, and the whole list must then go.
        session->writeChanges(s(ui.Password->text()), buildBlock, true);
    } else {
        session->writeConfig(s(ui.Password->text()), buildBlock);
    }
}

void TForm1::N1Click() {
    const QString name = QString::fromLatin1(install_layout::kManualName);
    const QStringList folders = options_.manualFolders.isEmpty()
                                    ? install_layout::manualFolders(install_layout::programFolder())
                                    : options_.manualFolders;
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path)) {
            if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
                logLine("Не удается открыть руководство «" + s(path) +
                        "»: нет программы для просмотра PDF");
            }
            return;
        }
    }
    logLine("Руководство " + s(name) +
            " не найдено (искали в: " + s(folders.join(QStringLiteral(", "))) + ")");
}

void TForm1::N4Click() {
    // Built on first use: most runs never open it.
    if (about_ == nullptr) {
        about_ = new TForm2(this);
    }
    about_->exec();
}

namespace {

QFileDialog* makeFileDialog(QWidget* parent, const char* name, const QString& filter,
                            QFileDialog::AcceptMode mode) {
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setAcceptMode(mode);
    // Any name is taken: a missing file is reported when it is opened.
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setNameFilters(filter.split(QStringLiteral(";;")));
    return dialog;
}

QString executeFileDialog(QFileDialog* dialog, int filterIndex, const QString& fileName) {
    const QStringList filters = dialog->nameFilters();
    if (filterIndex >= 1 && filterIndex <= filters.size()) {
        dialog->selectNameFilter(filters[filterIndex - 1]);
    }
    dialog->selectFile(fileName);
    if (dialog->exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList chosen = dialog->selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

} // namespace

QFileDialog* TForm1::OpenDialog() {
    if (openDialog_ == nullptr) {
        openDialog_ = makeFileDialog(this, "OpenDialog", TForm1Ui::openDialogFilter(),
                                     QFileDialog::AcceptOpen);
    }
    return openDialog_;
}

QFileDialog* TForm1::SaveDialog() {
    if (saveDialog_ == nullptr) {
        saveDialog_ = makeFileDialog(this, "SaveDialog", TForm1Ui::saveDialogFilter(),
                                     QFileDialog::AcceptSave);
    }
    return saveDialog_;
}

QString TForm1::executeOpenDialog(int filterIndex, const QString& fileName) {
    return executeFileDialog(OpenDialog(), filterIndex, fileName);
}

QString TForm1::executeSaveDialog(const QString& fileName) {
    return executeFileDialog(SaveDialog(), 1, fileName);
}

QFileDialog* TForm1::CsvSaveDialog() {
    if (csvSaveDialog_ == nullptr) {
        csvSaveDialog_ =
            makeFileDialog(this, "CsvSaveDialog", QStringLiteral("CSV file [*.csv] (*.csv)"),
                           QFileDialog::AcceptSave);
    }
    return csvSaveDialog_;
}

namespace {

// A chosen path as the file system spells it, and as the user sees it.
std::string fsName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
QString quotedName(const QString& path) {
    return QString::fromUtf8("«") + path + QString::fromUtf8("»");
}

} // namespace

void TForm1::N8Click() {
    const QString path = executeSaveDialog(QStringLiteral("*.fcd"));
    if (path.isEmpty()) {
        return;
    }
    // Everything is built before any file is touched: a field that does not
    // convert stops the save with the old file as it was.
    QString error;
    if (!config->Write_conf(&error)) {
        showError(QString::fromUtf8("Файл не сохранён.\n") + error);
        return;
    }
    const auto file = config_file::encode(config->configBlock.encode(), *numberGrid);
    if (!file.ok()) {
        showError(QString::fromUtf8("Файл не сохранён.\n") + q(*file.error));
        return;
    }
    file_io::FileError failure;
    if (!file_io::writeFileAtomically(fsName(path), file.bytes, &failure)) {
        logLine("Не удается сохранить файл");
        showError(QString::fromUtf8("Не удается сохранить файл ") + quotedName(path) +
                  QStringLiteral(": ") + q(failure.reason));
    }
}

void TForm1::N3Click() {
    const QString path = executeOpenDialog(1, QStringLiteral("*.fcd"));
    if (path.isEmpty()) {
        return;
    }
    file_io::FileError failure;
    const auto bytes = file_io::readWholeFile(fsName(path), config_file::kMaxFileSize, &failure);
    if (!bytes) {
        logLine("Не удается открыть файл");
        showError(QString::fromUtf8("Не удается открыть файл ") + quotedName(path) +
                  QStringLiteral(": ") + q(failure.reason));
        return;
    }
    config_file::DecodeError why;
    const auto file = config_file::decode(*bytes, &why);
    if (!file) {
        showError(q(why.message(s(path))) +
                  QString::fromUtf8(". Настройки и список номеров не изменены."));
        return;
    }
    config->configBlock = ConfigBlock::decode(file->block);
    config->Read_conf(); // leaves the Password box as it is
    config_file::fillGrid(*file, *numberGrid);
}

void TForm1::RzToolButton7Click() {
    const QString path = executeOpenDialog(3, QStringLiteral("*.csv"));
    if (path.isEmpty()) {
        return;
    }
    file_io::FileError failure;
    const auto bytes = file_io::readWholeFile(fsName(path), csv_numbers::kMaxFileSize, &failure);
    if (!bytes) {
        showError(QString::fromUtf8("Не удается открыть файл ") + quotedName(path) +
                  QStringLiteral(": ") + q(failure.reason));
        return;
    }
    const auto result = csv_numbers::importCsv(*bytes, *numberGrid);
    if (!result.started) {
        return; // every row holds a number
    }
    logLine(result.summary());
    if (result.error) {
        showError(q(*result.error));
    }
}

void TForm1::N10Click() {
    const QString path = executeFileDialog(CsvSaveDialog(), 1, QStringLiteral("*.csv"));
    if (path.isEmpty()) {
        return;
    }
    const auto exported = csv_numbers::exportCsv(*numberGrid);
    if (!exported.ok()) {
        showError(q(*exported.error));
        return;
    }
    file_io::FileError failure;
    if (!file_io::writeFileAtomically(fsName(path), exported.bytes, &failure)) {
        logLine("Не удается сохранить файл");
        showError(QString::fromUtf8("Не удается сохранить файл ") + quotedName(path) +
                  QStringLiteral(": ") + q(failure.reason));
        return;
    }
    logLine("Экспорт в CSV: записано номеров: " + std::to_string(exported.rows) + " в файл «" +
            s(path) + "»");
}

QFileDialog* TForm1::LogSaveDialog() {
    if (logSaveDialog_ == nullptr) {
        logSaveDialog_ =
            makeFileDialog(this, "LogSaveDialog", QStringLiteral("Text file [*.txt] (*.txt)"),
                           QFileDialog::AcceptSave);
    }
    return logSaveDialog_;
}

void TForm1::LogSaveClick() {
    // The lines as they are now: whatever is logged while the dialog is open
    // is not asked for.
    const std::string bytes = log_file::format(logStamps_->lines());
    const QString path = executeFileDialog(
        LogSaveDialog(), 1, q(log_file::suggestedName(std::chrono::system_clock::now())));
    if (path.isEmpty()) {
        return;
    }
    file_io::FileError failure;
    if (!file_io::writeFileAtomically(fsName(path), bytes, &failure)) {
        logLine("Не удается сохранить файл");
        showError(QString::fromUtf8("Не удается сохранить файл ") + quotedName(path) +
                  QStringLiteral(": ") + q(failure.reason));
        return;
    }
    logLine("Журнал сохранен в файл «" + s(path) + "»");
}

void TForm1::N9Click() {
    close();
}

void TForm1::showError(const QString& text) {
    // A port error ends the handler; the program goes on. One box at a time,
    // so a port that fails every second does not pile them up.
    logLine(s(text));
    if (errorBox_ != nullptr) {
        return;
    }
    // The guarded pointer clears itself when the box closes, also when the
    // window is destroyed with the box still open.
    errorBox_ = new QMessageBox(QMessageBox::Critical, windowTitle(), text, QMessageBox::Ok, this);
    errorBox_->setAttribute(Qt::WA_DeleteOnClose);
    errorBox_->open();
}

void TForm1::syncTimers() {
    if (closing_) {
        return;
    }
    if (session->tickNeeded()) {
        if (!Timer.isActive()) {
            Timer.start();
        }
    } else if (Timer.isActive()) {
        Timer.stop();
    }
    if (session->portTickNeeded()) {
        if (!Timer_sys.isActive()) {
            Timer_sys.start();
        }
    } else if (Timer_sys.isActive()) {
        Timer_sys.stop();
    }
}

// --- SessionObserver ----------------------------------------------------------

void TForm1::logLine(const std::string& text) {
    ui.Log->appendPlainText(q(text));
}

void TForm1::showStatus(int panel, const std::string& text) {
    QLabel* label = ui.StatusPanels[static_cast<std::size_t>(panel)];
    const QString shown = q(text);
    label->setText(shown);
    label->setToolTip(shown);
    if (panel == 1) {
        // Port names here ("ttyUSB0", full paths) are longer than "COM3": the
        // port panel grows into the empty first panel rather than clip them.
        const int need = label->fontMetrics().horizontalAdvance(shown) + 12;
        const int width = std::clamp(need, 50, 200);
        label->setFixedWidth(width);
        ui.StatusPanels[0]->setFixedWidth(std::max(0, 150 - (width - 50)));
    }
}

void TForm1::portStatus(const std::string& text) {
    showStatus(1, text);
}

void TForm1::linkStatus(const std::string& text) {
    showStatus(2, text);
}

void TForm1::phaseChanged(const LinkPhase& phase) {
    // Connect links once the port timer no longer does; "Работать автономно"
    // leaves a serial link mode; the firmware page opens an image once the
    // bootloader answered and programs one that is held.
    ui.Connect->setEnabled(phase.manualConnect);
    ui.Disconnect->setEnabled(phase.linkHeld);
    ui.RzToolButton6->setEnabled(phase.serialMode);
    ui.Program->setEnabled(phase.imageReady);
    ui.Open_FW->setEnabled(phase.bootloaderReady);
}

void TForm1::message(const std::string& text) {
    // Not modal for the timers: the ticks go on while the box is open.
    auto* box =
        new QMessageBox(QMessageBox::Information, windowTitle(), q(text), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TForm1::error(const std::string& text) {
    showError(q(text));
}

void TForm1::timersChanged() {
    syncTimers();
}

void TForm1::firmwarePageReset() {
    ui.FW_load->setValue(0);
    ui.FW_ver->setText(QString::fromStdString(firmwareVersionText(std::nullopt)));
    ui.Firmware_file->clear();
}

void TForm1::event(const SessionEvent& event) {
    if (const auto* read = std::get_if<events::ConfigRead>(&event)) {
        config->configBlock = ConfigBlock::decode(read->block);
        config->Read_conf();
    } else if (const auto* bad = std::get_if<events::BadPackets>(&event)) {
        ui.Label7->setText(QString::number(bad->count));
    } else if (std::holds_alternative<events::AwaitingBootloader>(event)) {
        ui.FW_load->setValue(0);
    } else if (const auto* progress = std::get_if<events::FirmwareProgress>(&event)) {
        ui.FW_load->setValue(progress->percent);
    } else if (std::holds_alternative<events::FirmwareDone>(event)) {
        firmware->showFirstPage();
    } else if (const auto* image = std::get_if<events::FirmwareImage>(&event)) {
        firmware->showImage(image->path, firmwareVersionText(image->version));
    }
    showEventText(event, *this);
    if (std::holds_alternative<events::DeviceRead>(event)) {
        session->keepBackup(backups::folder());
    }
}
