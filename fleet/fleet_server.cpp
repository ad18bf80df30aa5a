#include "fleet/fleet_server.h"

#include "session/event_text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fleet {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Descriptors kept for the register, its journal, the standard streams and
// the server's own: the rest may hold connections.
constexpr int kReservedFiles = 32;
// epoll data of the two sockets that are no connection.
constexpr std::uint64_t kListenTag = 0;
constexpr std::uint64_t kStopTag = static_cast<std::uint64_t>(-1);

std::string peerText(const sockaddr_storage& sa, std::string* host, int* port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (sa.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(sa);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
        *port = ntohs(in6.sin6_port);
    } else {
        const auto& in4 = reinterpret_cast<const sockaddr_in&>(sa);
        ::inet_ntop(AF_INET, &in4.sin_addr, text, sizeof text);
        *port = ntohs(in4.sin_port);
    }
    *host = InternetClients::plainAddress(text);
    return *host + ":" + std::to_string(*port);
}

} // namespace

int raiseFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return limit.rlim_cur > 1'000'000 ? 1'000'000 : static_cast<int>(limit.rlim_cur);
}

FleetServer::FleetServer(ServerOptions options, FleetRegister& reg, Log log)
    : options_(std::move(options)), reg_(reg), log_(std::move(log)) {
    clients_.oneDevice = false;
    clients_.announceTimeoutMs = options_.announceTimeoutMs;
    start_ = Clock::now();
}

FleetServer::~FleetServer() {
    for (auto& [id, conn] : conns_) {
        conn.runner.reset();
        ::close(conn.fd);
    }
    for (const int fd : {listen_, stop_, epoll_, spare_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

Millis FleetServer::now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void FleetServer::note(FleetEvent::Kind kind, std::string message, std::string address) {
    FleetEvent e;
    e.kind = kind;
    e.address = std::move(address);
    e.message = std::move(message);
    log_(e);
}

template <typename F> void FleetServer::guarded(F&& call) {
    try {
        call();
    } catch (const std::exception& e) {
        note(FleetEvent::Kind::Error, std::string("Реестр: ") + e.what());
    }
}

bool FleetServer::listen(std::string* error) {
    fileLimit_ = raiseFileLimit();
    if (!writer_.start(reg_.path(), error)) {
        return false;
    }
    clients_.maxClients = std::max(1, fileLimit_ - kReservedFiles);
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (epoll_ < 0 || stop_ < 0) {
        *error = std::string("Сервер не запущен: ") + std::strerror(errno);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = options_.listenAddress.empty() ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(options_.port);
    const int rc =
        ::getaddrinfo(options_.listenAddress.empty() ? nullptr : options_.listenAddress.c_str(),
                      service.c_str(), &hints, &list);
    if (rc != 0) {
        *error = "Неверный адрес «" + options_.listenAddress + "»: " + ::gai_strerror(rc);
        return false;
    }
    int fd = ::socket(list->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 && errno == EAFNOSUPPORT && options_.listenAddress.empty()) {
        // A machine without IPv6: every IPv4 address.
        ::freeaddrinfo(list);
        list = nullptr;
        hints.ai_family = AF_INET;
        if (::getaddrinfo(nullptr, service.c_str(), &hints, &list) != 0) {
            *error = "Не удалось открыть порт " + service + ": нет адреса IPv4";
            return false;
        }
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd >= 0) {
        const int one = 1;
        const int zero = 0;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (list->ai_family == AF_INET6) {
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
        }
    }
    if (fd < 0 || ::bind(fd, list->ai_addr, list->ai_addrlen) != 0 || ::listen(fd, 1024) != 0) {
        const int err = errno;
        ::freeaddrinfo(list);
        if (fd >= 0) {
            ::close(fd);
        }
        *error = err == EADDRINUSE
                     ? "Порт " + service + " уже занят другой программой: сервер не запущен"
                 : err == EACCES ? "Нет прав открыть порт " + service +
                                       " (порты до 1024 — только для root): сервер не запущен"
                                 : "Не удалось открыть порт " + service + ": " + std::strerror(err);
        return false;
    }
    ::freeaddrinfo(list);
    listen_ = fd;
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&bound), &len);
    std::string host;
    peerText(bound, &host, &boundPort_);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kListenTag;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &ev);
    ev.data.u64 = kStopTag;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, stop_, &ev);
    const auto now = Clock::now();
    next20ms_ = now + 20ms;
    nextClients_ = now + 250ms;
    nextJobs_ = now;
    guarded([&] {
        const int recovered = reg_.recoverRunningJobs(this->now());
        if (recovered > 0) {
            note(FleetEvent::Kind::Note, "Заданий, прерванных прошлым запуском, снова в очереди: " +
                                             std::to_string(recovered));
        }
    });
    note(FleetEvent::Kind::Listening, "Сервер запущен, порт " + std::to_string(boundPort_) +
                                          ", реестр " + reg_.path() + ", соединений не больше " +
                                          std::to_string(clients_.maxClients));
    return true;
}

void FleetServer::requestStop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(stop_, &one, sizeof one);
}

