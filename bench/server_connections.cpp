// The Internet server under a burst of connections: a client thread opens
// and closes N connections (default 1000) to the server one after another,
// as fast as it can; the server runs on this thread's event loop, as in the
// window. Prints the wall time until the server has seen every one come and
// go (the last connection stays and announces itself: when the server has
// it, the listen queue is empty), and the server process's CPU time for it. Each connection either
// says nothing (a scanner) or announces itself as the device first.
#include "link/internet_link_qt.h"
#include "session/event_text.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

class QuietView : private EventTextSink {
  public:
    int lines = 0;
    void event(const SessionEvent& e) { showEventText(e, *this); }

  private:
    void logLine(const std::string&) override { ++lines; }
    void message(const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
};

double cpuSeconds() {
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Returns the wall-clock seconds for `cycles` connect/close cycles.
double run(InternetLink& net, QuietView& view, int cycles, bool announce) {
    const quint16 port = net.listeningPort();
    std::atomic<int> failed{0};
    std::atomic<bool> clientDone{false};
    int marker = -1;
    const int linesBefore = view.lines;
    QElapsedTimer clock;
    clock.start();
    std::thread client([&] {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        for (int i = 0; i < cycles; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ++failed;
            } else if (announce) {
                [[maybe_unused]] const auto n = ::send(fd, "CONNECT", 7, MSG_NOSIGNAL);
            }
            if (fd >= 0) {
                ::close(fd);
            }
        }
        // The last one stays and announces itself: once the server has it,
        // every earlier one has been taken off the listen queue.
        marker = ::socket(AF_INET, SOCK_STREAM, 0);
        if (marker >= 0 && ::connect(marker, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            [[maybe_unused]] const auto n = ::send(marker, "CONNECT\r\n", 9, MSG_NOSIGNAL);
        }
        clientDone = true;
    });
    // Done when the client has made every connection and the server holds none.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (clientDone && net.connectionCount() == 1 && net.deviceConnected()) {
            QCoreApplication::exit(0);
        }
        if (clock.elapsed() > 60000) {
            QCoreApplication::exit(1);
        }
    });
    poll.start(1);
    QCoreApplication::exec();
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    client.join();
    ::close(marker);
    while (net.connectionCount() > 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    std::printf("  %d log lines, %d connects failed\n", view.lines - linesBefore, failed.load());
    return seconds;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    QuietView view;
    InternetLink net;
    QObject::connect(&net, &InternetLink::reported,
                     [&view](const SessionEvent& e) { view.event(e); });
    net.moduleFolder = QCoreApplication::applicationDirPath();
    if (!net.Start_server_fun(true, QStringLiteral("0"))) {
        return 1;
    }
    for (const bool announce : {false, true}) {
        const double cpu0 = cpuSeconds();
        const double wall = run(net, view, cycles, announce);
        std::printf("%d connect/close cycles%s: %.3f s wall, %.3f s CPU of the server process\n",
                    cycles, announce ? " (each announcing CONNECT)" : "", wall,
                    cpuSeconds() - cpu0);
    }
    return 0;
}
