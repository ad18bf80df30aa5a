// The main window with the link against the simulator on a pseudo-terminal:
// greeting, busy port, work offline, closing, settings, page selection, port
// choice and an unplugged device.
#include "app/port_combo_box.h"
#include "app/settings.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "tests/support/child_test.h"
#include "tests/support/device_holder.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_process.h"
#include "tests/support/window_run.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString& kLinked = kLinkedText;

std::string readAll(const QString& path) {
    return readFileBytes(path);
}
int count(const std::string& text, const std::string& what) {
    return countOf(text, what);
}

class LinkWindowFlow : public BothExchanges {};
INSTANTIATE_TEST_SUITE_P(Exchange, LinkWindowFlow, ::testing::Bool(), exchangeName);

} // namespace

TEST(LinkWindow, GreetsOnceASecondUntilTheDeviceAnswers) {
    // The test is the device: it stays silent for three greetings.
    PtyPair pty;
    QTemporaryDir dir;
    TForm1::Options o;
    o.portOverride = QString::fromStdString(pty.slavePath);
    o.settingsPath = dir.filePath(Settings::fileName());
    o.sysClassTty = dir.filePath(QStringLiteral("no-sys"));
    TForm1 form(o);
    form.show();
    const QString path = QString::fromStdString(pty.slavePath);
    std::string got;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                got += pty.drainMaster(0, 0);
                return count(got, "CONFO") > i;
            },
            3000));
    }
    EXPECT_EQ(got, "CONFOCONFOCONFO");
    EXPECT_EQ(form.ui.StatusPanels[1]->text(), path);
    EXPECT_EQ(form.ui.StatusPanels[2]->text(), QString::fromUtf8("Поиск..."));

    ASSERT_TRUE(pty.writeMaster(std::string("VELIRAN ") + char(30) + "#"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ui.StatusPanels[2]->text() == kLinked; }, 3000));
    EXPECT_TRUE(form.ui.Log->toPlainText().contains(QString::fromUtf8("Соединение установлено")));
    QTest::qWait(2300);
    got = pty.drainMaster(0, 0);
    EXPECT_EQ(count(got, "CONFO"), 0) << got;
    EXPECT_TRUE(form.ui.Connect->isEnabled());
    EXPECT_TRUE(form.ui.Disconnect->isEnabled());
    EXPECT_FALSE(form.Timer_sys.isActive());
    // Nothing counts while linked and idle: the 20 ms tick sleeps.
    EXPECT_FALSE(form.Timer.isActive());
}

TEST_P(LinkWindowFlow, LinksToTheSimulatorAndStopsGreeting) {
    WindowRun run;
    run.fast = GetParam();
    run.startSim({"--fw-version", "30"});
    run.openWindow();
    ASSERT_TRUE(run.waitPanel(kLinked)) << run.panel(2).toStdString();
    QTest::qWait(2200);
    EXPECT_EQ(count(readAll(run.trace), "CONFO"), 1);
}

TEST(LinkWindow, PortHeldByAnotherProcessIsBusy) {
    WindowRun run;
    run.startSim();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(run.link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        const bool locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        [[maybe_unused]] auto n = ::write(ready[1], locked ? "1" : "0", 1);
        ::pause();
        ::_exit(0);
    }
    char flag = 0;
    ASSERT_EQ(::read(ready[0], &flag, 1), 1);
    ASSERT_EQ(flag, '1');
    run.openWindow();
    const QString busy = QString::fromUtf8("Порт ") + run.link + QString::fromUtf8(" занят");
    EXPECT_TRUE(run.waitPanel(busy, 3000)) << run.panel(2).toStdString();
    EXPECT_EQ(run.panel(1), QStringLiteral("NC"));
    EXPECT_FALSE(run.form->Timer_sys.isActive());
    // The log names the program that holds it (a copy of this one).
    EXPECT_TRUE(run.log().contains(busy + QString::fromUtf8(" программой test_app (pid ") +
                                   QString::number(holder) + QLatin1Char(')')))
        << run.log().toStdString();
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    // Connect tries again once the port is free.
    QTest::mouseClick(run.form->ui.Connect, Qt::LeftButton);
    EXPECT_FALSE(run.form->ui.Connect->isEnabled()); // disabled at start: nothing happens
    run.form->session->connect({}, {});
    EXPECT_TRUE(run.waitPanel(kLinked, 5000));
}

