// The fleet server: a TCP server for many devices at once, each announced
// connection its own device session (DeviceRunner), on one thread, over
// POSIX sockets and epoll, without Qt.
//
// Who is a device is the window's announcement rule (InternetClients, with
// every announced client kept: oneDevice off). The server advances by socket
// events and by its ticks: the sessions' 20 ms tick while they count, the
// announcement rule's time-outs four times a second, and once a second a look
// at the register for jobs queued by other processes.
//
// Descriptors: the server raises its open-file limit to the hard limit; a
// connection past what the limit leaves is refused at once (one descriptor is
// kept in reserve for that), and past the connections held at once the oldest
// client that has not announced itself is closed to make room, so a flood of
// silent connections never locks the devices out.
#pragma once

#include "fleet/device_runner.h"
#include "link/internet_clients.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fleet {

struct ServerOptions {
    int port = 10000;          // 0: the system chooses
    std::string listenAddress; // empty: every address (IPv6 and IPv4)
    std::vector<std::uint16_t> passwords;
    int maxDevices = 1000; // devices served at once
    std::string backupFolder;
    // The longest a stop waits for the exchanges in flight.
    std::chrono::milliseconds stopGrace{5000};
    std::int64_t announceTimeoutMs = InternetClients::kAnnounceTimeoutMs;
};

class FleetServer : private RunnerHost {
  public:
    using Log = std::function<void(const FleetEvent&)>;

    FleetServer(ServerOptions options, FleetRegister& reg, Log log);
    ~FleetServer() override;
    FleetServer(const FleetServer&) = delete;
    FleetServer& operator=(const FleetServer&) = delete;

    // Raises the open-file limit and listens. False with `error` in Russian
    // (a port in use, no permission, a bad address).
    bool listen(std::string* error);
    int port() const { return boundPort_; }

    // One round: waits at most `timeoutMs` (less when a tick is due) for the
    // sockets, handles what came and runs the due ticks.
    void step(int timeoutMs);
    // Until stop() (or a stop request): then the exchanges in flight get at
    // most stopGrace to end, jobs still under way go back to retry, and every
    // connection is closed.
    void run();
    // Async-signal-safe: asks run() to stop.
    void requestStop();
    // Stops at once the way run() ends (for tests that drive step()).
    void shutDown();
    // Waits until every write handed to the register so far is done.
    void flushRegister() { writer_.flush(); }
    bool stopRequested() const;

    int connections() const { return static_cast<int>(conns_.size()); }
    int devices() const;
    // The runner of a connection by its device number, when one is connected.
    const DeviceRunner* runnerFor(unsigned device) const;
    // How many times the server has looked for new jobs (once a second).
    std::int64_t jobLooks() const { return jobLooks_; }
    // The open-file limit in force, and the connections held at most.
    int fileLimit() const { return fileLimit_; }

  private:
    struct Conn {
        int fd = -1;
        std::string address; // host
        std::string peer;    // host:port
        std::unique_ptr<DeviceRunner> runner;
    };

    // RunnerHost
    FleetRegister& fleetRegister() override { return reg_; }
    const std::vector<std::uint16_t>& passwords() const override { return options_.passwords; }
    const std::string& backupFolder() const override { return options_.backupFolder; }
    Millis now() const override;
    void report(FleetEvent event) override { log_(event); }
    bool claim(DeviceRunner& runner, unsigned device) override;
    void write(unsigned device, RegisterWriter::Write write) override {
        writer_.write(device, std::move(write));
    }
    bool claimJob(std::int64_t job) override { return claimed_.insert(job).second; }
    void releaseJob(std::int64_t job) override { claimed_.erase(job); }
    bool stopping() const override { return stopping_; }
    void reportProblems();
    int send(int connection, const std::uint8_t* bytes, std::size_t count) override;
    void hangUp(int connection) override;

    void acceptAll();
    void refuseOne(int err);
    void readFrom(int connection);
    void apply(InternetClients::Actions actions);
    void closeConnection(int connection, const std::string& why);
    void closePending();
    void ticks();
    void lookForJobs();
    void note(FleetEvent::Kind kind, std::string message, std::string address = {});
    // Register calls that fail are reported; the server goes on.
    template <typename F> void guarded(F&& call);

    ServerOptions options_;
    FleetRegister& reg_;
    RegisterWriter writer_;
    std::set<std::int64_t> claimed_; // jobs under way or finished in this run
    Log log_;
    InternetClients clients_;
    int epoll_ = -1;
    int listen_ = -1;
    int stop_ = -1;  // eventfd
    int spare_ = -1; // kept free for refusing a connection past the limit
    int boundPort_ = 0;
    int fileLimit_ = 0;
    int nextConnection_ = 1;
    std::map<int, Conn> conns_;
    std::vector<std::pair<int, std::string>> toClose_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point next20ms_;
    std::chrono::steady_clock::time_point nextClients_;
    std::chrono::steady_clock::time_point nextJobs_;
    std::int64_t registerVersion_ = -1;
    std::int64_t jobLooks_ = 0;
    bool stopping_ = false;
    // Refusals past the descriptor limit, counted between two log lines.
    int refusedUnlogged_ = 0;
    std::chrono::steady_clock::time_point refusalLogged_{};
};

// Raises the soft open-file limit to the hard one; returns the soft limit now.
int raiseFileLimit();

} // namespace fleet
