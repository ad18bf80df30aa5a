#include "app/platform.h"

#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The signal handler may only write: the number goes through a socket pair
// to the window's thread.
int signalPipe[2] = {-1, -1};

void onUnixSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

namespace platform {

void watchTerminationSignals(QObject* parent, std::function<void(int signal)> onSignal) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent,
                     [onSignal = std::move(onSignal)] {
                         char buf[16];
                         const auto n = ::read(signalPipe[0], buf, sizeof buf);
                         onSignal(n > 0 ? static_cast<unsigned char>(buf[0]) : SIGTERM);
                     });
    struct sigaction sa {};
    sa.sa_handler = onUnixSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
}

bool folderWritable(const QString& folder) {
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

} // namespace platform
