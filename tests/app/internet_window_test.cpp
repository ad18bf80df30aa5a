// The Internet link through the real window: the simulator connects over
// loopback TCP as a GPRS device does.
#include "app/config_pages.h"
#include "config/config_block.h"
#include "tests/support/child_test.h"
#include "tests/support/window_run.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTextBlock>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct InternetRun : WindowRun {
    // The server's announcement time-out; 0: the program's own.
    std::int64_t announceTimeoutMs = 0;

    // The window in Internet mode with its server listening on a free port.
    quint16 listen() {
        openWindow();
        if (announceTimeoutMs > 0) {
            form->ServerSocket1->announceTimeoutMs = announceTimeoutMs;
        }
        PortComboBox* box = form->ui.Port_Box;
        box->showPopup();
        box->hidePopup();
        box->setCurrentIndex(box->count() - 1);
        EXPECT_EQ(panel(2), QString::fromUtf8("Интернет"));
        form->ui.Edit2->setText(QStringLiteral("0"));
        QTest::mouseClick(form->ui.Start_server, Qt::LeftButton);
        EXPECT_EQ(form->ui.Start_server->text(), QString::fromUtf8("Остановить"));
        EXPECT_EQ(panel(2), QString::fromUtf8("Интернет - Ожидается соединение..."));
        return form->ServerSocket1->listeningPort();
    }
    void connectDevice(quint16 port, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--tcp", "127.0.0.1:" + std::to_string(port), "--dump",
                                         dump.toStdString()};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim->ok()) << sim->error();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return form->session->link().state.remoteConnected; }, 5000));
        EXPECT_FALSE(form->session->link().state.directDevice);
        EXPECT_EQ(panel(2), QString::fromUtf8("Интернет - Соединение установлено"));
        EXPECT_TRUE(form->ui.Disconnect->isEnabled());
    }
};

std::string hexOf(const ConfigBlock::Bytes& bytes) {
    std::string out;
    char two[3];
    for (const auto b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

// Sets the loopback interface of this process's network namespace up or down.
bool setLoopback(bool up) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    } else {
        request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
    }
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

QString visibleMessageBoxText() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            return box->text();
        }
    }
    return {};
}

} // namespace

TEST(InternetWindow, ConfigurationBothWaysThenDisconnect) {
    InternetRun run;
    const quint16 port = run.listen();
    ASSERT_NE(port, 0);
    run.connectDevice(port);

    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана")) << run.log().toStdString();

    run.form->ui.Oh_num->setText(QStringLiteral("9031234567"));
    run.form->ui.T_mem->setText(QStringLiteral("9"));
    QTest::mouseClick(run.form->ui.RzToolButton4, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация записана")) << run.log().toStdString();

    // Disconnect says CLOSED, and the server stops a moment later without
    // blocking the window.
    QTest::mouseClick(run.form->ui.Disconnect, Qt::LeftButton);
    EXPECT_FALSE(run.form->session->link().state.remoteConnected);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return run.form->ui.Start_server->text() == QString::fromUtf8("Запустить"); }, 2000));
    EXPECT_EQ(run.panel(2), QString::fromUtf8("Интернет"));
    EXPECT_FALSE(run.form->ServerSocket1->isListening());
    // The device ends its connection on CLOSED.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !run.sim->alive(); }, 3000));

    const WriteConfResult shown = Write_conf(run.form->config->pages());
    ASSERT_TRUE(shown.ok()) << shown.message();
    std::string block = run.dumpValue("block");
    for (char& c : block) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(block, hexOf(shown.block->encode()));
}

