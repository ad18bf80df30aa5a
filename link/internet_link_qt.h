// The Internet link: a TCP server that a device in the field connects to over
// GPRS. Start and stop, the status texts that follow its connections,
// Send_data, and every read handed to the analysis at once.
//
// Commands go to the connection that announced itself as the device with
// "CONNECT" (the first such one); a client that connected but never said so
// is never sent anything, least of all the password.
#pragma once

#include "link/tcp_transport_qt.h"

#include <QList>
#include <QObject>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class LinkController;

class InternetLink : public QObject {
    Q_OBJECT
  public:
    explicit InternetLink(LinkController& link, QObject* parent = nullptr);
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

    int connectionCount() const { return static_cast<int>(clients_.size()); }
    bool deviceConnected() const { return device_ != kNone; }

    // Each read, at most 1024 bytes, as it arrives.
    std::function<void(const std::uint8_t*, std::size_t)> ServerSocket1ClientRead;
    // Where the transport module is looked for; empty: the program's folder.
    QString moduleFolder;
    // The caption of Start_server: "Запустить" or "Остановить".
    std::function<void(const QString&)> setStartCaption;

  private:
    static constexpr int kNone = 0;

    // The transport, loaded on first use; false (and a message) if it cannot be.
    bool ensureTransport();
    void ServerSocket1ClientConnect(int connection, const QString& peer);
    void ServerSocket1ClientDisconnect(int connection);
    void ServerSocket1ClientError(int code, const QString& text);
    void readFrom(int connection, const char* bytes, std::size_t count);

    LinkController& link_;
    std::unique_ptr<TcpTransport> transport_;
    QList<int> clients_; // in order of acceptance
    int device_ = kNone;
};
