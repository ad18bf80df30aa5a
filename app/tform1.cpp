#include "app/tform1.h"

#include "app/install_layout.h"
#include "app/log_stamps.h"
#include "app/port_combo_box.h"
#include "app/settings.h"
#include "app/tform2.h"
#include "link/port_discovery.h"
#include "lists/config_file.h"
#include "lists/csv_numbers.h"
#include "lists/file_io.h"
#include "lists/log_file.h"

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
#include <QSocketNotifier>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kInternet = QString::fromUtf8(kInternetEntry);
const QString kStartCaption = QString::fromUtf8("Запустить");

int signalPipe[2] = {-1, -1};

void onUnixSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

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
    numberList =
        std::make_unique<NumberListBinding>(ui, *numberGrid, link, commands, protocolState);

    // The serial port as the window description has it.
    Comm_port.SetDeviceName("Com1");
    Comm_port.SetReadBufSize(1024);
    Comm_port.SetWriteBufSize(1024);
    Comm_port.SetMonitorEvents(TCommEventTypes{evRxChar, evRxFlag, evTxEmpty});
    Comm_port.SetBaudRate(br115200);
    // With the fast exchange a receive event may run the analysis itself, so
    // it is guarded as the tick is.
    Comm_port.OnRxChar = [this](TThreadComm*, std::uint32_t count) {
        guarded([&] { link.Comm_portRxChar(count); });
    };
    Comm_port.OnLineLost = [this](TThreadComm*) { guarded([this] { link.portLost(); }); };

    link.analyse = [this] { analyser.Receive_analyse(); };
    analyser.numberGrid = numberGrid.get();
    analyser.Read_conf = [this](const frames::ConfigBlockBytes& block) {
        config->configBlock = ConfigBlock::decode(block);
        config->Read_conf();
    };
    analyser.currentPage = [this] { return currentPage(); };
    // The number list: the read after a configuration read, the bulk writer
    // after a configuration write (and its tick), keys reported by the device.
    analyser.Read_numbersClick = [this] { numberList->Read_numbersClick(); };
    analyser.WriteNumbers = [this](int step) { numberList->writer.WriteNumbers(step); };
    analyser.AddToNumListString = [this](const std::string& utf8) {
        numberList->AddToNumListString(utf8);
    };
    analyser.resendLastBatch = [this] { numberList->writer.resendLastBatch(); };
    link.writerStep = [this] { numberList->writer.WriteNumbers(3); };
    link.writerBusy = [this] { return numberList->writer.busy(); };
    // The firmware page: the bootloader sees every chunk while the page is
    // active; the link's watchdog, another page or a lost port end the exchange.
    firmware = std::make_unique<FirmwarePageBinding>(
        ui, link,
        [this](int filter, const QString& name) { return executeOpenDialog(filter, name); }, this);
    analyser.Bootloader_analyse = [this](const std::uint8_t* bytes, std::size_t count) {
        firmware->session.analyse(bytes, count);
    };
    link.closeFirmwareFile = [this] { firmware->session.watchdogReset(); };
    link.stopFirmware = [this](const std::string& why) { firmware->session.interrupt(why); };
    // Closing mid-way leaves the device in its bootloader with part of the image.
    deviceWrites.add({[this] { return firmware->session.deviceHolds(); },
                      [this] { firmware->session.interrupt("программа закрыта"); }});
    connect(ui.Open_FW, &QAbstractButton::clicked, this,
            [this] { guarded([this] { firmware->Open_FWClick(); }); });
    connect(ui.Program, &QAbstractButton::clicked, this,
            [this] { guarded([this] { firmware->ProgramClick(); }); });
    analyser.setLabel7Caption = [this](const std::string& caption) {
        ui.Label7->setText(q(caption));
    };
    // An installed program keeps the server's module in its own folder.
    ServerSocket1.moduleFolder = install_layout::moduleFolder(install_layout::programFolder());
    ServerSocket1.ServerSocket1ClientRead = [this](const std::uint8_t* bytes, std::size_t count) {
        guarded([&] { analyser.ServerSocket1ClientRead(bytes, count); });
    };
    link.timersChanged = [this] { syncTimers(); };
    // A cut read leaves a list that must not silently replace the device's;
    // a write under way is stopped and reported when the program closes.
    link.exchangeCut = [this] { numberList->transfer.readCut(); };
    deviceWrites.add({[this]() -> std::optional<std::string> {
                          if (!protocolState.configWritePending || link.state.replyTimer == 0) {
                              return std::nullopt;
                          }
                          return std::string("конфигурация отправлена, прибор ее не подтвердил; "
                                             "номера не записывались");
                      },
                      [this] { protocolState.configWritePending = false; }});
    deviceWrites.add({[this] { return numberList->writer.deviceHolds(); },
                      [this] { numberList->writer.stop(); }});
    link.defer = [this](int ms, std::function<void()> call) {
        QTimer::singleShot(ms, this, [this, call = std::move(call)] { guarded(call); });
    };

    link.sendData = [this](const std::uint8_t* bytes, std::size_t count) {
        return ServerSocket1.Send_data(bytes, count);
    };
    link.stopServer = [this] { ServerSocket1.Start_server_fun(false); };
    link.serverListening = [this] { return ServerSocket1.isListening(); };
    ServerSocket1.setStartCaption = [this](const QString& caption) {
        ui.Start_server->setText(caption);
    };

    Timer.setInterval(20);
    Timer.setTimerType(Qt::PreciseTimer);
    Timer_sys.setInterval(1000);
    connect(&Timer, &QTimer::timeout, this, [this] { guarded([this] { link.TimerTimer(); }); });
    connect(&Timer_sys, &QTimer::timeout, this,
            [this] { guarded([this] { link.Timer_sysTimer(); }); });

    // Only a mouse click on the tree changes the page.
    ui.TreeView->viewport()->installEventFilter(this);
    connect(ui.Port_Box, &PortComboBox::aboutToDropDown, this, [this] { Port_BoxDropDown(); });
    connect(ui.Port_Box, &QComboBox::currentTextChanged, this, [this] { Port_BoxChange(); });
    connect(ui.Rate, &QComboBox::activated, this, [this] { RateChange(); });
    connect(ui.Start_server, &QAbstractButton::clicked, this, [this] { Start_serverClick(); });
    connect(ui.Connect, &QAbstractButton::clicked, this,
            [this] { guarded([this] { link.ConnectClick(); }); });
    connect(ui.Disconnect, &QAbstractButton::clicked, this,
            [this] { guarded([this] { link.DisconnectClick(); }); });
    connect(ui.RzToolButton6, &QAbstractButton::clicked, this,
            [this] { guarded([this] { link.RzToolButton6Click(); }); });
    connect(ui.Debug_en, &QAbstractButton::clicked, this,
            [this](bool checked) { link.Debug_enClick(checked); });
    connect(ui.Button1, &QAbstractButton::clicked, this,
            [this] { guarded([this] { link.Button1Click(s(ui.Comand_box->text())); }); });
    connect(ui.N6, &QAction::triggered, this, [this] { N6Click(); });
    connect(ui.RzToolButton3, &QAbstractButton::clicked, this, [this] { N6Click(); });
    connect(ui.N7, &QAction::triggered, this, [this] { N7Click(); });
    connect(ui.RzToolButton4, &QAbstractButton::clicked, this, [this] { N7Click(); });
    connect(ui.ChPass, &QAbstractButton::clicked, this, [this] {
        guarded([this] { commands.ChPassClick(s(ui.Password->text()), s(ui.New_pass->text())); });
    });
    connect(ui.Send_APN, &QAbstractButton::clicked, this, [this] {
        guarded([this] { commands.Send_APNClick(s(ui.Password->text()), config->deviceApn()); });
    });
    connect(ui.Reset_but, &QAbstractButton::clicked, this,
            [this] { guarded([this] { commands.Reset_butClick(); }); });
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

    if (options_.handleSignals && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        signalNotifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(signalNotifier_, &QSocketNotifier::activated, this, [this] { onSignal(); });
        struct sigaction sa {};
        sa.sa_handler = onUnixSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &sa, nullptr);
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGHUP, &sa, nullptr);
    }

    FormCreate();
}