// A program that merely has the port open (a terminal program, a stray cat)
// holds it too, though it takes no lock and we run as root.
TEST(LinkWindow, PortOpenInAProgramWithoutALockIsBusy) {
    WindowRun run;
    run.startSim();
    auto holder = std::make_unique<DeviceHolder>(run.link.toStdString());
    ASSERT_TRUE(holder->ok()) << holder->error();
    run.openWindow();
    const QString busy = QString::fromUtf8("Порт ") + run.link + QString::fromUtf8(" занят");
    EXPECT_TRUE(run.waitPanel(busy, 3000)) << run.panel(2).toStdString();
    EXPECT_EQ(run.panel(1), QStringLiteral("NC"));
    EXPECT_TRUE(run.log().contains(busy + QString::fromUtf8(" программой sleep (pid ") +
                                   QString::number(holder->pid()) + QLatin1Char(')')))
        << run.log().toStdString();
    EXPECT_EQ(count(readAll(run.trace), "CONFO"), 0) << "the device was greeted";

    holder.reset();
    run.form->session->connect({}, {});
    EXPECT_TRUE(run.waitPanel(kLinked, 5000));
}

TEST(LinkWindow, WorkOfflineSaysGoodbyeAndClosesThePort) {
    WindowRun run;
    run.startSim();
    run.openWindow();
    ASSERT_TRUE(run.waitPanel(kLinked));
    QTest::mouseClick(run.form->ui.RzToolButton6, Qt::LeftButton);
    EXPECT_FALSE(run.form->session->port().Enabled());
    EXPECT_EQ(run.panel(1), QStringLiteral("NC"));
    EXPECT_EQ(run.panel(2), QString::fromUtf8("Автономный режим"));
    EXPECT_FALSE(run.form->ui.RzToolButton6->isEnabled());
    EXPECT_TRUE(run.form->ui.Connect->isEnabled());
    EXPECT_FALSE(run.form->ui.Disconnect->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return readAll(run.trace).ends_with("CONFC\r"); }, 2000))
        << readAll(run.trace);

    // Connect searches again and links again.
    QTest::mouseClick(run.form->ui.Connect, Qt::LeftButton);
    EXPECT_TRUE(run.waitPanel(kLinked));
}

TEST(LinkWindow, ClosingSaysGoodbyeAndKeepsTheSettingsForTheNextRun) {
    WindowRun run;
    run.startSim();
    {
        Settings stored;
        stored.port = run.link.toStdString();
        ASSERT_FALSE(stored.write(run.settings).has_value());
    }
    run.openWindow(/*overridePort=*/false);
    ASSERT_TRUE(run.waitPanel(kLinked));
    run.form->ui.Modem_prov->setCurrentIndex(0);
    run.form->ui.Dev_prov->setCurrentIndex(3);
    run.form->close();
    EXPECT_FALSE(run.form->session->port().Enabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return readAll(run.trace).ends_with("CONFC\r"); }, 2000));
    const std::string file = readAll(run.settings);
    EXPECT_EQ(file, "[Config]\r\nPort=" + run.link.toStdString() +
                        "\r\nBaudrate=12\r\nMod_prov=0\r\nDev_prov=3\r\nServer_"
                        "port=2020\r\n");

    // The next run takes the port from the settings and links again.
    run.form.reset();
    run.openWindow(/*overridePort=*/false);
    EXPECT_EQ(run.form->ui.Port_Box->currentText(), run.link);
    EXPECT_EQ(run.form->ui.Modem_prov->currentIndex(), 0);
    EXPECT_EQ(run.form->ui.Dev_prov->currentIndex(), 3);
    EXPECT_TRUE(run.waitPanel(kLinked));
}

