// The fleet's register: the devices a server has met, what was read from
// them, the jobs queued for them and what was written to them, in one SQLite
// file (by default $XDG_DATA_HOME/vxrt7-config/fleet.sqlite).
//
// The file is shared: the server and any number of `vxrt7-cli fleet ...`
// commands open it at once (WAL journal, a busy time-out of 5 s). Every state
// change is one transaction, so a process killed at any moment leaves either
// the state before the change or the state after it. A job queued or
// cancelled is on the disk when the call returns, so that not even a power
// cut loses it; the server's changes are not waited for on the disk (a power
// cut may lose the last of them, never corrupts the file: a job that goes
// back to running is retried). Times are given by the
// caller, in milliseconds since the epoch. One FleetRegister belongs to one
// thread.
//
// Failures of SQLite after the file is open (a full disk, a lock held past
// the time-out) throw RegisterError with a Russian message; nothing of the
// change that failed is kept.
#pragma once

#include "fleet/job_plan.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace fleet {

using Millis = std::int64_t; // milliseconds since the epoch

// A job is run at most this many times; a failure before the last try puts
// it back to retry.
inline constexpr int kMaxTries = 5;

// The schema version this program writes; a file with a higher one comes
// from a newer program and is refused.
inline constexpr int kSchemaVersion = 3;

class RegisterError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class JobState {
    Pending,   // queued, never started
    Running,   // started by a server, not finished
    Done,      // written and verified (or nothing to write)
    Failed,    // refused, or failed on its last try
    Retry,     // failed before its last try (a drop, a difference): run again from the start
    Cancelled, // cancelled before it ran to its end (`fleet cancel`)
};

// "pending", "running", "done", "failed", "retry", "cancelled".
const char* stateName(JobState state);

struct Job {
    std::int64_t id = 0;
    unsigned device = 0; // device number
    JobRequest request;
    JobState state = JobState::Pending;
    int tries = 0;
    std::string error; // the last error (or a note of a job done without a write)
    Millis created = 0;
    Millis started = 0;  // 0: never started
    Millis finished = 0; // 0: not finished
};

struct Device {
    unsigned number = 0;
    std::optional<std::uint16_t> password; // the one that last opened it
    std::string label;
    Millis lastSeen = 0;
    std::string address;         // "host:port" it last connected from
    std::string firmwareVersion; // as the device names itself
    bool conflict = false;       // two connections with this number at once
    int numbers = 0;             // entries in its latest snapshot
    int pending = 0;             // jobs pending, running or in retry
};

// An address from which connections came that no password opened.
struct UnknownDevice {
    std::string address;
    Millis firstSeen = 0;
    Millis lastSeen = 0;
    int attempts = 0; // connections from it that no password opened
};

struct Snapshot {
    std::int64_t id = 0;
    unsigned device = 0;
    Millis taken = 0;
    std::string source; // e.g. "serve", "job 12"
    DeviceContents contents;
    std::string backupPath; // the backup .fcd kept beside it ("" when none)
};

struct AuditEntry {
    std::int64_t id = 0;
    unsigned device = 0;
    std::int64_t job = 0; // 0: no job
    Millis when = 0;
    std::string change; // Russian, one change per line
};

// A device holding a number, by its latest snapshot.
struct NumberHolder {
    unsigned device = 0;
    int row = 0; // 1..650
    std::string apartment;
};

struct History {
    std::vector<Snapshot> snapshots; // oldest first, without their contents' rows
    std::vector<Job> jobs;           // oldest first
    std::vector<AuditEntry> audit;   // oldest first
};

class FleetRegister {
  public:
    // The default file for the given environment values (either may be
    // null), as backups::folderFor finds the data folder; "" without HOME.
    static std::string defaultPathFor(const char* xdgDataHome, const char* home);
    static std::string defaultPath();

    // Opens (creating it and its folders when missing) and migrates the
    // register. On failure returns null and sets `error` to the Russian
    // sentence naming the file: not an SQLite file, a schema newer than this
    // program, no access.
    static std::unique_ptr<FleetRegister> open(const std::string& path, std::string* error);