TForm1::~TForm1() {
    // The port's event thread must be gone before the window's members are.
    Comm_port.Close();
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
    link.state.portName = settings.port;
    storedPort_ = settings.port;
    if (options_.portOverride) {
        link.state.portName = s(*options_.portOverride);
    }
    {
        const QSignalBlocker block(ui.Port_Box);
        ui.Port_Box->setEditText(q(link.state.portName));
    }

    std::uint8_t baud = static_cast<std::uint8_t>(settings.baudrate & 0xFF);
    if (baud > br256000) {
        logLine("Скорость порта из файла настроек (" + std::to_string(baud) +
                ") не поддерживается, установлено 115200");
        baud = br115200;
    }
    link.state.baudIndex = baud;
    ui.Rate->setCurrentIndex(baud < ui.Rate->count() ? baud : -1);
    Comm_port.SetBaudRate(static_cast<TBaudRate>(baud));

    config->selectOperators(settings.modProv, settings.devProv);
    std::uint32_t serverPort = settings.serverPort;
    if (serverPort > 65535) {
        // Serv_port holds five digits: a larger (or negative) stored value
        // would be shown cut and saved back wrong.
        logLine("Порт сервера из файла настроек (" + std::to_string(settings.serverPort) +
                ") не может быть портом TCP, установлено 2020");
        serverPort = 2020;
    }
    link.state.serverPort = serverPort;
    ui.Serv_port->setText(QString::number(serverPort));
    ServerSocket1.listenAddress = q(settings.serverAddress);
    for (const std::string& peer : settings.allowedPeers) {
        ServerSocket1.allowedPeers.append(q(peer));
    }
    ui.Fast_exchange->setChecked(settings.fastExchange);
    link.setFastExchange(settings.fastExchange);
    connect(ui.Fast_exchange, &QAbstractButton::toggled, this,
            [this](bool on) { link.setFastExchange(on); });

    // 9-13. The relay timing defaults, shown and drawn.
    config->startUp();

    // Both timers run from the start: the port timer's first tick comes a second
    // later.
    Timer_sys.start();
    syncTimers();
}