bool FleetServer::stopRequested() const {
    return stopping_;
}

int FleetServer::devices() const {
    int n = 0;
    for (const auto& [id, conn] : conns_) {
        n += conn.runner && conn.runner->device() ? 1 : 0;
    }
    return n;
}

const DeviceRunner* FleetServer::runnerFor(unsigned device) const {
    for (const auto& [id, conn] : conns_) {
        if (conn.runner && conn.runner->device() == device) {
            return conn.runner.get();
        }
    }
    return nullptr;
}

// --- sockets -------------------------------------------------------------------

void FleetServer::acceptAll() {
    for (;;) {
        sockaddr_storage sa{};
        socklen_t len = sizeof sa;
        const int fd = ::accept4(listen_, reinterpret_cast<sockaddr*>(&sa), &len,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                refuseOne(errno);
            }
            return;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Conn conn;
        conn.fd = fd;
        int port = 0;
        conn.peer = peerText(sa, &conn.address, &port);
        const int id = nextConnection_++;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = static_cast<std::uint64_t>(id);
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
        const std::string address = conn.address;
        conns_.emplace(id, std::move(conn));
        apply(clients_.accepted(
            id, address, port,
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count()));
    }
}

void FleetServer::refuseOne(int err) {
    // Out of descriptors: the reserve is given up for a moment to take the
    // connection and close it at once; otherwise the listening socket would
    // stay readable and the loop would spin.
    if (spare_ >= 0) {
        ::close(spare_);
        spare_ = -1;
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
        }
        spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
    ++refusedUnlogged_;
    const auto now = Clock::now();
    if (now - refusalLogged_ >= 10s) {
        note(FleetEvent::Kind::Refused,
             "Не хватает дескрипторов (" + std::string(std::strerror(err)) + ", предел " +
                 std::to_string(fileLimit_) + "): соединений отклонено: " +
                 std::to_string(refusedUnlogged_) + "; остальные приборы обслуживаются");
        refusedUnlogged_ = 0;
        refusalLogged_ = now;
    }
}

