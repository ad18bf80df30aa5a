// Runs one test of this test program again in a child process, for the cases
// that need a process of their own: another user (one who may not open a
// port or write a folder), a signal, an exit code, what goes to stderr. The
// test recognises its second run by an environment variable it passes.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

class ChildTest {
  public:
    // Starts this program with --gtest_filter=<test> and the extra
    // environment; as user and group 65534 ("nobody", no groups) when
    // otherUser is set; in a network namespace of its own (only a loopback
    // interface, down) when ownNetwork is set, which needs root. A child
    // that could not get its namespace exits with kNoNamespace.
    ChildTest(const std::string& test, const std::vector<std::pair<std::string, std::string>>& env,
              bool otherUser, bool ownNetwork = false);
    static constexpr int kNoNamespace = 126;
    ~ChildTest(); // kills it if still running
    ChildTest(const ChildTest&) = delete;
    ChildTest& operator=(const ChildTest&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for the end (at most timeoutMs, then kills it). Returns the exit
    // code, or -1 when it did not exit by itself.
    int wait(int timeoutMs = 30000);
    // Its standard output and error, complete once wait() returned.
    const std::string& output() const { return output_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};