void TForm1::FormClose() {
    if (link.state.linkUp && link.state.directDevice) {
        link.SendStr(frames::frameClose());
    }
    Settings settings;
    settings.port = link.state.portName;
    if (options_.portOverride && link.state.portName == s(*options_.portOverride)) {
        settings.port = storedPort_; // the command line named it for this run only
    }
    settings.baudrate = link.state.baudIndex;
    settings.modProv = ui.Modem_prov->currentIndex();
    settings.devProv = ui.Dev_prov->currentIndex();
    settings.serverPort = link.state.serverPort;
    settings.fastExchange = link.fastExchange();
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
    Comm_port.Close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        // A write under way is cut only when the user says so; a signal
        // does not ask. Either way the device's state is told exactly.
        if (closingSignal_ == 0 && deviceWrites.underWay() &&
            QMessageBox::question(this, windowTitle(),
                                  QString::fromUtf8("Идет запись в прибор. Прервать?")) !=
                QMessageBox::Yes) {
            event->ignore();
            return;
        }
        if (const auto holds = deviceWrites.stopAll()) {
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

void TForm1::onSignal() {
    char buf[16];
    const auto n = ::read(signalPipe[0], buf, sizeof buf);
    closingSignal_ = n > 0 ? static_cast<unsigned char>(buf[0]) : SIGTERM;
    close();
    // Ended by a signal: the exit code says so, as the shell's 128 + signal.
    QCoreApplication::exit(128 + closingSignal_);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui.TreeView->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // The tree has updated its selection on the press; the click acts on it.
        QTimer::singleShot(0, this, [this] { guarded([this] { TreeViewClick(); }); });
    }
    return QMainWindow::eventFilter(watched, event);
}

int TForm1::currentPage() const {
    return ui.PageControl->isHidden() ? -1 : ui.PageControl->currentIndex();
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

    link.TreeViewClick(index);
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
    guarded([this] { link.Port_BoxChange(s(ui.Port_Box->currentText())); });
}

void TForm1::RateChange() {
    guarded([this] {
        const int index = ui.Rate->currentIndex();
        if (index < 0) {
            return;
        }
        link.state.baudIndex = static_cast<std::uint8_t>(index & 0xFF);
        Comm_port.SetBaudRate(static_cast<TBaudRate>(link.state.baudIndex));
    });
}

void TForm1::Start_serverClick() {
    guarded([this] {
        if (ui.Start_server->text() == kStartCaption) {
            ServerSocket1.Start_server_fun(true, ui.Edit2->text());
        } else {
            ServerSocket1.Start_server_fun(false);
        }
    });
}

void TForm1::N6Click() {
    guarded([this] { commands.N6Click(s(ui.Password->text())); });
}

void TForm1::N7Click() {
    if (link.state.remoteConnected && numberList->transfer.listIncomplete() &&
        QMessageBox::question(
            this, windowTitle(),
            QString::fromUtf8("Список номеров считан из прибора не полностью. Запись заменит "
                              "список прибора этим неполным списком. Записать?")) !=
            QMessageBox::Yes) {
        logLine("Запись не начата: список номеров считан не полностью");
        return;
    }
    guarded([this] {
        commands.N7Click(s(ui.Password->text()),
                         [this]() -> std::optional<frames::ConfigBlockBytes> {
                             QString error;
                             if (!config->Write_conf(&error)) {
                                 logLine("Конфигурация не записана: " + s(error));
                                 showMessage(s(error));
                                 return std::nullopt;
                             }
                             return config->configBlock.encode();
                         });
    });
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
    std::string why;
    const auto file = config_file::decode(*bytes, &why);
    if (!file) {
        showError(QString::fromUtf8("Файл ") + quotedName(path) +
                  QString::fromUtf8(" не является файлом конфигурации: ") + q(why) +
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

template <typename F> void TForm1::guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        showError(QString::fromUtf8(e.what()));
    }
    syncTimers();
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
    if (link.tickNeeded()) {
        if (!Timer.isActive()) {
            Timer.start();
        }
    } else if (Timer.isActive()) {
        Timer.stop();
    }
    if (link.portTimerEnabled()) {
        if (!Timer_sys.isActive()) {
            Timer_sys.start();
        }
    } else if (Timer_sys.isActive()) {
        Timer_sys.stop();
    }
}

// --- LinkView ---------------------------------------------------------------

void TForm1::logLine(const std::string& text) {
    ui.Log->appendPlainText(q(text));
}

void TForm1::setStatusPanel(int panel, const std::string& text) {
    if (panel < 0 || panel >= 3) {
        return;
    }
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

QWidget* TForm1::buttonWidget(LinkButton button) const {
    switch (button) {
    case LinkButton::Connect:
        return ui.Connect;
    case LinkButton::Disconnect:
        return ui.Disconnect;
    case LinkButton::WorkOffline:
        return ui.RzToolButton6;
    case LinkButton::Program:
        return ui.Program;
    case LinkButton::OpenFirmware:
        return ui.Open_FW;
    }
    return nullptr;
}

void TForm1::setButtonEnabled(LinkButton button, bool enabled) {
    buttonWidget(button)->setEnabled(enabled);
}

bool TForm1::isButtonEnabled(LinkButton button) const {
    return buttonWidget(button)->isEnabled();
}

void TForm1::showMessage(const std::string& text) {
    // Not modal for the timers: the ticks go on while the box is open.
    auto* box =
        new QMessageBox(QMessageBox::Information, windowTitle(), q(text), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void TForm1::setDiagnosticControlsVisible(bool visible) {
    ui.Label12->setVisible(visible);
    ui.Comand_box->setVisible(visible);
    ui.Button1->setVisible(visible);
}

void TForm1::resetFirmwarePage() {
    ui.FW_load->setValue(0);
    ui.FW_ver->setText(QString::fromUtf8("Версия:"));
    ui.Firmware_file->clear();
}

std::string TForm1::numberDeviceText() const {
    return s(ui.Number_device->text());
}

std::string TForm1::servPortText() const {
    return s(ui.Serv_port->text());
}

void TForm1::setInternetControlsVisible(bool visible) {
    ui.Label29->setVisible(visible);
    ui.Edit2->setVisible(visible);
    ui.Start_server->setVisible(visible);
}

void TForm1::setFirmwareProgress(int position) {
    ui.FW_load->setValue(position);
}
