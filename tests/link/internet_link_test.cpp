// The Internet link server on real loopback sockets.
#include "comm/tcomm.h"
#include "link/internet_link_qt.h"
#include "link/link_controller.h"
#include "tests/support/recording_view.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Server {
    TComm port; // never opened: the Internet link does not use it
    RecordingView view;
    LinkController link{port, view};
    InternetLink net{link};
    QString caption = QString::fromUtf8("Запустить");
    std::vector<std::string> reads;

    Server() {
        net.setStartCaption = [this](const QString& c) { caption = c; };
        net.ServerSocket1ClientRead = [this](const std::uint8_t* b, std::size_t n) {
            reads.emplace_back(reinterpret_cast<const char*>(b), n);
        };
    }
    quint16 start() {
        EXPECT_TRUE(net.Start_server_fun(true, QStringLiteral("0")));
        return net.listeningPort();
    }
};

std::unique_ptr<QTcpSocket> connectTo(quint16 port) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(socket->waitForConnected(3000));
    return socket;
}

std::string receive(QTcpSocket& socket, std::size_t bytes, int ms = 3000) {
    QByteArray got;
    [[maybe_unused]] const bool done = QTest::qWaitFor(
        [&] {
            got += socket.readAll();
            return static_cast<std::size_t>(got.size()) >= bytes;
        },
        ms);
    return got.toStdString();
}

} // namespace

TEST(InternetLink, CommandsGoToTheAnnouncedDeviceAndEveryReadIsAnalysed) {
    Server s;
    const quint16 port = s.start();
    EXPECT_EQ(s.caption, QString::fromUtf8("Остановить"));
    EXPECT_EQ(s.view.panels[2], "Интернет - Ожидается соединение...");

    // A stray client connects first; the device second.
    auto stray = connectTo(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.connectionCount() == 1; }, 3000));
    EXPECT_EQ(s.view.panels[2], "Интернет - Соединение установлено");
    EXPECT_NE(s.view.log.back().find("127.0.0.1"), std::string::npos) << s.view.log.back();

    // Before any device has announced itself nothing is sent.
    EXPECT_EQ(s.net.Send_data(reinterpret_cast<const std::uint8_t*>("READ"), 4), -1);
    EXPECT_EQ(s.view.log.back(), "Прибор не подключен к серверу: команда не отправлена");

    auto device = connectTo(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.connectionCount() == 2; }, 3000));
    device->write("CONNECT");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.deviceConnected(); }, 3000));
    stray->write("hello");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.reads.size() == 2; }, 3000));
    EXPECT_EQ(s.reads[0], "CONNECT");
    EXPECT_EQ(s.reads[1], "hello");

    const std::string password = std::string("CONFR") + char(0xD2) + char(0x04);
    EXPECT_EQ(
        s.net.Send_data(reinterpret_cast<const std::uint8_t*>(password.data()), password.size()),
        7);
    EXPECT_EQ(receive(*device, 7), password);
    QTest::qWait(100);
    EXPECT_EQ(stray->readAll().size(), 0);
}

TEST(InternetLink, LargeReplyIsAnalysedInReadsOfAtMost1024Bytes) {
    Server s;
    const quint16 port = s.start();
    auto device = connectTo(port);
    device->write(QByteArray(3000, 'x'));
    device->flush();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::size_t total = 0;
            for (const auto& r : s.reads) {
                total += r.size();
            }
            return total == 3000;
        },
        3000));
    for (const auto& r : s.reads) {
        EXPECT_LE(r.size(), 1024u);
    }
}

TEST(InternetLink, DeviceThatLeavesAndStopWithADeviceConnected) {
    Server s;
    const quint16 port = s.start();
    auto device = connectTo(port);
    device->write("CONNECT");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.deviceConnected(); }, 3000));
    s.link.state.remoteConnected = true;
    device->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.connectionCount() == 0; }, 3000));
    EXPECT_EQ(s.view.panels[2], "Интернет - Соединение прервано");
    EXPECT_TRUE(s.link.state.remoteConnected); // until Disconnect or the watchdog
    EXPECT_FALSE(s.net.deviceConnected());
    EXPECT_TRUE(s.view.messages.empty());

    // A new device connects, then the server is stopped under it.
    auto again = connectTo(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.connectionCount() == 1; }, 3000));
    EXPECT_FALSE(s.net.Start_server_fun(false));
    EXPECT_EQ(s.caption, QString::fromUtf8("Запустить"));
    EXPECT_EQ(s.view.panels[2], "Интернет");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return again->state() == QAbstractSocket::UnconnectedState; }, 3000));
}

TEST(InternetLink, BadPortsAndAPortInUseAreRefusedWithAMessage) {
    Server s;
    for (const char* text : {"", "70000", "12a", "-1"}) {
        s.view.messages.clear();
        EXPECT_FALSE(s.net.Start_server_fun(true, QString::fromUtf8(text))) << text;
        ASSERT_EQ(s.view.messages.size(), 1u) << text;
        EXPECT_NE(s.view.messages[0].find("Неверный порт сервера"), std::string::npos);
        EXPECT_EQ(s.caption, QString::fromUtf8("Запустить"));
    }

    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
    s.view.messages.clear();
    EXPECT_FALSE(s.net.Start_server_fun(true, QString::number(other.serverPort())));
    ASSERT_EQ(s.view.messages.size(), 1u);
    EXPECT_NE(s.view.messages[0].find(std::to_string(other.serverPort())), std::string::npos);
    EXPECT_EQ(s.caption, QString::fromUtf8("Запустить"));
    EXPECT_FALSE(s.net.isListening());
}

TEST(InternetLink, MissingTransportModuleIsReportedAndTheServerStaysStopped) {
    QTemporaryDir empty;
    Server s;
    s.net.moduleFolder = empty.path();
    EXPECT_FALSE(s.net.Start_server_fun(true, QStringLiteral("0")));
    ASSERT_EQ(s.view.messages.size(), 1u);
    EXPECT_EQ(s.view.messages[0].rfind("Не удалось загрузить модуль сервера vxrt7-tcp: ", 0), 0u)
        << s.view.messages[0];
    EXPECT_EQ(s.caption, QString::fromUtf8("Запустить"));
    EXPECT_FALSE(s.net.isListening());
    EXPECT_EQ(s.net.Send_data(reinterpret_cast<const std::uint8_t*>("X"), 1), -1);

    // Once the module is where it is looked for, the same link starts.
    s.net.moduleFolder.clear();
    s.view.messages.clear();
    EXPECT_TRUE(s.net.Start_server_fun(true, QStringLiteral("0")));
    EXPECT_TRUE(s.view.messages.empty());
    EXPECT_NE(s.net.listeningPort(), 0);
}
