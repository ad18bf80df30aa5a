#include "sim_process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// Reaps `pid` if it has ended within `timeout`; true with *status set then.
bool waitExit(pid_t pid, std::chrono::milliseconds timeout, int* status) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const pid_t r = ::waitpid(pid, status, WNOHANG);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno != EINTR) {
            *status = -1;
            return true; // not our child any more: nothing left to wait for
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

SimProcess::SimProcess(std::vector<std::string> args, std::chrono::milliseconds startTimeout) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    std::vector<std::string> all{VXRT7_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    // The child must not inherit a blocked or ignored stop signal from a test thread.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t deflt;
    sigemptyset(&deflt);
    sigaddset(&deflt, SIGTERM);
    sigaddset(&deflt, SIGINT);
    sigaddset(&deflt, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &deflt);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);
    if (rc != 0) {
        pid_ = -1;
        ::close(out[0]);
        error_ = std::string("cannot start ") + VXRT7_SIM_PATH + ": " + std::strerror(rc);
        return;
    }

    // The first line is the slave path; read byte by byte so nothing after it is taken.
    std::string line;
    const auto until = std::chrono::steady_clock::now() + startTimeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error_ = "no path from the simulator within " + std::to_string(startTimeout.count()) +
                     " ms (got '" + line + "')";
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue; // the deadline check above ends the wait
        }
        char c;
        const ssize_t n = ::read(out[0], &c, 1);
        if (n == 1) {
            if (c == '\n') {
                break;
            }
            line.push_back(c);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        error_ = "the simulator ended before it printed its path (got '" + line + "')";
        break;
    }
    ::close(out[0]);
    if (error_.empty() && line.empty()) {
        error_ = "the simulator printed an empty path";
    }
    if (!error_.empty()) {
        stop();
        if (status_ != -1 && WIFEXITED(status_)) {
            error_ += "; exit status " + std::to_string(WEXITSTATUS(status_));
        }
        return;
    }
    slavePath_ = line;
}

SimProcess::~SimProcess() {
    stop();
}

int SimProcess::stop(int sig) {
    if (pid_ <= 0) {
        return status_;
    }
    ::kill(pid_, sig);
    if (!waitExit(pid_, std::chrono::seconds(5), &status_)) {
        ::kill(pid_, SIGKILL);
        waitExit(pid_, std::chrono::seconds(5), &status_);
    }
    pid_ = -1;
    return status_;
}

bool SimProcess::alive() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = status;
        pid_ = -1;
        return false;
    }
    return r == 0;
}
