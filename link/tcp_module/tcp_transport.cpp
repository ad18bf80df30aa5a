// The module "vxrt7-tcp.so": the Internet link's transport. Connections are
// QTcpSockets; the listening socket is its own, because QTcpServer keeps
// trying an accept that fails for want of descriptors (EMFILE) and so spins
// at full speed, and its listen queue of 50 overflows under bursts of
// connections. It is the only code of the configurator that links Qt Network.
#include "link/tcp_transport_qt.h"

#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A listening socket at the address (empty: every address, IPv6 and IPv4)
// and port; -1 and the reason in *error when it cannot be had.
int openListener(const QString& address, quint16 port, QString* error) {
    sockaddr_storage where{};
    socklen_t size = 0;
    const QByteArray text = address.toLatin1();
    auto* v4 = reinterpret_cast<sockaddr_in*>(&where);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&where);
    if (address.isEmpty()) {
        v6->sin6_family = AF_INET6;
        v6->sin6_addr = in6addr_any;
        v6->sin6_port = htons(port);
        size = sizeof *v6;
    } else if (::inet_pton(AF_INET, text.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        size = sizeof *v4;
    } else if (::inet_pton(AF_INET6, text.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        size = sizeof *v6;
    } else {
        *error = QStringLiteral("неверный адрес \"%1\"").arg(address);
        return -1;
    }
    int fd = ::socket(where.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 && address.isEmpty() && errno == EAFNOSUPPORT) {
        // No IPv6 on this machine: every IPv4 address then.
        where = {};
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_ANY);
        v4->sin_port = htons(port);
        size = sizeof *v4;
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const int one = 1;
    const int zero = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (where.ss_family == AF_INET6 && address.isEmpty()) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&where), size) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

// A GPRS connection usually dies without closing: keep-alive probes after a
// minute of silence, then every 10 s, find the dead peer in about two
// minutes instead of the system's two hours.
void keepAlive(int fd) {
    const int on = 1;
    const int idle = 60;
    const int interval = 10;
    const int probes = 6;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

class QtTcpTransport final : public TcpTransport {
  public:
    ~QtTcpTransport() override { close(); }

    bool listen(const QString& address, quint16 port, QString* error) override {
        close();
        QString why;
        listener_ = openListener(address, port, &why);
        if (listener_ < 0) {
            if (error != nullptr) {
                *error = why;
            }
            return false;
        }
        notifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, &context_,
                         [this] { accept(); });
        return true;
    }

    void drop(int connection) override {
        if (QTcpSocket* socket = sockets_.take(connection)) {
            socket->disconnect(&context_);
            socket->abort();
            socket->deleteLater();
        }
    }

    // Both run when the process has no descriptor to spare. The undefined
    // behaviour sanitizer's type check of a call it has not seen before
    // needs one (it tests memory through a pipe), and without it reports
    // the notifier as no object at all; these two calls are left out of
    // that check, the rest of the module keeps it.
    __attribute__((no_sanitize("vptr"))) void pauseAccepting() override {
        if (notifier_ != nullptr) {
            notifier_->setEnabled(false);
        }
    }
    __attribute__((no_sanitize("vptr"))) void resumeAccepting() override {
        if (notifier_ != nullptr) {
            notifier_->setEnabled(true);
        }
    }

    void close() override {
        notifier_.reset();
        if (listener_ >= 0) {
            ::close(listener_);
            listener_ = -1;
        }
        const auto sockets = sockets_;
        sockets_.clear();
        for (QTcpSocket* socket : sockets) {
            socket->disconnect(&context_);
            socket->abort();
            socket->deleteLater();
        }
    }

    bool isListening() const override { return listener_ >= 0; }
    quint16 port() const override {
        sockaddr_storage where{};
        socklen_t size = sizeof where;
        if (listener_ < 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
            return 0;
        }
        return ntohs(where.ss_family == AF_INET6
                         ? reinterpret_cast<const sockaddr_in6*>(&where)->sin6_port
                         : reinterpret_cast<const sockaddr_in*>(&where)->sin_port);
    }

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
        // A bounded batch per notification, so a flood cannot hold the window.
        for (int i = 0; i < 64 && listener_ >= 0; ++i) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) {
                    continue;
                }
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    // Out of descriptors or memory: the socket stays readable,
                    // so stop listening for it until the link resumes.
                    const int code = errno;
                    pauseAccepting();
                    if (acceptFailed) {
                        acceptFailed(code);
                    }
                }
                return;
            }
            auto* socket = new QTcpSocket;
            if (!socket->setSocketDescriptor(fd)) {
                ::close(fd);
                delete socket;
                continue;
            }
            const int connection = nextConnection_++;
            sockets_.insert(connection, socket);
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            keepAlive(fd);
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
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QMap<int, QTcpSocket*> sockets_;
    int nextConnection_ = 1;
};

} // namespace

extern "C" Q_DECL_EXPORT TcpTransport* vxrt7_make_tcp_transport() {
    return new QtTcpTransport();
}
