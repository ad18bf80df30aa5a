// The Internet link server on real loopback sockets.
#include "link/internet_link_qt.h"
#include "tests/support/recording_view.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The server with what it hands on connected as the window connects it: its
// reports to the texts the window shows, its switching to the caption of
// Start_server.
struct Server {
    RecordingView view;
    InternetLink net;
    QString caption = QString::fromUtf8("Запустить");
    std::vector<std::string> reads;

    Server() {
        QObject::connect(&net, &InternetLink::listeningChanged, [this](bool listening) {
            caption = QString::fromUtf8(listening ? "Остановить" : "Запустить");
        });
        QObject::connect(&net, &InternetLink::deviceRead,
                         [this](const std::uint8_t* b, std::size_t n) {
                             reads.emplace_back(reinterpret_cast<const char*>(b), n);
                         });
        QObject::connect(&net, &InternetLink::reported,
                         [this](const SessionEvent& e) { view.event(e); });
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

bool closedByServer(QTcpSocket& socket) {
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                           3000);
}

bool logHas(const RecordingView& view, const std::string& part) {
    for (const auto& line : view.log) {
        if (line.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The refusals in the log: the lines written in full, the summary lines and
// the refusals they counted.
struct Refusals {
    int full = 0;
    int summaries = 0;
    int counted = 0;
};

Refusals refusalsIn(const std::vector<std::string>& log) {
    const std::string summary = "закрыто еще соединений не от прибора: ";
    Refusals r;
    for (const auto& line : log) {
        if (const auto at = line.find(summary); at != std::string::npos) {
            ++r.summaries;
            r.counted += std::stoi(line.substr(at + summary.size()));
        } else if (line.find("соединение закрыто") != std::string::npos) {
            ++r.full;
        }
    }
    return r;
}

} // namespace

TEST(InternetLink, TheAnnouncementIsFoundAmongOtherBytesAndProbesAreRefused) {
    Server s;
    s.net.announceTimeoutMs = 300;
    const quint16 port = s.start();
    EXPECT_EQ(s.caption, QString::fromUtf8("Остановить"));
    EXPECT_EQ(s.view.panels[2], "Интернет - Ожидается соединение...");

    // One that says nothing is closed after the announcement time-out.
    auto silent = connectTo(port);
    EXPECT_TRUE(closedByServer(*silent));
    EXPECT_TRUE(logHas(s.view, "не назвался прибором за 300 мс"));

    // A proxy probe (also one cut before its version), a GET, a TLS hello,
    // 1024 bytes without the word: none of them is the device. Each is
    // closed, sent nothing, and nothing of it is analysed.
    const std::vector<std::vector<std::string>> probes = {
        {"CONNECT example.org:443 HTTP/1.1\r\nHost: example.org:443\r\n\r\n"},
        {"CONNECT example.org:443", " HTTP/1.1\r\n\r\n"},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"},
        {std::string("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11) + "CONNECT\r\n"},
        {std::string(1024, 'x'), "CONNECT\r\n"}};
    for (const auto& pieces : probes) {
        auto client = connectTo(port);
        for (const std::string& piece : pieces) {
            client->write(piece.data(), static_cast<qint64>(piece.size()));
            client->flush();
        }
        EXPECT_TRUE(closedByServer(*client)) << pieces[0];
        EXPECT_TRUE(client->readAll().isEmpty()) << pieces[0];
        EXPECT_TRUE(s.reads.empty()) << pieces[0];
    }
    EXPECT_EQ(s.net.Send_data(reinterpret_cast<const std::uint8_t*>("READ"), 4), -1);
    EXPECT_EQ(s.view.log.back(), "Прибор не подключен к серверу: команда не отправлена");

    // Devices whose modem passes other bytes on before the announcement, or
    // cuts it: each is taken, the analysis sees it from "CONNECT" on, and
    // each newer one takes the place of the one before.
    const std::vector<std::pair<std::vector<std::string>, std::string>> devices = {
        {{"\r\nCONNECT\r\n"}, "CONNECT\r\n"},
        {{" CONNECT"}, "CONNECT"},
        {{"CONN", "ECT"}, "CONNECT"},
        {{"\r\nGPRS ready\r\n", "\r\nCONNECT\r\n"}, "CONNECT\r\n"},
        {{std::string("\0\0", 2) + "CONNECT 115200\r\n"}, "CONNECT 115200\r\n"}};
    std::unique_ptr<QTcpSocket> before;
    std::string beforeName;
    const std::string password = std::string("CONFR") + char(0xD2) + char(0x04);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(password.data());
    for (const auto& [pieces, analysed] : devices) {
        SCOPED_TRACE(pieces.front());
        auto device = connectTo(port);
        const std::string name = "127.0.0.1:" + std::to_string(device->localPort());
        for (const std::string& piece : pieces) {
            device->write(piece.data(), static_cast<qint64>(piece.size()));
            device->flush();
        }
        const std::size_t reads = s.reads.size();
        ASSERT_TRUE(QTest::qWaitFor([&] { return s.reads.size() == reads + 1; }, 3000));
        EXPECT_EQ(s.reads.back(), analysed);
        EXPECT_TRUE(s.net.deviceConnected());
        EXPECT_TRUE(logHas(s.view, "Интернет - подключение с адреса " + name));
        if (before != nullptr) {
            EXPECT_TRUE(closedByServer(*before));
            EXPECT_TRUE(logHas(s.view, "Интернет - прежнее соединение прибора с адреса " +
                                           beforeName +
                                           " закрыто: прибор подключился снова с адреса " + name));
        }
        EXPECT_EQ(s.net.connectionCount(), 1);
        EXPECT_EQ(s.net.Send_data(bytes, password.size()), 7);
        EXPECT_EQ(receive(*device, 7), password);
        before = std::move(device);
        beforeName = name;
    }
    // Past the announcement time-out the device stays.
    QTest::qWait(400);
    EXPECT_EQ(before->state(), QAbstractSocket::ConnectedState);

    // The refusals after the first were counted (every 10 s and when the
    // server stops), not logged one by one.
    s.net.Start_server_fun(false);
    const Refusals r = refusalsIn(s.view.log);
    EXPECT_EQ(r.full + r.counted, 6);
    EXPECT_GE(r.full, 1);
    EXPECT_LE(r.full + r.summaries, 3);
}

TEST(InternetLink, ANumberPacketSplitAnywhereIsJoinedAndGarbageCannotGrow) {
    Server s;
    s.net.packetTimeoutMs = 300;
    auto device = connectTo(s.start());
    device->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    device->write("CONNECT");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.reads.size() == 1; }, 3000));

    // Three records; the second apartment is 0x4040, so "@" shows up inside.
    std::string packet = "R";
    for (const auto& [number, apartment] :
         {std::pair<std::string, int>{"9031234567", 1}, {"123", 0x4040}, {"+79", 7}}) {
        std::string field = number;
        field.resize(10, '\0');
        packet += field;
        packet += static_cast<char>(apartment & 0xFF);
        packet += static_cast<char>(apartment >> 8);
    }
    packet += '@';
    ASSERT_EQ(packet.size(), 38u);
    for (std::size_t cut = 1; cut < packet.size(); ++cut) {
        device->write(packet.data(), static_cast<qint64>(cut));
        device->flush();
        QTest::qWait(5);
        device->write(packet.data() + cut, static_cast<qint64>(packet.size() - cut));
        ASSERT_TRUE(QTest::qWaitFor([&] { return s.reads.size() == 1 + cut; }, 3000)) << cut;
        EXPECT_EQ(s.reads.back(), packet) << "cut at " << cut;
    }
    // Replies that begin like a packet are not held.
    device->write("READOK");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.reads.back() == "READOK"; }, 3000));

    // Digits without an end never pass the size limit...
    const std::size_t before = s.reads.size();
    device->write("R" + QByteArray(200, '7'));
    device->flush();
    QTest::qWait(20);
    device->write(QByteArray(100, '7'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return logHas(s.view, "длиннее 254 байт пропущен"); }, 3000));
    // ...nor the time-out, and what comes next stands by itself.
    device->write("R12");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return logHas(s.view, "Пакет номеров не пришел целиком за 300 мс"); }, 3000));
    device->write("CHPASS");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.reads.back() == "CHPASS"; }, 3000));
    EXPECT_EQ(s.reads.size(), before + 1);
}