TEST(LinkWindow, FirstRunAndHandWrittenSettings) {
    QTemporaryDir dir;
    TForm1::Options o;
    o.settingsPath = dir.filePath(Settings::fileName());
    o.sysClassTty = dir.filePath(QStringLiteral("no-sys"));
    {
        TForm1 form(o);
        EXPECT_EQ(form.ui.Port_Box->currentText(), QStringLiteral("COM1"));
        EXPECT_EQ(form.ui.Rate->currentIndex(), 12);
        EXPECT_EQ(form.ui.Modem_prov->currentText(), QString::fromUtf8("Теле2"));
        EXPECT_EQ(form.ui.Dev_prov->currentText(), QString::fromUtf8("Теле2"));
        EXPECT_EQ(form.ui.Serv_port->text(), QStringLiteral("2020"));
        EXPECT_EQ(form.session->link().state.baudIndex, 12);
    }
    QFile f(o.settingsPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[Config]\r\nPort=ttyUSB3\r\nBaudrate=268\r\nServer_port=0x7E4\r\n");
    f.close();
    TForm1 form(o);
    EXPECT_EQ(form.ui.Port_Box->currentText(), QStringLiteral("ttyUSB3"));
    EXPECT_EQ(form.session->link().state.baudIndex, 12);
    EXPECT_EQ(form.session->port().BaudRate(), br115200);
    EXPECT_EQ(form.ui.Rate->currentIndex(), 12);
    EXPECT_EQ(form.ui.Serv_port->text(), QStringLiteral("2020"));
}

TEST(LinkWindow, StoredServerPortThatNoTcpPortCanBeIsReplaced) {
    QTemporaryDir dir;
    TForm1::Options o;
    o.settingsPath = dir.filePath(Settings::fileName());
    o.sysClassTty = dir.filePath(QStringLiteral("no-sys"));
    QFile f(o.settingsPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Config]\r\nServer_port=-5\r\n");
    f.close();
    TForm1 form(o);
    EXPECT_EQ(form.ui.Serv_port->text(), QStringLiteral("2020"));
    EXPECT_EQ(form.session->link().state.serverPort, 2020u);
    EXPECT_TRUE(form.ui.Log->toPlainText().contains(QString::fromUtf8("установлено 2020")));
}

TEST(LinkWindow, SettingsThatCannotBeWrittenAreReportedAndThePortStillCloses) {
    WindowRun run;
    run.startSim();
    TForm1::Options o;
    o.portOverride = run.link;
    o.settingsPath = QStringLiteral("/sys/vxrt7-no-such-folder/") + Settings::fileName();
    o.sysClassTty = run.dir.filePath(QStringLiteral("no-sys"));
    TForm1 form(o);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ui.StatusPanels[2]->text() == kLinked; }, 5000));
    // The warning is modal; answer it as a user would.
    QTimer::singleShot(200, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                EXPECT_TRUE(box->text().contains(QStringLiteral("onfig.ini")))
                    << box->text().toStdString();
                box->accept();
            }
        }
    });
    form.close();
    EXPECT_FALSE(form.session->port().Enabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return readAll(run.trace).ends_with("CONFC\r"); }, 2000));
}

