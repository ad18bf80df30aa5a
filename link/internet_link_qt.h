// The Internet link: a TCP server that a device in the field connects to over
// GPRS. Start and stop, the status texts that follow its connections,
// Send_data, and every read handed to the analysis at once.
//
// Commands go to the connection that announced itself as the device with
// "CONNECT" (the first such one); a client that connected but never said so
// is never sent anything, least of all the password.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>

class LinkController;
class QTcpServer;
class QTcpSocket;

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
    bool deviceConnected() const { return !device_.isNull(); }

    // Each read, at most 1024 bytes, as it arrives.
    std::function<void(const std::uint8_t*, std::size_t)> ServerSocket1ClientRead;
    // The caption of Start_server: "Запустить" or "Остановить".
    std::function<void(const QString&)> setStartCaption;

  private:
    void ServerSocket1ClientConnect();
    void ServerSocket1ClientDisconnect(QTcpSocket* socket);
    void ServerSocket1ClientError(QTcpSocket* socket);
    void readFrom(QTcpSocket* socket);

    LinkController& link_;
    QTcpServer* server_;
    QList<QTcpSocket*> clients_; // in order of acceptance
    QPointer<QTcpSocket> device_;
};
