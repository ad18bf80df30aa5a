// The device protocol driven through the real link: the serial port component
// on a pseudo-terminal whose master plays the device, and a loopback TCP
// connection whose far end plays a device on the Internet link.
#pragma once

#include "comm/tcomm.h"
#include "link/device_commands.h"
#include "link/link_controller.h"
#include "session/reply_handling.h"
#include "tests/support/link_parts.h"
#include "tests/support/pty_pair.h"

#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <span>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <variant>
#include <vector>

namespace protocol_test {

// A connected TCP pair on the loopback interface: `server` is the
// configurator's side of the device's connection, `device` the far end.
struct LoopbackConnection {
    int server = -1;
    int device = -1;

    LoopbackConnection() {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(listener, 1), 0);
        EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
        device = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(device, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
    }
    ~LoopbackConnection() {
        closeServerSide();
        if (device >= 0) {
            ::close(device);
        }
    }
    void closeServerSide() {
        if (server >= 0) {
            ::close(server);
            server = -1;
        }
    }
    // What the configurator sent; waits up to timeoutMs for the first byte
    // and returns once the line has been quiet for 30 ms.
    std::string received(int timeoutMs = 500) const {
        std::string out;
        int wait = timeoutMs;
        char buf[2048];
        for (;;) {
            pollfd p{device, POLLIN, 0};
            if (::poll(&p, 1, wait) <= 0) {
                break;
            }
            const ssize_t n = ::recv(device, buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            out.append(buf, static_cast<std::size_t>(n));
            wait = 30;
        }
        return out;
    }
};

// The link and its reply handling, driven as the session drives them, with
// the requests the replies make of the rest of the session (the number list,
// the writer, the firmware exchange) recorded in order instead of carried out.
struct Harness : InternetTransport, LinkParts {
    PtyPair device;
    DeviceCommands commands{link, protocol};

    // What the replies handed to the rest of the program, in order, by the
    // names of the design's handlers that carry it out.
    std::vector<std::string> calls;
    // The block of the last configuration reply that asked for the numbers.
    frames::ConfigBlockBytes lastBlock{};
    int page = 0; // 0: the number list is in front
    // Sees every serial chunk while the bootloader has the line.
    std::function<void(const std::uint8_t*, std::size_t)> bootloader;

    Harness() {
        link.state.portName = device.slavePath;
        port.setReceivedHandler([this](std::uint32_t count) {
            link.bytesArrived(count);
            analyseChunks();
        });
    }
    ~Harness() override { port.Close(); }

    void analyseChunks() {
        while (link.beginChunk()) {
            const std::span<const std::uint8_t> chunk = replies.takeSerial();
            if (!chunk.empty()) {
                if (link.state.bootloaderMode && bootloader) {
                    bootloader(chunk.data(), chunk.size());
                }
                noteRequests();
            }
            link.endChunk(true);
        }
    }
    void noteRequests() {
        while (const std::optional<ReplyRequest> request = replies.next()) {
            if (std::holds_alternative<reply_requests::ReadNumbers>(*request)) {
                EXPECT_FALSE(view.configs.empty());
                if (!view.configs.empty()) {
                    lastBlock = view.configs.back();
                }
                calls.push_back("Read_conf");
                calls.push_back("Read_numbersClick");
            } else if (const auto* writer = std::get_if<reply_requests::StepWriter>(&*request)) {
                calls.push_back("WriteNumbers(" + std::to_string(static_cast<int>(writer->step)) +
                                ")");
            } else if (std::holds_alternative<reply_requests::ResendBatch>(*request)) {
                calls.push_back("resendLastBatch");
            } else if (const auto* key = std::get_if<reply_requests::AddKey>(&*request);
                       key != nullptr && page == 0) {
                calls.push_back("AddToNumListString(" + key->utf8 + ")");
            }
        }
    }

    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            if (link.receiveTick()) {
                analyseChunks();
            }
            link.watchdogTick();
        }
    }
    // The device writes bytes; the receive events run and the line goes
    // quiet, so the analysis runs on the real path.
    void deviceSays(const std::string& bytes) {
        ASSERT_TRUE(device.writeMaster(bytes));
        ASSERT_TRUE(dispatcher.runUntil(
            [&] { return link.state.rxCount >= std::min<std::size_t>(bytes.size(), 1024); }, 2000))
            << "rxCount " << link.state.rxCount;
        ticks(link.state.quietTicks);
    }
    // What the configurator wrote to the serial port.
    std::string sent(int timeoutMs = 500) { return device.drainMaster(timeoutMs, 30); }
    // Nothing written: waits briefly for a stray byte.
    std::string sentNothing() { return device.drainMaster(100, 30); }

    // Opens the port and lets the device greet: the serial link is up.
    void linkSerial() {
        link.tick1s();
        ASSERT_TRUE(link.state.portReady);
        link.tick1s();
        ASSERT_EQ(sent(), "CONFO");
        deviceSays(std::string("VELIRAN ") + char(30) + "#");
        ASSERT_TRUE(link.state.remoteConnected);
        ASSERT_TRUE(link.state.directDevice);
        view.log.clear();
        calls.clear();
    }

    // Connects a device on the Internet link: its connection is `tcp`, and
    // it has announced itself with "CONNECT".
    LoopbackConnection* tcp = nullptr;
    void linkInternet(LoopbackConnection& connection) {
        tcp = &connection;
        link.attachInternet(this);
        tcpSays("CONNECT");
        ASSERT_TRUE(link.state.remoteConnected);
        ASSERT_FALSE(link.state.directDevice);
        view.log.clear();
        calls.clear();
    }
    // The device sends bytes on its connection; the server side reads them
    // (one read of at most 1024 bytes, as the server does) and analyses them.
    void tcpSays(const std::string& bytes) {
        ASSERT_NE(tcp, nullptr);
        ASSERT_EQ(::send(tcp->device, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
        pollfd p{tcp->server, POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, 2000), 0);
        char buf[1024];
        const ssize_t n = ::recv(tcp->server, buf, sizeof buf, 0);
        // Loopback delivers a small write in one read.
        ASSERT_EQ(n, static_cast<ssize_t>(bytes.size()));
        const std::string got(buf, static_cast<std::size_t>(n));
        replies.takeInternetRead(reinterpret_cast<const std::uint8_t*>(got.data()), got.size());
        noteRequests();
    }

    // InternetTransport: the server's side of the loopback connection.
    int sendToClient(const std::uint8_t* bytes, std::size_t n) override {
        if (tcp == nullptr || tcp->server < 0) {
            return -1; // no client in the server's list
        }
        return static_cast<int>(::send(tcp->server, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT));
    }
    void stopServer(int) override {}
    bool serverListening() const override { return false; }
    bool clientLinked() const override { return false; }
};

// A 12-byte number record as the device sends it.
inline std::string record(const std::string& number, std::uint16_t apartment) {
    std::string r = number.substr(0, 10);
    r.resize(10, '\0');
    r.push_back(static_cast<char>(apartment & 0xFF));
    r.push_back(static_cast<char>(apartment >> 8));
    return r;
}

} // namespace protocol_test
