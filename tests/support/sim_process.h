// Runs the real vxrt7-sim program for a test: starts it with the given
// arguments, takes the pseudo-terminal path from its first line of output, and
// stops it with SIGTERM when the test is done.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class SimProcess {
  public:
    // Starts the simulator and waits (up to startTimeout) for its first line.
    // On failure ok() is false and error() says why; the process is gone then.
    explicit SimProcess(std::vector<std::string> args = {},
                        std::chrono::milliseconds startTimeout = std::chrono::seconds(10));
    ~SimProcess(); // stop()
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool ok() const { return !slavePath_.empty(); }
    const std::string& error() const { return error_; }
    // The terminal the configurator would open.
    const std::string& slavePath() const { return slavePath_; }
    pid_t pid() const { return pid_; }

    // Sends `sig` (default SIGTERM) and reaps the process; if it has not
    // ended after a few seconds it is killed. Returns the wait status of the
    // first stop (later calls return the same). -1 when never started.
    int stop(int sig = 15 /* SIGTERM */);
    // True when the process is still there (not yet reaped, not exited).
    bool alive();

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string slavePath_;
    std::string error_;
};