TEST(InternetLink, AllowedPeersListenAddressAndTheConnectionCap) {
    Server s;
    s.net.allowedPeers = {QStringLiteral("127.0.0.1")};
    s.net.listenAddress = QStringLiteral("127.0.0.1");
    s.net.maxClients = 2;
    const quint16 port = s.start();
    EXPECT_EQ(s.view.log.back(),
              "Сервер запущен, порт " + std::to_string(port) + ", адрес 127.0.0.1");
    // Only the address it was given listens.
    QTcpSocket elsewhere;
    elsewhere.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), port);
    EXPECT_FALSE(elsewhere.waitForConnected(2000));

    // Bound to 127.0.0.2: real loopback, but not on the list.
    QTcpSocket other;
    ASSERT_TRUE(other.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    other.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(other.waitForConnected(3000));
    EXPECT_TRUE(closedByServer(other));
    EXPECT_TRUE(logHas(s.view, "Интернет - адрес 127.0.0.2 не в списке разрешенных"));
    EXPECT_EQ(s.net.connectionCount(), 0);

    // Two are held. A device announces itself; the next newcomers push out
    // the oldest silent client, never the device, and that is said once.
    auto a = connectTo(port);
    auto b = connectTo(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.connectionCount() == 2; }, 3000));
    b->write("CONNECT\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.deviceConnected(); }, 3000));
    auto c = connectTo(port);
    EXPECT_TRUE(closedByServer(*a));
    auto d = connectTo(port);
    EXPECT_TRUE(closedByServer(*c));
    EXPECT_EQ(s.net.connectionCount(), 2);
    int capLines = 0;
    for (const auto& line : s.view.log) {
        capLines += line.find("больше не держится") != std::string::npos;
    }
    EXPECT_EQ(capLines, 1);
    // A newer device takes the place of the older one, and commands go to it.
    d->write("CONNECT\r\n");
    EXPECT_TRUE(closedByServer(*b));
    EXPECT_EQ(d->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(s.net.connectionCount(), 1);
    const std::string read = "READ";
    EXPECT_EQ(s.net.Send_data(reinterpret_cast<const std::uint8_t*>(read.data()), 4), 4);
    EXPECT_EQ(receive(*d, 4), read);
}

// The server's end of the loopback connection whose client end is `client`:
// a socket of this process whose peer is the client's own address.
int serverSideSocket(const QTcpSocket& client) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
            continue;
        }
        const quint16 peerPort =
            ntohs(peer.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
        if (peerPort == client.localPort()) {
            return fd;
        }
    }
    return -1;
}