TEST(LinkWindow, PagesAndTheFirmwarePage) {
    WindowRun run;
    run.startSim();
    run.openWindow();
    ASSERT_TRUE(run.waitPanel(kLinked));
    EXPECT_EQ(run.form->currentPage(), 0);
    run.clickTree(1);
    EXPECT_EQ(run.form->currentPage(), 1);
    EXPECT_EQ(run.panel(2), QString::fromUtf8("Coeдинение установлено: \"Велиран\""));
    run.clickTree(3);
    EXPECT_EQ(run.form->currentPage(), 3);
    EXPECT_TRUE(run.form->session->link().state.bootloaderMode);
    EXPECT_EQ(run.form->session->link().state.quietTicks, 5);
    EXPECT_TRUE(run.form->session->port().Enabled()); // kept open
    EXPECT_EQ(run.panel(2), QString::fromUtf8("Ожидается соединение с загрузчиком..."));
    run.clickTree(2);
    EXPECT_EQ(run.form->currentPage(), 2);
    EXPECT_FALSE(run.form->session->link().state.bootloaderMode);

    // With the port closed (offline), the firmware page opens it itself.
    run.form->session->goOffline();
    run.clickTree(3);
    EXPECT_TRUE(run.form->session->port().Enabled());
    EXPECT_EQ(run.panel(2), QString::fromUtf8("Порт ") + run.link + QString::fromUtf8(" открыт"));
    // Keyboard moves do not switch pages.
    run.form->ui.TreeView->setFocus();
    QTest::keyClick(run.form->ui.TreeView, Qt::Key_Up);
    EXPECT_EQ(run.form->currentPage(), 3);
}

TEST(LinkWindow, ChoosingInternetAndBackToTheSerialPort) {
    WindowRun run;
    run.startSim();
    run.openWindow();
    ASSERT_TRUE(run.waitPanel(kLinked));
    QComboBox* box = run.form->ui.Port_Box;
    box->showPopup(); // the list is discovered anew, "Интернет" last
    ASSERT_GE(box->count(), 1);
    EXPECT_EQ(box->itemText(box->count() - 1), QString::fromUtf8("Интернет"));
    box->hidePopup();
    EXPECT_EQ(run.form->session->link().state.portName, run.link.toStdString()); // untouched
    box->setCurrentIndex(box->count() - 1);
    EXPECT_EQ(run.panel(1), QStringLiteral("NC"));
    EXPECT_EQ(run.panel(2), QString::fromUtf8("Интернет"));
    EXPECT_FALSE(run.form->session->port().Enabled());
    EXPECT_FALSE(run.form->ui.Edit2->isHidden());
    EXPECT_FALSE(run.form->ui.Start_server->isHidden());
    EXPECT_FALSE(run.form->ui.RzToolButton6->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return readAll(run.trace).ends_with("CONFC\r"); }, 2000));

    // Typing the serial port again searches for it and links.
    box->setEditText(run.link);
    EXPECT_TRUE(run.form->ui.Edit2->isHidden());
    EXPECT_TRUE(run.waitPanel(kLinked));
}

TEST(LinkWindow, UnpluggedDeviceIsReportedAndFoundAgain) {
    WindowRun run;
    run.startSim();
    run.openWindow();
    ASSERT_TRUE(run.waitPanel(kLinked));
    run.sim->stop();
    const QString lost = QString::fromUtf8("Потеряна связь с портом ") + run.link +
                         QString::fromUtf8(" (устройство отключено)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.log().contains(lost); }, 3000));
    EXPECT_EQ(run.log().count(lost), 1);
    EXPECT_FALSE(run.form->session->link().state.remoteConnected);
    EXPECT_EQ(run.panel(1), QStringLiteral("NC"));
    QTest::qWait(1500); // searching, not spinning, not reporting again
    EXPECT_EQ(run.log().count(lost), 1);

    run.startSim(); // plugged in again on the same name
    EXPECT_TRUE(run.waitPanel(kLinked, 6000)) << run.panel(2).toStdString();
}

TEST(LinkWindow, TerminatedProgramSaysGoodbyeAndSavesItsSettings) {
    // The real program, copied so that its settings land beside it in a temporary
    // folder.
    WindowRun run;
    run.startSim();
    const QString program = run.dir.filePath(QStringLiteral("vxrt7-config"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VXRT7_CONFIG_PATH), program));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const QByteArray exe = program.toLocal8Bit();
        const QByteArray port = run.link.toLocal8Bit();
        ::execl(exe.constData(), exe.constData(), "--port", port.constData(), nullptr);
        ::_exit(127);
    }
    // Linked once the greeting went out and one more port tick passed.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return readAll(run.trace).find("CONFO") != std::string::npos; }, 10000));
    QTest::qWait(1600);
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 5000));
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_TRUE(readAll(run.trace).ends_with("CONFC\r")) << readAll(run.trace);
    const std::string saved = readAll(run.dir.filePath(Settings::fileName()));
    // The port named on the command line was for that run only.
    EXPECT_NE(saved.find("Port=COM1\r\n"), std::string::npos) << saved;
}

