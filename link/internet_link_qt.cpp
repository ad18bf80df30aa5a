#include "link/internet_link_qt.h"

#include <QByteArrayView>
#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <algorithm>
#include <utility>

namespace {

std::string u(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

std::unique_ptr<TcpTransport> loadTcpTransport(const QString& folder, QString* error) {
    // Never unloaded: the transport's code must outlive every object it made.
    // Empty: beside the program (the window gives the folder where an
    // installed program keeps it).
    const QDir dir(folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder);
    QLibrary module(dir.filePath(QLatin1String(kTcpModuleName)));
    const auto make = reinterpret_cast<MakeTcpTransport>(module.resolve(kTcpModuleEntry));
    if (make == nullptr) {
        if (error != nullptr) {
            *error = module.errorString();
        }
        return nullptr;
    }
    return std::unique_ptr<TcpTransport>(make());
}

InternetLink::InternetLink(QObject* parent) : QObject(parent) {
    clock_.start();
    tick_.setInterval(250);
    connect(&tick_, &QTimer::timeout, this, [this] { onTick(); });
}

InternetLink::~InternetLink() = default;

bool InternetLink::isListening() const {
    return transport_ != nullptr && transport_->isListening();
}

quint16 InternetLink::listeningPort() const {
    return transport_ != nullptr ? transport_->port() : 0;
}

bool InternetLink::ensureTransport() {
    if (transport_ != nullptr) {
        return true;
    }
    QString error;
    transport_ = loadTcpTransport(moduleFolder, &error);
    if (transport_ == nullptr) {
        emit reported(events::ServerModuleMissing{kTcpModuleName, u(error)});
        return false;
    }
    transport_->accepted = [this](int connection, const QString& peer) {
        ServerSocket1ClientConnect(connection, peer);
    };
    transport_->received = [this](int connection, const char* bytes, std::size_t count) {
        readFrom(connection, bytes, count);
    };
    transport_->closed = [this](int connection) { ServerSocket1ClientDisconnect(connection); };
    transport_->failed = [this](int, int code, const QString&) { ServerSocket1ClientError(code); };
    transport_->acceptFailed = [this](int code) { acceptFailed(code); };
    return true;
}

bool InternetLink::Start_server_fun(bool start, const QString& portText) {
    if (start) {
        bool ok = false;
        const uint port = portText.trimmed().toUInt(&ok);
        if (!ok || port > 65535) {
            emit reported(events::ServerPortRefused{u(portText)});
            return isListening();
        }
        if (!ensureTransport()) {
            return false;
        }
        clients_.clear(); // emptied when it last stopped: nothing to log
        clients_.maxClients = maxClients;
        clients_.announceTimeoutMs = announceTimeoutMs;
        clients_.packetTimeoutMs = packetTimeoutMs;
        clients_.allowedPeers.clear();
        for (const QString& peer : allowedPeers) {
            clients_.allowedPeers.push_back(u(peer.trimmed()));
        }
        acceptPaused_ = false;
        QString error;
        if (!transport_->listen(listenAddress.trimmed(), static_cast<quint16>(port), &error)) {
            emit reported(events::ServerListenFailed{static_cast<int>(port), u(error)});
            return false;
        }
        emit listeningChanged(true);
        emit reported(events::ServerStarted{transport_->port(), u(listenAddress.trimmed())});
    } else {
        if (transport_ != nullptr) {
            transport_->close();
        }
        for (const SessionEvent& note : clients_.clear().log) {
            emit reported(note);
        }
        acceptPaused_ = false;
        syncTick();
        emit listeningChanged(false);
        emit reported(events::ServerStopped{});
    }
    return isListening();
}

void InternetLink::ServerSocket1ClientConnect(int connection, const QString& peer) {
    if (acceptPaused_) {
        acceptPaused_ = false;
        emit reported(events::AcceptResumed{});
    }
    const qsizetype colon = peer.lastIndexOf(QLatin1Char(':'));
    apply(clients_.accepted(connection, u(colon < 0 ? peer : peer.left(colon)),
                            colon < 0 ? 0 : peer.mid(colon + 1).toInt(), clock_.elapsed()));
}

void InternetLink::ServerSocket1ClientDisconnect(int connection) {
    apply(clients_.closed(connection));
}

void InternetLink::ServerSocket1ClientError(int code) {
    emit reported(events::ServerSocketError{code});
}

void InternetLink::acceptFailed(int code) {
    // Out of descriptors (or another resource): the listening socket stays
    // readable, so accepting again at once would spin. Pause, say so once,
    // and try again every second until a connection is taken.
    lastAcceptTry_ = clock_.elapsed();
    if (!acceptPaused_) {
        acceptPaused_ = true;
        emit reported(events::AcceptPaused{code});
    }
    syncTick();
}

void InternetLink::onTick() {
    if (transport_ == nullptr) {
        return;
    }
    apply(clients_.tick(clock_.elapsed()));
    if (acceptPaused_ && isListening() && clock_.elapsed() - lastAcceptTry_ >= 1000) {
        lastAcceptTry_ = clock_.elapsed();
        transport_->resumeAccepting();
    }
    syncTick();
}

void InternetLink::syncTick() {
    const bool needed = isListening() && (acceptPaused_ || clients_.waiting());
    if (needed && !tick_.isActive()) {
        tick_.start();
    } else if (!needed) {
        tick_.stop();
    }
}

void InternetLink::apply(InternetClients::Actions actions) {
    for (const SessionEvent& note : actions.log) {
        emit reported(note);
    }
    for (const int connection : actions.close) {
        transport_->drop(connection);
    }
    if (actions.status) {
        emit reported(*actions.status);
    }
    for (const std::string& chunk : actions.analyse) {
        // Each read of at most 1024 bytes is analysed by itself, at once.
        emit deviceRead(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
        if (transport_ == nullptr || !isListening()) {
            return; // the analysis stopped the server
        }
    }
    syncTick();
}

void InternetLink::readFrom(int connection, const char* bytes, std::size_t count) {
    apply(clients_.received(connection, bytes, count, clock_.elapsed()));
}

int InternetLink::Send_data(const std::uint8_t* bytes, std::size_t count) {
    const int device = clients_.device();
    if (device == 0) {
        emit reported(events::NoDeviceOnServer{});
        return -1;
    }
    if (bytes == nullptr || count == 0) {
        return 0;
    }
    return static_cast<int>(
        transport_->send(device, reinterpret_cast<const char*>(bytes), static_cast<qint64>(count)));
}