void FleetServer::readFrom(int connection) {
    const auto it = conns_.find(connection);
    if (it == conns_.end()) {
        return;
    }
    char buffer[InternetClients::kMaxRead];
    const ssize_t n = ::recv(it->second.fd, buffer, sizeof buffer, 0);
    if (n > 0) {
        apply(clients_.received(
            connection, buffer, static_cast<std::size_t>(n),
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count()));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    closeConnection(connection, n == 0 ? "прибор разорвал связь" : std::strerror(errno));
}

void FleetServer::apply(InternetClients::Actions actions) {
    for (const SessionEvent& said : actions.log) {
        for (std::string& line : eventText(said).log) {
            note(FleetEvent::Kind::Note, std::move(line));
        }
    }
    for (const int connection : actions.close) {
        toClose_.emplace_back(connection, std::string());
    }
    for (std::size_t i = 0; i < actions.analyse.size(); ++i) {
        const int connection = actions.from[i];
        const auto it = conns_.find(connection);
        if (it == conns_.end()) {
            continue;
        }
        Conn& conn = it->second;
        if (!conn.runner) {
            int held = 0;
            for (const auto& [id, other] : conns_) {
                held += other.runner ? 1 : 0;
            }
            if (held >= options_.maxDevices) {
                note(FleetEvent::Kind::Refused,
                     "Прибор с адреса " + conn.peer + " не принят: обслуживается приборов " +
                         std::to_string(held) + " (--max-devices)",
                     conn.peer);
                toClose_.emplace_back(connection, std::string());
                continue;
            }
            RunnerHost& host = *this;
            conn.runner = std::make_unique<DeviceRunner>(host, connection, conn.address, conn.peer);
        }
        DeviceRunner& runner = *conn.runner;
        guarded([&] {
            runner.received(actions.analyse[i]);
            runner.advance();
        });
    }
    closePending();
}

int FleetServer::send(int connection, const std::uint8_t* bytes, std::size_t count) {
    const auto it = conns_.find(connection);
    if (it == conns_.end()) {
        return -1;
    }
    const ssize_t n = ::send(it->second.fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    return n < 0 ? -1 : static_cast<int>(n);
}

void FleetServer::hangUp(int connection) {
    toClose_.emplace_back(connection, "его закрыл сервер");
}

void FleetServer::closePending() {
    while (!toClose_.empty()) {
        const auto [connection, why] = toClose_.back();
        toClose_.pop_back();
        closeConnection(connection, why);
    }
}

void FleetServer::closeConnection(int connection, const std::string& why) {
    const auto it = conns_.find(connection);
    if (it == conns_.end()) {
        return;
    }
    Conn conn = std::move(it->second);
    conns_.erase(it);
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, conn.fd, nullptr);
    ::close(conn.fd);
    clients_.closed(connection);
    if (conn.runner) {
        guarded([&] { conn.runner->connectionLost(why.empty() ? "соединение закрыто" : why); });
        FleetEvent e;
        e.kind = FleetEvent::Kind::Disconnected;
        e.address = conn.peer;
        e.device = conn.runner->device().value_or(0);
        e.message = "Соединение с " +
                    (conn.runner->device() ? "прибором " + std::to_string(*conn.runner->device()) +
                                                 " (" + conn.peer + ")"
                                           : conn.peer) +
                    " закрыто" + (why.empty() ? std::string() : ": " + why);
        log_(e);
    }
}

bool FleetServer::claim(DeviceRunner& runner, unsigned device) {
    DeviceRunner* other = nullptr;
    for (auto& [id, conn] : conns_) {
        if (conn.runner && conn.runner.get() != &runner && conn.runner->device() == device &&
            conn.runner->phase() != DeviceRunner::Phase::Silent) {
            other = conn.runner.get();
        }
    }
    if (other == nullptr) {
        const auto known = reg_.device(device);
        if (known && known->conflict) {
            write(device, [device, when = now()](FleetRegister& reg, auto&) {
                reg.setConflict(device, false, when);
            });
        }
        return true;
    }
    write(device, [device, when = now()](FleetRegister& reg, auto&) {
        reg.setConflict(device, true, when);
    });
    FleetEvent e;
    e.kind = FleetEvent::Kind::Conflict;
    e.address = runner.peer();
    e.device = device;
    e.message = "Номер устройства " + std::to_string(device) +
                " у двух соединений сразу: " + other->peer() + " и " + runner.peer() +
                "; заданий ни одному из них";
    log_(e);
    other->enterConflict();
    return false;
}

// --- time ------------------------------------------------------------------------

void FleetServer::ticks() {
    const auto now = Clock::now();
    if (now >= next20ms_) {
        next20ms_ = next20ms_ + 20ms > now ? next20ms_ + 20ms : now + 20ms;
        for (auto& [id, conn] : conns_) {
            if (conn.runner && conn.runner->session().tickNeeded()) {
                DeviceRunner& runner = *conn.runner;
                guarded([&] {
                    runner.session().tick20ms();
                    runner.advance();
                });
            }
        }
        closePending();
    }
    if (now >= nextClients_) {
        nextClients_ = now + 250ms;
        apply(clients_.tick(
            std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count()));
    }
    if (now >= nextJobs_ && !stopping_) {
        nextJobs_ = now + 1s;
        lookForJobs();
    }
}

void FleetServer::lookForJobs() {
    ++jobLooks_;
    guarded([&] {
        // Jobs come from other processes (`fleet push` and the others): only
        // a change of the register by them makes a look worth its queries.
        const std::int64_t version = reg_.externalChanges();
        if (version == registerVersion_) {
            return;
        }
        registerVersion_ = version;
        for (auto& [id, conn] : conns_) {
            if (conn.runner) {
                DeviceRunner& runner = *conn.runner;
                guarded([&] {
                    runner.lookForJob();
                    runner.advance();
                });
            }
        }
    });
    closePending();
}

void FleetServer::step(int timeoutMs) {
    const auto now = Clock::now();
    auto due = std::min(nextClients_, nextJobs_);
    bool counting = false;
    for (const auto& [id, conn] : conns_) {
        counting = counting || (conn.runner && conn.runner->session().tickNeeded());
    }
    if (counting) {
        due = std::min(due, next20ms_);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    const int timeout = static_cast<int>(std::clamp<long long>(wait, 0, timeoutMs));
    epoll_event events[256];
    const int n = ::epoll_wait(epoll_, events, 256, timeout);
    for (int i = 0; i < n; ++i) {
        const std::uint64_t tag = events[i].data.u64;
        if (tag == kStopTag) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto r = ::read(stop_, &count, sizeof count);
            if (!stopping_) {
                stopping_ = true;
                note(FleetEvent::Kind::Stopping,
                     "Сервер останавливается: обмены, что идут, завершаются (не дольше " +
                         std::to_string(options_.stopGrace.count() / 1000) + " с)");
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, listen_, nullptr);
            }
        } else if (tag == kListenTag) {
            if (!stopping_) {
                acceptAll();
            }
        } else {
            readFrom(static_cast<int>(tag));
        }
    }
    closePending();
    ticks();
    reportProblems();
}

void FleetServer::reportProblems() {
    for (std::string& problem : writer_.takeProblems()) {
        note(FleetEvent::Kind::Error, std::move(problem));
    }
}

void FleetServer::run() {
    while (!stopping_) {
        step(1000);
    }
    const auto until = Clock::now() + options_.stopGrace;
    for (;;) {
        bool busy = false;
        for (const auto& [id, conn] : conns_) {
            busy = busy || (conn.runner && conn.runner->busy());
        }
        if (!busy || Clock::now() >= until) {
            break;
        }
        step(50);
    }
    shutDown();
}

void FleetServer::shutDown() {
    std::vector<int> all;
    for (const auto& [id, conn] : conns_) {
        all.push_back(id);
    }
    for (const int id : all) {
        closeConnection(id, "сервер остановлен");
    }
    clients_.clear();
    if (listen_ >= 0) {
        ::close(listen_);
        listen_ = -1;
    }
    writer_.flush();
    reportProblems();
    note(FleetEvent::Kind::Stopped, "Сервер остановлен");
}

} // namespace fleet
