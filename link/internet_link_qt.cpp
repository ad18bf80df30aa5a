#include "link/internet_link_qt.h"

#include "link/link_controller.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <array>

namespace {

std::string u(const QString& text) {
    return text.toUtf8().toStdString();
}

QString peerOf(const QTcpSocket* socket) {
    return socket->peerAddress().toString() + QLatin1Char(':') +
           QString::number(socket->peerPort());
}

} // namespace

InternetLink::InternetLink(LinkController& link, QObject* parent)
    : QObject(parent), link_(link), server_(new QTcpServer(this)) {
    connect(server_, &QTcpServer::newConnection, this, [this] { ServerSocket1ClientConnect(); });
}

InternetLink::~InternetLink() {
    server_->close();
}

bool InternetLink::isListening() const {
    return server_->isListening();
}

quint16 InternetLink::listeningPort() const {
    return server_->serverPort();
}

bool InternetLink::Start_server_fun(bool start, const QString& portText) {
    if (start) {
        bool ok = false;
        const uint port = portText.trimmed().toUInt(&ok);
        if (!ok || port > 65535) {
            link_.view().showMessage("Неверный порт сервера: \"" + u(portText) +
                                     "\". Введите число от 0 до 65535");
            return isListening();
        }
        if (!server_->listen(QHostAddress::Any, static_cast<quint16>(port))) {
            link_.view().showMessage("Не удалось открыть порт " + std::to_string(port) + ": " +
                                     u(server_->errorString()));
            return false;
        }
        if (setStartCaption) {
            setStartCaption(QString::fromUtf8("Остановить"));
        }
        link_.setStatusPanel(2, "Интернет - Ожидается соединение...");
        link_.logLine("Сервер запущен, порт " + std::to_string(server_->serverPort()));
    } else {
        server_->close();
        const auto clients = clients_;
        clients_.clear();
        device_.clear();
        for (QTcpSocket* socket : clients) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
        if (setStartCaption) {
            setStartCaption(QString::fromUtf8("Запустить"));
        }
        link_.setStatusPanel(2, "Интернет");
    }
    return isListening();
}

void InternetLink::ServerSocket1ClientConnect() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        clients_.append(socket);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { ServerSocket1ClientDisconnect(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this, socket] { ServerSocket1ClientError(socket); });
        link_.logLine("Интернет - подключение с адреса " + u(peerOf(socket)));
        link_.setStatusPanel(2, "Интернет - Соединение установлено");
    }
}

void InternetLink::ServerSocket1ClientDisconnect(QTcpSocket* socket) {
    if (!clients_.removeOne(socket)) {
        return;
    }
    if (device_ == socket) {
        device_.clear();
    }
    socket->deleteLater();
    link_.setStatusPanel(2, "Интернет - Соединение прервано");
}

void InternetLink::ServerSocket1ClientError(QTcpSocket* socket) {
    // A peer that simply closes its end is the disconnect notification, not an error.
    if (socket->error() == QAbstractSocket::RemoteHostClosedError) {
        return;
    }
    link_.view().showMessage("Ошибка: " + std::to_string(static_cast<int>(socket->error())) + " (" +
                             u(socket->errorString()) + ")");
}

void InternetLink::readFrom(QTcpSocket* socket) {
    // Each read of at most 1024 bytes is analysed by itself, at once.
    std::array<char, 1024> buffer{};
    while (socket->bytesAvailable() > 0) {
        const qint64 n = socket->read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (n <= 0) {
            break;
        }
        const QByteArrayView chunk(buffer.data(), n);
        if (device_.isNull() && chunk.contains(QByteArrayView("CONNECT"))) {
            device_ = socket;
        }
        if (ServerSocket1ClientRead) {
            ServerSocket1ClientRead(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                                    static_cast<std::size_t>(n));
        }
        if (!clients_.contains(socket)) {
            break; // the analysis stopped the server
        }
    }
}

int InternetLink::Send_data(const std::uint8_t* bytes, std::size_t count) {
    if (device_.isNull()) {
        link_.logLine("Прибор не подключен к серверу: команда не отправлена");
        return -1;
    }
    if (bytes == nullptr || count == 0) {
        return 0;
    }
    const qint64 n =
        device_->write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count));
    device_->flush();
    return static_cast<int>(n);
}
