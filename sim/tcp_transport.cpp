#include "sim/tcp_transport.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

bool parseTcpTarget(const std::string& text, TcpTarget* target) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') {
            return false;
        }
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = text.substr(colon + 1);
    unsigned value = 0;
    const auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc{} || ptr != port.data() + port.size() || value == 0 ||
        value > 65535) {
        return false;
    }
    target->host = host;
    target->port = value;
    return true;
}

namespace {

// One attempt on one address; the socket, or -1 with `error` set.
int tryAddress(const addrinfo& ai, const StopSignal& stop, std::chrono::milliseconds timeout,
               std::string* error) {
    const int fd =
        ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0 && errno != EINPROGRESS) {
        *error = std::string("connect: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    pollfd fds[2] = {{stop.fd(), POLLIN, 0}, {fd, POLLOUT, 0}};
    int ready;
    do {
        ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || (fds[0].revents & POLLIN)) {
        *error = ready == 0 ? "connect: timed out" : "connect: stopped";
        ::close(fd);
        return -1;
    }
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0) {
        *error = std::string("connect: ") + std::strerror(soError != 0 ? soError : errno);
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

int connectTcp(const TcpTarget& target, const StopSignal& stop, std::chrono::milliseconds timeout,
               std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(target.port);
    const int rc = ::getaddrinfo(target.host.c_str(), port.c_str(), &hints, &list);
    if (rc != 0) {
        *error = target.host + ": " + ::gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    std::string why = "no address";
    for (const addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = tryAddress(*ai, stop, timeout, &why);
    }
    ::freeaddrinfo(list);
    if (fd < 0) {
        *error = target.host + ":" + port + ": " + why;
    }
    return fd;
}

} // namespace sim
