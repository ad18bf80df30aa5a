// The Internet link: a TCP server that a device in the field connects to over
// GPRS. Start and stop, the status texts that follow its connections,
// Send_data, and every read of the device handed on at once. It knows none
// of its users: what it read, what it reports and whether it listens come
// out as signals that the one who runs it connects.
//
// Which client is the device, and what of its reads is analysed, is decided
// by InternetClients (link/internet_clients.h); a client that never announced
// itself is never sent anything, least of all the password, and nothing it
// sends is analysed.
#pragma once

#include "link/internet_clients.h"
#include "link/session_events.h"
#include "link/tcp_transport_qt.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class InternetLink : public QObject {
    Q_OBJECT
  public:
    explicit InternetLink(QObject* parent = nullptr);
    ~InternetLink() override;

    // Starts (listening on the port typed in Edit2) or stops the server;
    // returns whether it listens afterwards. A port that is not a number from
    // 0 to 65535 or cannot be bound is refused with a message box.
    bool Start_server_fun(bool start, const QString& portText = QString());
    bool isListening() const;
    quint16 listeningPort() const;

    // Sends the bytes to the device in one write; -1 (and a log line) when no
    // device is connected.
    int Send_data(const std::uint8_t* bytes, std::size_t count);

    int connectionCount() const { return clients_.count(); }
    bool deviceConnected() const { return clients_.device() != 0; }

    // Set before the server starts: the address to listen on (empty: every
    // address), the peers that may connect (empty: any) and the most
    // connections held at once.
    QString listenAddress;
    QStringList allowedPeers;
    int maxClients = InternetClients::kDefaultMaxClients;
    std::int64_t announceTimeoutMs = InternetClients::kAnnounceTimeoutMs;
    std::int64_t packetTimeoutMs = InternetClients::kPacketTimeoutMs;

    // Where the transport module is looked for; empty: the program's folder.
    // The window sets the installed module folder (app/install_layout.h).
    QString moduleFolder;

  signals:
    // Each read of the device, at most 1024 bytes, as it arrives. Connected
    // directly: when what was read stops the server, nothing more is handed on.
    void deviceRead(const std::uint8_t* bytes, std::size_t count);
    // The server's own log lines, status texts and message boxes.
    void reported(const SessionEvent& event);
    // The server listens now (a start went through), or was told to stop.
    void listeningChanged(bool listening);

  private:
    // The transport, loaded on first use; false (and a message) if it cannot be.
    bool ensureTransport();
    void ServerSocket1ClientConnect(int connection, const QString& peer);
    void ServerSocket1ClientDisconnect(int connection);
    void ServerSocket1ClientError(int code);
    void readFrom(int connection, const char* bytes, std::size_t count);
    void acceptFailed(int code);
    void onTick();
    // Carries out what the client decisions asked for.
    void apply(InternetClients::Actions actions);
    void syncTick();

    std::unique_ptr<TcpTransport> transport_;
    InternetClients clients_;
    QElapsedTimer clock_;
    QTimer tick_;               // four times a second while something waits for a time-out
    bool acceptPaused_ = false; // out of descriptors; retried every second
    qint64 lastAcceptTry_ = 0;
};
