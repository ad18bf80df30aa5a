// The configurator's server end for the TCP tests: a plain listening socket
// on 127.0.0.1 with a port the system chooses.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace simtest {

class TcpConnection {
  public:
    explicit TcpConnection(int fd = -1) : fd_(fd) {}
    ~TcpConnection() { close(); }
    TcpConnection(TcpConnection&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    TcpConnection& operator=(TcpConnection&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    bool ok() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    bool write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // Reads until `count` bytes have come, the peer closed, or `timeout`.
    std::string read(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buffer[1024];
            const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - got.size()), 0);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                peerClosed_ = n == 0;
                break;
            }
        }
        return got;
    }

    // Whatever arrives within `quiet`.
    std::string readFor(std::chrono::milliseconds quiet) { return read(1 << 20, quiet); }

    // True once a read has seen the peer's end of stream.
    bool peerClosed() const { return peerClosed_; }
    // Waits for the peer to close; true when it did within `timeout`.
    bool waitPeerClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const std::string rest = read(1 << 20, timeout);
        return peerClosed_ && rest.empty();
    }

  private:
    int fd_ = -1;
    bool peerClosed_ = false;
};

class TcpListener {
  public:
    TcpListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            close();
            return;
        }
        port_ = ntohs(a.sin_port);
    }
    ~TcpListener() { close(); }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    bool ok() const { return fd_ >= 0; }
    unsigned port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    TcpConnection accept(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
            return TcpConnection();
        }
        return TcpConnection(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
    }

  private:
    int fd_ = -1;
    unsigned port_ = 0;
};

} // namespace simtest
