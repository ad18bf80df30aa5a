// The module "vxrt7-tcp.so": the Internet link's transport on QTcpServer.
// It is the only code of the configurator that links Qt Network.
#include "link/tcp_transport_qt.h"

#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <array>

namespace {

class QtTcpTransport final : public TcpTransport {
  public:
    QtTcpTransport() {
        QObject::connect(&server_, &QTcpServer::newConnection, &context_, [this] { accept(); });
    }
    ~QtTcpTransport() override { close(); }

    bool listen(quint16 port, QString* error) override {
        if (server_.listen(QHostAddress::Any, port)) {
            return true;
        }
        if (error != nullptr) {
            *error = server_.errorString();
        }
        return false;
    }

    void close() override {
        server_.close();
        const auto sockets = sockets_;
        sockets_.clear();
        for (QTcpSocket* socket : sockets) {
            socket->disconnect(&context_);
            socket->abort();
            socket->deleteLater();
        }
    }

    bool isListening() const override { return server_.isListening(); }
    quint16 port() const override { return server_.serverPort(); }

    qint64 send(int connection, const char* bytes, qint64 count) override {
        QTcpSocket* socket = sockets_.value(connection);
        if (socket == nullptr) {
            return -1;
        }
        const qint64 n = socket->write(bytes, count);
        socket->flush();
        return n;
    }

  private:
    void accept() {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            const int connection = nextConnection_++;
            sockets_.insert(connection, socket);
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(socket, &QTcpSocket::readyRead, &context_,
                             [this, connection] { read(connection); });
            QObject::connect(socket, &QTcpSocket::disconnected, &context_,
                             [this, connection] { drop(connection); });
            QObject::connect(socket, &QTcpSocket::errorOccurred, &context_,
                             [this, connection, socket](QAbstractSocket::SocketError code) {
                                 // A peer that closes its end is the disconnect, not an error.
                                 if (code != QAbstractSocket::RemoteHostClosedError && failed) {
                                     failed(connection, static_cast<int>(code),
                                            socket->errorString());
                                 }
                             });
            if (accepted) {
                accepted(connection, socket->peerAddress().toString() + QLatin1Char(':') +
                                         QString::number(socket->peerPort()));
            }
        }
    }

    void read(int connection) {
        std::array<char, 1024> buffer{};
        for (QTcpSocket* socket = sockets_.value(connection);
             socket != nullptr && socket->bytesAvailable() > 0;
             socket = sockets_.value(connection)) {
            const qint64 n = socket->read(buffer.data(), static_cast<qint64>(buffer.size()));
            if (n <= 0) {
                break;
            }
            if (received) {
                received(connection, buffer.data(), static_cast<std::size_t>(n));
            }
        }
    }

    void drop(int connection) {
        QTcpSocket* socket = sockets_.take(connection);
        if (socket == nullptr) {
            return;
        }
        socket->deleteLater();
        if (closed) {
            closed(connection);
        }
    }

    QObject context_; // receives the sockets' signals; declared first, so it goes last
    QTcpServer server_;
    QMap<int, QTcpSocket*> sockets_;
    int nextConnection_ = 1;
};

} // namespace

extern "C" Q_DECL_EXPORT TcpTransport* vxrt7_make_tcp_transport() {
    return new QtTcpTransport();
}