TEST(InternetWindow, PasswordChangeOverTheInternetLink) {
    InternetRun run;
    run.connectDevice(run.listen());
    run.form->ui.New_pass->setText(QStringLiteral("4321"));
    QTest::mouseClick(run.form->ui.ChPass, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Пароль изменен")) << run.log().toStdString();
    EXPECT_EQ(run.dumpValue("password"), "4321");
}

TEST(InternetWindow, ChoosingASerialPortStopsTheServer) {
    InternetRun run;
    run.connectDevice(run.listen());
    run.form->ui.Port_Box->setEditText(run.link);
    EXPECT_FALSE(run.form->ServerSocket1->isListening());
    EXPECT_EQ(run.form->ui.Start_server->text(), QString::fromUtf8("Запустить"));
    EXPECT_TRUE(run.form->ui.Start_server->isHidden());
}

TEST(InternetWindow, AProxyProbeThatComesFirstGetsNothingAndTheDeviceIsRead) {
    InternetRun run;
    const quint16 port = run.listen();
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(probe.waitForConnected(3000));
    probe.write("CONNECT vxrt7.example:443 HTTP/1.1\r\nHost: vxrt7.example:443\r\n\r\n");
    QByteArray toProbe;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            toProbe += probe.readAll();
            return probe.state() == QAbstractSocket::UnconnectedState;
        },
        3000));
    EXPECT_FALSE(run.form->session->link().state.remoteConnected);
    EXPECT_FALSE(run.form->ui.Disconnect->isEnabled());

    run.connectDevice(port);
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана")) << run.log().toStdString();
    toProbe += probe.readAll();
    EXPECT_TRUE(toProbe.isEmpty()) << toProbe.toStdString();
    EXPECT_TRUE(run.log().contains(QString::fromUtf8("не прибор (нет \"CONNECT\")")));
}

bool closedByServer(QTcpSocket& socket) {
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                           5000);
}

// Panel 2 follows the clients the server really holds, whoever closed them;
// a client that once said "CONNECT" and then stays silent (a GPRS
// connection that died without closing) gives way to the device that
// connects after it, and the window reads the device.
TEST(InternetWindow, AStaleClientGivesWayToTheDeviceAndPanelTwoFollowsTheClients) {
    InternetRun run;
    run.announceTimeoutMs = 300;
    const quint16 port = run.listen();
    const QString linked = QString::fromUtf8("Интернет - Соединение установлено");
    const QString gone = QString::fromUtf8("Интернет - Соединение прервано");

    // A client the server closes as not the device, and one it closes for
    // saying nothing: then nobody is connected.
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(probe.waitForConnected(3000));
    ASSERT_TRUE(run.waitPanel(linked));
    probe.write("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(closedByServer(probe));
    EXPECT_TRUE(run.waitPanel(gone)) << run.panel(2).toStdString();
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(silent.waitForConnected(3000));
    ASSERT_TRUE(run.waitPanel(linked));
    ASSERT_TRUE(closedByServer(silent));
    EXPECT_TRUE(run.waitPanel(gone)) << run.panel(2).toStdString();

    // The stale client announces itself and links the window.
    QTcpSocket stale;
    stale.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(stale.waitForConnected(3000));
    const quint16 stalePort = stale.localPort();
    stale.write("CONNECT\r\n");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return run.form->session->link().state.remoteConnected; }, 5000));
    EXPECT_EQ(run.panel(2), linked);

    // The device connects after it: the stale one is closed and named.
    run.sim = std::make_unique<SimProcess>(std::vector<std::string>{
        "--tcp", "127.0.0.1:" + std::to_string(port), "--dump", run.dump.toStdString()});
    ASSERT_TRUE(run.sim->ok()) << run.sim->error();
    ASSERT_TRUE(closedByServer(stale)) << run.log().toStdString();
    const QString older =
        QString::fromUtf8("Интернет - прежнее соединение прибора с адреса 127.0.0.1:%1 закрыто")
            .arg(stalePort);
    EXPECT_TRUE(run.log().contains(older)) << run.log().toStdString();
    EXPECT_EQ(run.panel(2), linked);

    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана")) << run.log().toStdString();
    ASSERT_TRUE(run.waitLog("Чтение номеров завершено")) << run.log().toStdString();
    EXPECT_EQ(run.panel(2), linked);

    // The device goes: nobody is left.
    run.sim->stop();
    EXPECT_TRUE(run.waitPanel(gone)) << run.panel(2).toStdString();
}

