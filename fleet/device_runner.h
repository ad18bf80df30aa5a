// One announced connection of the fleet server: its own device session on
// the Internet link and its own number list, driven by what the session
// reports (its typed events and its state, never its texts) through
// identification and the device's jobs:
//
//  - identification: "CONFR" with the password last used from the device's
//    address, then each password the server was given in order, then the
//    passwords the register holds (and the factory password last); "Not corr"
//    moves on to the next. The block names the device (its number, offset 58);
//    the read goes on with the number list, and the complete read is the
//    device's snapshot. A device that no password opens is recorded as
//    unknown and is sent nothing more;
//  - a job: a fresh read (the identification's own read for the first job),
//    the plan worked out from it, "CONFW" with the target's block, then
//    "ERASE" and the batches as the window's Internet write, then a read back
//    compared with the target. A failure of any step, and a connection that
//    drops mid-job, puts the job back to retry (failed after its last try).
//
// The runner advances when its session reported something (advance()) and
// on the server's ticks; it never blocks.
#pragma once

#include "files/number_grid.h"
#include "fleet/fleet_register.h"
#include "fleet/register_writer.h"
#include "session/device_session.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fleet {

// What the server reports, one line each.
struct FleetEvent {
    enum class Kind {
        Listening,    // the server listens
        Refused,      // a client that is no device, or one too many
        Announced,    // a device announced itself ("CONNECT")
        Identified,   // a password opened it: the device number is known
        Snapshot,     // a complete read is kept in the register
        Unknown,      // no password opened it
        Conflict,     // two connections with one device number at once
        JobStarted,   // a job is under way on a device
        JobDone,      // written and verified, or nothing to write
        JobRetry,     // failed (or cut short) before its last try
        JobFailed,    // failed for good
        Disconnected, // a device's connection ended
        Note,         // anything else the server says (the link's own lines)
        Error,        // something that needs the operator: the register, the port
        Stopping,     // SIGTERM or SIGINT: the exchanges in flight end
        Stopped,
    };
    Kind kind = Kind::Note;
    std::string address; // the peer, "host:port"; empty when none
    unsigned device = 0; // 0: not known
    std::int64_t job = 0;
    std::string message; // Russian, the whole line without the time
};

// The event kind's name in the --json log: "listening", "refused", ...
const char* eventName(FleetEvent::Kind kind);

// What a runner needs of its server.
class RunnerHost {
  public:
    virtual ~RunnerHost() = default;
    // The register to read from; what is written goes through write().
    virtual FleetRegister& fleetRegister() = 0;
    // Hands a write over; those of one device are done in order, later.
    virtual void write(unsigned device, RegisterWriter::Write write) = 0;
    // A job this server is about to run: false when it runs it already (the
    // register may not show it yet). release() when it is in retry again.
    virtual bool claimJob(std::int64_t job) = 0;
    virtual void releaseJob(std::int64_t job) = 0;
    // The server is stopping: no job is started any more.
    virtual bool stopping() const = 0;
    // The --password values, in order.
    virtual const std::vector<std::uint16_t>& passwords() const = 0;
    // Where the snapshots' backup .fcd files go ("" keeps none).
    virtual const std::string& backupFolder() const = 0;
    virtual Millis now() const = 0;
    virtual void report(FleetEvent event) = 0;
    // The runner knows its device number: true when no other connection of
    // the server holds the same number now (else both are in conflict).
    virtual bool claim(class DeviceRunner& runner, unsigned device) = 0;
    // Sends to the runner's connection; the count taken, -1 when it is gone.
    virtual int send(int connection, const std::uint8_t* bytes, std::size_t count) = 0;
    // Closes the runner's connection (a device that does not answer).
    virtual void hangUp(int connection) = 0;
};

class DeviceRunner : private SessionObserver {
  public:
    DeviceRunner(RunnerHost& host, int connection, std::string address, std::string peer);
    ~DeviceRunner() override;
    DeviceRunner(const DeviceRunner&) = delete;
    DeviceRunner& operator=(const DeviceRunner&) = delete;

    enum class Phase {
        Announcing,  // the announcement has not reached the session yet
        Identifying, // "CONFR" with one password after another
        Reading,     // the rest of the identification read, or a job's first read
        Idle,        // identified, no job
        Writing,     // a job's write
        Verifying,   // a job's read back
        Unknown,     // no password opened it: nothing is sent
        Conflict,    // another connection has its number: no job
        Silent,      // it stopped answering; the connection is closed
    };

    // One read of the device, as the announcement rule passes it on.
    void received(const std::string& bytes);
    // Looks at the session and takes the next step.
    void advance();
    // Once a second (and whenever another process changed the register):
    // an idle device looks for its next job.
    void lookForJob();
    // The connection is gone: a job under way goes back to retry.
    void connectionLost(const std::string& why);
    // Another connection took this number: no job from now on.
    void enterConflict();

    int connection() const { return connection_; }
    const std::string& peer() const { return peer_; }
    Phase phase() const { return phase_; }
    // The device number, once a password opened the device.
    std::optional<unsigned> device() const { return device_; }
    // A job's exchange (or the identification) is under way: a stop waits for it.
    bool busy() const;
    std::int64_t jobId() const { return job_ ? job_->id : 0; }
    DeviceSession& session() { return session_; }

  private:
    void event(const SessionEvent& event) override;

    void tryNextPassword();
    void deviceOpened(const frames::ConfigBlockBytes& block);
    void readComplete();
    // Keeps a complete read in the register and as a backup .fcd.
    void keepSnapshot(const DeviceContents& contents, const std::string& source);
    void startJob(const Job& job);
    void planAndWrite(const DeviceContents& current);
    void auditWrite();
    void writeEnded();
    void verifyEnded(DeviceContents readBack);
    void startRead();
    void jobFailed(const std::string& why);
    void finishJob();
    void superviseWait();
    DeviceContents contentsRead() const;
    std::string tag() const;
    void report(FleetEvent::Kind kind, std::string message);

    RunnerHost& host_;
    int connection_;
    std::string address_; // the host, as the register remembers passwords by
    std::string peer_;    // host and port
    MemoryNumberGrid grid_;
    DeviceSession session_;
    Phase phase_ = Phase::Announcing;

    std::vector<std::uint16_t> candidates_; // passwords still to try, in order
    std::optional<std::uint16_t> password_; // the one that opened the device
    int tried_ = 0;                         // passwords tried so far
    std::optional<unsigned> device_;
    bool conflict_ = false;
    std::vector<std::int64_t> triedHere_; // jobs that failed on this connection
    // The block and the list (block_, grid_) are those of the last complete
    // read, and nothing was written since.
    bool fresh_ = false;

    std::optional<Job> job_;
    // A job's write: what it writes and what the device held before, as .fcd.
    std::string target_;
    std::string before_;

    // What the session said since the step began.
    std::optional<frames::ConfigBlockBytes> block_;
    bool readComplete_ = false;
    bool wrongPassword_ = false;
    bool noAnswer_ = false;
    std::optional<int> readCut_;
    bool configWritten_ = false; // the device answered "CONFW"
    bool audited_ = false;       // the job's changes are in the audit log
    bool written_ = false;
    std::optional<std::string> writeRefused_;
};

} // namespace fleet