// A GPRS connection usually dies without closing: the accepted socket asks
// the system to probe a peer that has gone quiet.
TEST(InternetLink, AcceptedConnectionsUseKeepAlive) {
    Server s;
    auto device = connectTo(s.start());
    device->write("CONNECT\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.deviceConnected(); }, 3000));
    const int fd = serverSideSocket(*device);
    ASSERT_GE(fd, 0);
    int on = 0;
    int idle = 0;
    socklen_t size = sizeof on;
    ASSERT_EQ(::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &size), 0);
    EXPECT_EQ(on, 1);
    size = sizeof idle;
    ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &size), 0);
    EXPECT_EQ(idle, 60);
}

// Probes by the hundred leave the first refusal and a count in the log; the
// device that comes after them is logged and served.
TEST(InternetLink, ManyRefusedProbesLeaveOnlyAFewLogLines) {
    Server s;
    const quint16 port = s.start();
    const std::size_t linesBefore = s.view.log.size();
    for (int i = 0; i < 200; ++i) {
        auto probe = connectTo(port);
        probe->write(i % 2 == 0 ? "GET / HTTP/1.1\r\n\r\n" : "\x16\x03\x01");
        ASSERT_TRUE(closedByServer(*probe)) << i;
    }
    auto device = connectTo(port);
    device->write("CONNECT\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.deviceConnected(); }, 3000));
    s.net.Start_server_fun(false);
    const std::vector<std::string> lines(s.view.log.begin() + static_cast<long>(linesBefore),
                                         s.view.log.end());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Интернет - клиент с адреса 127.0.0.1 не прибор (нет \"CONNECT\"): "
                        "соединение закрыто");
    const Refusals r = refusalsIn(lines);
    EXPECT_EQ(r.full, 1);
    EXPECT_EQ(r.counted, 199);
    // One summary in 10 s at most, the device's line and the last count.
    EXPECT_LE(lines.size(), 6u) << lines.back();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("Интернет - подключение с адреса 127.0.0.1:",
                                                  0) == 0;
                            }),
              1);
}

