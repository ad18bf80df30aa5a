// The module "vxrt7-tcp.so": the Internet link's transport on QTcpServer.
// It is the only code of the configurator that links Qt Network.
#include "link/tcp_transport_qt.h"

#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <array>
#include <cerrno>
#include <sys/socket.h>

namespace {

// The system's error number behind a socket error: the one the socket
// itself holds, else errno when it is one a socket call can leave, else the
// usual cause of the error's kind.
int systemError(QAbstractSocket::SocketError kind, qintptr descriptor, int lastErrno) {
    int pending = 0;
    socklen_t len = sizeof pending;
    if (descriptor >= 0 &&
        ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_ERROR, &pending, &len) == 0 &&
        pending != 0) {
        return pending;
    }
    switch (lastErrno) {
    case ECONNRESET:
    case ECONNREFUSED:
    case ETIMEDOUT:
    case EPIPE:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENOBUFS:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
    case ECONNABORTED:
    case EACCES:
    case EPERM:
        return lastErrno;
    default:
        break;
    }
    switch (kind) {
    case QAbstractSocket::ConnectionRefusedError:
        return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError:
        return ECONNRESET;
    case QAbstractSocket::SocketAccessError:
        return EACCES;
    case QAbstractSocket::SocketResourceError:
        return EMFILE;
    case QAbstractSocket::SocketTimeoutError:
        return ETIMEDOUT;
    case QAbstractSocket::NetworkError:
        return ENETDOWN;
    default:
        return EIO;
    }
}

} // namespace

namespace {

class QtTcpTransport final : public TcpTransport {
  public:
    QtTcpTransport() {
        QObject::connect(&server_, &QTcpServer::newConnection, &context_, [this] { accept(); });
        QObject::connect(&server_, &QTcpServer::acceptError, &context_,
                         [this](QAbstractSocket::SocketError kind) {
                             const int code = systemError(kind, -1, errno);
                             server_.pauseAccepting(); // retried when the link says so
                             if (acceptFailed) {
                                 acceptFailed(code);
                             }
                         });
    }
    ~QtTcpTransport() override { close(); }

    bool listen(const QString& address, quint16 port, QString* error) override {
        QHostAddress host(QHostAddress::Any);
        if (!address.isEmpty() && !host.setAddress(address)) {
            if (error != nullptr) {
                *error = QStringLiteral("неверный адрес \"%1\"").arg(address);
            }
            return false;
        }
        if (server_.listen(host, port)) {
            return true;
        }
        if (error != nullptr) {
            *error = server_.errorString();
        }
        return false;
    }

    void drop(int connection) override {
        if (QTcpSocket* socket = sockets_.take(connection)) {
            socket->disconnect(&context_);
            socket->abort();
            socket->deleteLater();
        }
    }

    void pauseAccepting() override { server_.pauseAccepting(); }
    void resumeAccepting() override { server_.resumeAccepting(); }

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
                             [this, connection] { peerClosed(connection); });
            QObject::connect(
                socket, &QTcpSocket::errorOccurred, &context_,
                [this, connection, socket](QAbstractSocket::SocketError kind) {
                    const int lastErrno = errno;
                    // A peer that closes its end is the disconnect, not an error.
                    if (kind != QAbstractSocket::RemoteHostClosedError && failed) {
                        failed(connection, systemError(kind, socket->socketDescriptor(), lastErrno),
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

    void peerClosed(int connection) {
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
