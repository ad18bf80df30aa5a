#include "tests/support/child_test.h"

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

ChildTest::ChildTest(const std::string& test,
                     const std::vector<std::pair<std::string, std::string>>& env, bool otherUser,
                     bool ownNetwork) {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    int out[2];
    if (n <= 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        return;
    }
    self[n] = '\0';
    const std::string filter = "--gtest_filter=" + test;
    pid_ = ::fork();
    if (pid_ == 0) {
        if (ownNetwork && ::unshare(CLONE_NEWNET) != 0) {
            ::_exit(kNoNamespace);
        }
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        for (const auto& [name, value] : env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        if (otherUser) {
            ::setenv("HOME", "/tmp", 1);
            ::unsetenv("XDG_RUNTIME_DIR");
            ::execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534",
                    "--clear-groups", self, filter.c_str(), static_cast<char*>(nullptr));
        } else {
            ::execl(self, self, filter.c_str(), static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
}

ChildTest::~ChildTest() {
    if (pid_ > 0) {
        wait(0);
    }
    if (out_ >= 0) {
        ::close(out_);
    }
}

int ChildTest::wait(int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    bool ended = false;
    while (!ended) {
        pollfd p{out_, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(left, 0))) > 0) {
            char buffer[4096];
            const ssize_t got = ::read(out_, buffer, sizeof buffer);
            if (got > 0) {
                output_.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
        }
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended = true;
        } else if (std::chrono::steady_clock::now() >= until) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        } else {
            ::usleep(10000);
        }
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