    ~FleetRegister();
    FleetRegister(const FleetRegister&) = delete;
    FleetRegister& operator=(const FleetRegister&) = delete;

    const std::string& path() const { return path_; }

    // ---- identification ----
    // The password that last opened a device from `address`, if any.
    std::optional<std::uint16_t> lastPasswordFrom(const std::string& address);
    // Every password the register holds (of all devices, and of earlier
    // addresses), each once, the most recently used first.
    std::vector<std::uint16_t> knownPasswords();
    // A device opened: creates or updates it (last seen, address, password,
    // firmware version: an empty one keeps the version known) and remembers
    // the password for the address.
    void deviceSeen(unsigned number, const std::string& address, std::uint16_t password,
                    const std::string& firmwareVersion, Millis when);
    // A connection that no password opened (counted per address).
    void unknownDevice(const std::string& address, Millis when);
    // The addresses no password opened, the latest first; an address from
    // which a device was opened since is left out.
    std::vector<UnknownDevice> unknownDevices();
    // Sets or clears the conflict of a device number (creating the device
    // when the register does not know it yet).
    void setConflict(unsigned number, bool conflict, Millis when);

    // ---- snapshots ----
    // Keeps a complete read of a device, and the same read as a backup .fcd
    // in `backupDir` (backups::save; "" keeps no file). Returns the
    // snapshot's id. A backup that cannot be written does not stop the
    // snapshot: `backupError`, when given, receives why. A read that found
    // what the device's latest snapshot holds keeps no second copy, and
    // names the backup of the first while that file is still there.
    std::int64_t addSnapshot(unsigned device, const DeviceContents& contents, Millis when,
                             const std::string& source, const std::string& backupDir,
                             std::string* backupError = nullptr);
    std::optional<Snapshot> latestSnapshot(unsigned device);

    // ---- jobs ----
    // Queues one job per device, all in one transaction. Returns their ids.
    std::vector<std::int64_t> queue(const std::vector<unsigned>& devices, const JobRequest& request,
                                    Millis when);
    // The next job of a device: pending or retry, oldest first.
    std::optional<Job> nextJob(unsigned device);
    std::optional<Job> job(std::int64_t id);
    // pending/retry -> running, tries + 1, started := when. False when the
    // job is not pending or retry any more (cancelled meanwhile).
    bool jobStarted(std::int64_t id, Millis when);
    // running -> done; `note` (may be empty) is kept as its text.
    void jobDone(std::int64_t id, Millis when, const std::string& note = {});
    // running -> retry while tries < kMaxTries, else failed; `error` kept.
    // Returns the state the job got.
    JobState jobFailed(std::int64_t id, const std::string& error, Millis when);
    // running -> failed at once (the plan refused it: trying again changes
    // nothing).
    void jobRefused(std::int64_t id, const std::string& reason, Millis when);
    // At the server's start: every job left running goes to retry (or, when
    // that was its last try, to failed). Returns how many did. One server
    // serves a register: a second one starting would take back the first
    // one's running jobs.
    int recoverRunningJobs(Millis when);
    // pending/retry -> cancelled. False when the job does not exist or is
    // running or finished (`why` says which, in Russian).
    bool cancel(std::int64_t id, Millis when, std::string* why);
    std::vector<Job> jobs();

    // ---- audit ----
    // One line per change written to a device, with the job that wrote it.
    void audit(unsigned device, std::int64_t job, const std::vector<std::string>& changes,
               Millis when);

    // ---- listings ----
    std::vector<Device> devices();
    std::optional<Device> device(unsigned number);
    std::vector<NumberHolder> find(const std::string& number);
    History history(unsigned device);

    // A number that changes whenever another connection (a `fleet` command,
    // another server) has committed a change: a server calls it every tick
    // and looks for new jobs when it moved. Cheap (PRAGMA data_version).
    std::int64_t externalChanges();

  private:
    FleetRegister(std::string path, sqlite3* db);
    sqlite3* db_;
    std::string path_;
};

} // namespace fleet