namespace {
// Stands in for the desktop's handler of local files.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.append(url); }
};
} // namespace

TEST(LinkWindow, ManualOpensWithTheDesktopHandlerAndExitCloses) {
    WindowRun run;
    run.startLinked();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    run.form->ui.N1->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_TRUE(catcher.urls[0].isLocalFile());
    EXPECT_TRUE(catcher.urls[0].toLocalFile().endsWith(QStringLiteral("/UserManual_VX-RT-7.pdf")));

    // "Выход" runs the same close path as the window's close button.
    run.form->ui.N9->trigger();
    EXPECT_FALSE(run.form->session->port().Enabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return readAll(run.trace).ends_with("CONFC\r"); }, 2000));
    EXPECT_NE(readAll(run.settings).find("[Config]"), std::string::npos);
}

TEST(LinkWindow, AboutBoxIsMadeWhenFirstOpenedAndKeptForTheNextTime) {
    WindowRun run;
    run.openWindow();
    EXPECT_EQ(run.form->findChild<TForm2*>(), nullptr);
    TForm2* shown = nullptr;
    for (int time = 0; time < 2; ++time) {
        bool seen = false;
        QTimer::singleShot(0, run.form.get(), [&] {
            auto* about = qobject_cast<TForm2*>(QApplication::activeModalWidget());
            seen = about != nullptr;
            if (about == nullptr) {
                if (QWidget* other = QApplication::activeModalWidget()) {
                    other->close();
                }
                return;
            }
            if (shown == nullptr) {
                shown = about;
            }
            EXPECT_EQ(about, shown);
            about->OKButton->click();
        });
        run.form->N4Click();
        EXPECT_TRUE(seen);
    }
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(run.form->findChildren<TForm2*>().size(), 1);
    EXPECT_FALSE(shown->isVisible());
}

TEST(LinkWindow, APortOnlyItsOwnerMayOpenSaysSoAndTheFixOnce) {
    if (const char* port = std::getenv("VXRT7_PORT_WITHOUT_ACCESS")) {
        // The second run, as a user outside the port's group.
        WindowRun run;
        run.link = QString::fromLocal8Bit(port);
        run.openWindow();
        const QString denied =
            QString::fromUtf8("Порт ") + run.link + QString::fromUtf8(": нет доступа");
        ASSERT_TRUE(run.waitPanel(denied, 3000)) << run.panel(2).toStdString();
        EXPECT_FALSE(run.log().contains(QString::fromUtf8("занят")));
        // Tried again and again: the cause is in the log once.
        for (int i = 0; i < 3; ++i) {
            run.form->session->connect({}, {});
            QTest::qWait(1100);
        }
        EXPECT_EQ(run.panel(2), denied);
        // Only the owner may use it: joining its group would not help.
        const QString why =
            QString::fromUtf8("Нет доступа к порту ") + run.link +
            QString::fromUtf8(": права 600 (rw-------), владелец root, группа root: читать и "
                              "писать в него может только владелец. Разрешите доступ: sudo "
                              "chmod a+rw ") +
            run.link +
            QString::fromUtf8(" (до переподключения устройства; насовсем: правилом udev с "
                              "MODE=\"0666\")");
        EXPECT_EQ(run.log().count(why), 1) << run.log().toStdString();
        EXPECT_FALSE(run.log().contains(QString::fromUtf8("usermod")));
        return;
    }
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to run the window as a user without access to the port";
    }
    WindowRun run;
    run.startSim();
    const std::string port = run.sim->slavePath();
    ASSERT_EQ(::chown(port.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(port.c_str(), 0600), 0);
    ChildTest other(
        "LinkWindow.APortOnlyItsOwnerMayOpenSaysSoAndTheFixOnce",
        {{"VXRT7_PORT_WITHOUT_ACCESS", run.sim->slavePath()}, {"QT_QPA_PLATFORM", "offscreen"}},
        true);
    EXPECT_EQ(other.wait(), 0) << other.output();
    EXPECT_NE(other.output().find("[  PASSED  ] 1 test"), std::string::npos) << other.output();
}

