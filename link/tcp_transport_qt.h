// The listening socket of the Internet link and its connections, as the link
// sees them: numbered connections, their bytes, their end. The link keeps
// every decision (which connection is the device, status texts, log lines);
// the transport only moves bytes.
//
// The transport is Qt Network's QTcpServer, built as the module
// "vxrt7-tcp.so" beside the program and loaded the first time the server
// starts: Qt Network and the libraries it pulls in (Kerberos, proxy
// resolution) are then not loaded at all by a configurator that works over a
// serial port, which is most of them, and its start-up is that much shorter.
#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <functional>
#include <memory>

class TcpTransport {
  public:
    virtual ~TcpTransport() = default;

    // Listens at the address (empty: every address) and port (0: the system
    // chooses). On failure returns false and the reason in *error.
    virtual bool listen(const QString& address, quint16 port, QString* error) = 0;
    // Stops listening and drops every connection without reporting it.
    virtual void close() = 0;
    virtual bool isListening() const = 0;
    virtual quint16 port() const = 0;
    // Writes the bytes to the connection and flushes; returns what was
    // accepted, or -1 when the connection is gone.
    virtual qint64 send(int connection, const char* bytes, qint64 count) = 0;
    // Closes one connection without reporting it through `closed`.
    virtual void drop(int connection) = 0;
    // Stops or resumes taking new connections off the listening socket.
    virtual void pauseAccepting() = 0;
    virtual void resumeAccepting() = 0;

    // A new connection from "address:port".
    std::function<void(int connection, const QString& peer)> accepted;
    // Bytes that arrived, in reads of at most 1024 bytes. The handler may
    // stop the server; the transport then stops reading.
    std::function<void(int connection, const char* bytes, std::size_t count)> received;
    // The peer closed the connection; the transport has dropped it.
    std::function<void(int connection)> closed;
    // A socket error other than the peer closing: the system's error number
    // and its text.
    std::function<void(int connection, int code, const QString& text)> failed;
    // A connection could not be taken (no descriptors left, for one): the
    // system's error number. The transport has stopped accepting; the link
    // decides when to resume.
    std::function<void(int code)> acceptFailed;
};

// Loads the module from the folder (empty: the program's folder, or
// lib/vxrt7-config/ beside an installed program's bin/) and makes a
// transport; on failure returns null and the reason in *error.
std::unique_ptr<TcpTransport> loadTcpTransport(const QString& folder, QString* error);

// The module's entry point, an extern "C" function of this type and name.
using MakeTcpTransport = TcpTransport* (*)();
inline constexpr const char* kTcpModuleName = "vxrt7-tcp";
inline constexpr const char* kTcpModuleEntry = "vxrt7_make_tcp_transport";