TEST(InternetLink, LargeReplyIsAnalysedInReadsOfAtMost1024Bytes) {
    Server s;
    const quint16 port = s.start();
    auto device = connectTo(port);
    device->write(QByteArray("CONNECT\r") + QByteArray(3000, 'x'));
    device->flush();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::size_t total = 0;
            for (const auto& r : s.reads) {
                total += r.size();
            }
            return total == 3008;
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
    device->disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.connectionCount() == 0; }, 3000));
    EXPECT_EQ(s.view.panels[2], "Интернет - Соединение прервано");
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

// 300 clients from another process against a server whose process may open
// only 256 files: accepting fails for want of descriptors.
TEST(InternetLink, RunningOutOfDescriptorsPausesAcceptingWithoutSpinning) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    Server s;
    s.net.maxClients = 1000; // let the descriptors run out before the cap
    const quint16 port = s.start();

    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(go[1]);
        std::vector<int> fds;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        for (int i = 0; i < 300; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                fds.push_back(fd);
            }
        }
        char byte;
        [[maybe_unused]] const auto n = ::read(go[0], &byte, 1); // until the test says so
        for (const int fd : fds) {
            ::close(fd);
        }
        ::_exit(0);
    }
    ::close(go[0]);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return logHas(s.view, "Интернет - не удается принять соединение (ошибка 24)"); },
        5000))
        << s.net.connectionCount() << " " << s.view.log.back();
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    QTest::qWait(3000);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const auto micros = [](const timeval& t) { return t.tv_sec * 1000000L + t.tv_usec; };
    const long used = micros(after.ru_utime) - micros(before.ru_utime) + micros(after.ru_stime) -
                      micros(before.ru_stime);
    EXPECT_LT(used, 300000L) << "CPU time over 3 s: " << used << " µs";
    int pausedLines = 0;
    for (const auto& line : s.view.log) {
        pausedLines += line.find("не удается принять соединение") != std::string::npos;
    }
    EXPECT_EQ(pausedLines, 1);

    // The idle clients go; a device is taken and served.
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    ::close(go[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.connectionCount() < 10; }, 5000))
        << s.net.connectionCount();
    auto device = connectTo(port);
    device->write("CONNECT");
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.net.deviceConnected(); }, 5000));
    EXPECT_TRUE(logHas(s.view, "Интернет - прием соединений возобновлен"));
    EXPECT_EQ(s.net.Send_data(reinterpret_cast<const std::uint8_t*>("READ"), 4), 4);
    EXPECT_EQ(receive(*device, 4), "READ");
    ::setrlimit(RLIMIT_NOFILE, &saved);
}