#include "link_window_test.moc"

namespace {

// Runs the program at `exe` as user 65534 with the environment, waits until
// it has started, ends it with SIGTERM and returns its exit code (-1: it did
// not exit within 3 s) and its stderr.
std::pair<int, std::string> runAsNobodyThenTerminate(const QString& exe, const QString& home) {
    const QString errFile = home + QStringLiteral("/stderr");
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int err =
            ::open(errFile.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err, 2);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("HOME", home.toLocal8Bit().constData(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + QStringLiteral("/config")).toLocal8Bit().constData(),
                 1);
        ::unsetenv("XDG_RUNTIME_DIR");
        const QByteArray program = exe.toLocal8Bit();
        ::execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                program.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    QTest::qWait(1500);
    ::kill(pid, SIGTERM);
    int status = 0;
    const bool ended =
        QTest::qWaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 3000);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return {ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(errFile)};
}

} // namespace

TEST(LinkWindow, InstalledWhereTheUserCannotWriteSettingsLiveInTheConfigFolder) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to run the program as a user who cannot write its folder";
    }
    // The program installed in a folder of root's, with a settings file there.
    QTemporaryDir install;
    ASSERT_EQ(::chmod(install.path().toLocal8Bit().constData(), 0755), 0);
    const QString program = install.filePath(QStringLiteral("vxrt7-config"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(VXRT7_CONFIG_PATH), program));
    const QString beside = install.filePath(Settings::fileName());
    {
        QFile f(beside);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Config]\r\nBaudrate=3\r\n");
    }
    // The user's home, with the settings the program wrote last time.
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("config/vxrt7-config"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString mine = folder + QLatin1Char('/') + Settings::fileName();
    {
        QFile f(mine);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Config]\r\nPort=ttyVX9\r\nBaudrate=5\r\n");
    }
    for (const QString& path :
         {home.path(), home.filePath(QStringLiteral("config")), folder, mine}) {
        ASSERT_EQ(::chown(path.toLocal8Bit().constData(), 65534, 65534), 0);
    }

    const auto [code, err] = runAsNobodyThenTerminate(program, home.path());
    EXPECT_EQ(code, 128 + SIGTERM) << err;
    const std::string saved = readAll(mine);
    EXPECT_NE(saved.find("Baudrate=5\r\n"), std::string::npos) << saved; // read from here...
    EXPECT_NE(saved.find("Port=ttyVX9\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Mod_prov="), std::string::npos) << saved; // ...and written here
    EXPECT_EQ(readAll(beside), "[Config]\r\nBaudrate=3\r\n");

    // Nowhere to write: the signal still ends the program at once, the
    // failure goes to stderr instead of a box no one answers.
    ASSERT_EQ(::chown(folder.toLocal8Bit().constData(), 0, 0), 0);
    ASSERT_EQ(::chown(mine.toLocal8Bit().constData(), 0, 0), 0);
    const auto [code2, err2] = runAsNobodyThenTerminate(program, home.path());
    EXPECT_EQ(code2, 128 + SIGTERM) << err2;
    EXPECT_NE(err2.find("vxrt7-config: "), std::string::npos) << err2;
    EXPECT_NE(err2.find(Settings::fileName().toStdString()), std::string::npos) << err2;
}