TEST(InternetWindow, TheSettingsFileLimitsTheServerToAnAddressAndAllowedPeers) {
    InternetRun run;
    {
        QFile f(run.settings);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Config]\r\nServer_address=127.0.0.1\r\nAllowed_peers=10.0.0.7, 127.0.0.1\r\n");
    }
    const quint16 port = run.listen();
    EXPECT_TRUE(run.log().contains(
        QString::fromUtf8("Сервер запущен, порт %1, адрес 127.0.0.1").arg(port)));

    QTcpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    stranger.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(stranger.waitForConnected(3000));
    stranger.write("CONNECT");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return stranger.state() == QAbstractSocket::UnconnectedState; }, 3000));
    EXPECT_TRUE(run.log().contains(QString::fromUtf8(
        "Интернет - адрес 127.0.0.2 не в списке разрешенных: соединение закрыто")));
    EXPECT_FALSE(run.form->session->link().state.remoteConnected);

    run.connectDevice(port);
    QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
    ASSERT_TRUE(run.waitLog("Конфигурация считана")) << run.log().toStdString();

    // The program keeps the administrator's keys when it saves its own.
    run.form->close();
    const std::string saved = readFileBytes(run.settings);
    EXPECT_NE(saved.find("Server_address=127.0.0.1"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Allowed_peers=10.0.0.7, 127.0.0.1"), std::string::npos) << saved;
    EXPECT_NE(saved.find("Server_port="), std::string::npos) << saved;
}

TEST(InternetWindow, TheLogBoxKeepsOnlyTheLastLines) {
    InternetRun run;
    run.openWindow();
    const int extra = 100;
    for (int i = 0; i < TForm1Ui::kLogLines + extra; ++i) {
        run.form->session->link().report(events::DeviceConnected{"127.0.0.1:" + std::to_string(i)});
    }
    QPlainTextEdit* box = run.form->ui.Log;
    EXPECT_EQ(box->document()->blockCount(), TForm1Ui::kLogLines);
    EXPECT_EQ(box->document()->firstBlock().text(),
              QString::fromUtf8("Интернет - подключение с адреса 127.0.0.1:%1").arg(extra));
    EXPECT_EQ(box->document()->lastBlock().text(),
              QString::fromUtf8("Интернет - подключение с адреса 127.0.0.1:%1")
                  .arg(TForm1Ui::kLogLines + extra - 1));
}

// A socket error on the device's connection other than its closing. In a
// network namespace of its own the loopback goes down under the established
// connection: the command the window then sends is never acknowledged, and
// TCP gives up with "connection timed out". The box shows the system's
// error number, and the server goes on.
TEST(InternetWindow, ASocketErrorOnTheDevicesConnectionShowsTheSystemsNumber) {
    if (qEnvironmentVariableIsSet("VXRT7_OWN_NETWORK")) {
        ASSERT_TRUE(setLoopback(true)) << std::strerror(errno);
        {
            // One retransmission before giving up instead of fifteen minutes.
            std::ofstream retries("/proc/sys/net/ipv4/tcp_retries2");
            retries << 1 << std::flush;
            ASSERT_TRUE(retries.good());
        }
        InternetRun run;
        const quint16 port = run.listen();
        run.connectDevice(port);
        ASSERT_TRUE(setLoopback(false)) << std::strerror(errno);
        QTest::mouseClick(run.form->ui.RzToolButton3, Qt::LeftButton);
        QString shown;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                shown = visibleMessageBoxText();
                return !shown.isEmpty();
            },
            30000))
            << run.log().toStdString();
        EXPECT_EQ(shown, QString::fromUtf8("Ошибка: %1").arg(ETIMEDOUT));
        EXPECT_EQ(run.form->ui.Start_server->text(), QString::fromUtf8("Остановить"));
        return;
    }
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root for a network namespace of its own";
    }
    ChildTest child("InternetWindow.ASocketErrorOnTheDevicesConnectionShowsTheSystemsNumber",
                    {{"VXRT7_OWN_NETWORK", "1"}, {"QT_QPA_PLATFORM", "offscreen"}}, false, true);
    const int code = child.wait(60000);
    if (code == ChildTest::kNoNamespace) {
        GTEST_SKIP() << "this system gives a test no network namespace of its own";
    }
    EXPECT_EQ(code, 0) << child.output();
    EXPECT_NE(child.output().find("[  PASSED  ] 1 test"), std::string::npos) << child.output();
}
