// The fleet server's writes to its register, on threads of their own: a
// commit waits for the disk (and a snapshot's backup .fcd for two more
// syncs), and the server's one thread must not wait with it while hundreds
// of devices wait for their next command. Each thread has a register
// connection of its own; the writes of one device always go to the same
// thread and run in the order they were handed over, each one transaction,
// while the syncs of different devices overlap. The server reads on its own
// connection, so it keeps in mind (claimed jobs) what it wrote and the
// register may not show yet.
#pragma once

#include "fleet/fleet_register.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fleet {

class RegisterWriter {
  public:
    // A write; it may say what went wrong (Russian) through `problem`.
    using Write = std::function<void(FleetRegister&, std::vector<std::string>& problems)>;

    static constexpr int kThreads = 4;

    RegisterWriter() = default;
    ~RegisterWriter(); // finishes every write handed over
    RegisterWriter(const RegisterWriter&) = delete;
    RegisterWriter& operator=(const RegisterWriter&) = delete;

    // Opens the threads' connections to the register file and starts them.
    bool start(const std::string& path, std::string* error);
    // `device`: the writes with the same value run in order.
    void write(unsigned device, Write write);
    // Waits until every write handed over so far is done.
    void flush();
    // What went wrong since the last call (a failed commit, a backup not kept).
    std::vector<std::string> takeProblems();

  private:
    struct Lane {
        std::unique_ptr<FleetRegister> reg;
        std::deque<Write> queue;
        bool busy = false;
        std::thread thread;
    };
    void serve(Lane& lane);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::vector<std::string> problems_;
    bool ending_ = false;
};

} // namespace fleet
