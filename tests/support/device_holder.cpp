#include "tests/support/device_holder.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

DeviceHolder::DeviceHolder(const std::string& devicePath) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        ::close(report[0]);
        ::close(report[1]);
        return;
    }
    if (pid == 0) {
        int err = 0;
        const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || ::dup2(fd, 0) < 0) {
            err = errno;
        } else {
            // Nothing of the test's goes along: no pseudo-terminal master
            // that would make it the other end of the line. The report pipe
            // closes itself at exec.
            for (int other = 3; other < 1024; ++other) {
                if (other != report[1]) {
                    ::close(other);
                }
            }
            ::execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
            err = errno;
        }
        [[maybe_unused]] auto n = ::write(report[1], &err, sizeof err);
        ::_exit(127);
    }
    ::close(report[1]);
    int err = 0;
    ssize_t n = 0;
    do {
        n = ::read(report[0], &err, sizeof err); // end of file: it runs
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    pid_ = pid;
    if (n > 0) {
        error_ = "open " + devicePath + " or exec sleep: " + std::strerror(err);
        stop();
    }
}

DeviceHolder::~DeviceHolder() {
    stop();
}

void DeviceHolder::stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}
