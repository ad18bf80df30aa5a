// One device of a device command: its own session and number list, driven
// through the steps of the command (link, read, write, read back, firmware)
// by what the session reports. The jobs of a batch share one event loop and
// know nothing of each other, so one device failing never holds up another.
#pragma once

#include "cli/event_loop.h"
#include "files/config_diff.h"
#include "files/config_file.h"
#include "files/number_grid.h"
#include "session/device_session.h"

#include <chrono>
#include <optional>
#include <string>

namespace cli {

struct JobRequest {
    enum class Kind { Info, Read, Write, Diff, Flash };
    Kind kind = Kind::Info;
    std::string port;
    std::string password = "1234"; // the factory password, as the window starts with
    bool fast = false;
    // write: every cell as the design's write sends them, instead of the
    // cells that differ from the device's list read for the write.
    bool full = false;
    const config_file::Decoded* file = nullptr; // write, diff
    std::string imagePath;                      // flash: an image that passed the check
    std::size_t imageBlocks = 0;
};

struct JobResult {
    int code = -1; // -1 while the job runs; then an ExitCode
    std::string message;
    std::string deviceName;
    int firmwareVersion = -1;
    std::string backup;                       // the backup of what the device held
    std::optional<config_file::Decoded> read; // what a read brought (the last read)
    std::optional<config_diff::Result> diff;  // diff: the device against the file
    int numbers = 0;                          // numbers read or written
    int cellsWritten = -1;                    // write: "RT+NTF" commands the device confirmed
    std::string portError;                    // why the port did not open (comm::openErrorName)
};

class DeviceJob : private SessionObserver {
  public:
    DeviceJob(EventLoop& loop, JobRequest request);
    ~DeviceJob() override;

    // Opens the port and greets the device.
    void start();
    // Looks at the session after every event and takes the next step; a
    // wait that nothing supervises gets the reply watchdog.
    void advance();
    bool finished() const { return result_.code >= 0; }
    const JobResult& result() const { return result_; }
    const JobRequest& request() const { return request_; }
    EventLoop& loop() { return loop_; }
    // For the progress bar: numbers (or image blocks) done in this job.
    int progress();
    // The time by which the step under way must be over; the event loop
    // wakes up for it even when nothing else happens.
    std::chrono::steady_clock::time_point deadline() const { return deadline_; }
    // For tests that drive the session's ticks themselves.
    DeviceSession& session() { return session_; }

  private:
    enum class Phase { Linking, Reading, Writing, Verifying, Restarting, Programming, Done };

    // SessionObserver: the job learns what happened from the events alone.
    void event(const SessionEvent& event) override;

    void step();
    void superviseWait();

    void linked();
    void startRead(const std::string& password);
    void readEnded();
    // The configuration and the numbers: every cell, or the changed ones.
    void startWrite(bool full);
    void finish(int code, std::string message);
    // A failure in the middle of a step: which step, what the device holds
    // now and where the backup is.
    void failStep(const std::string& step, const std::string& why);
    std::string whereBackupIs() const;
    // Why the device stopped: what the session said, or `otherwise`.
    std::string stopped(const std::string& otherwise) const;
    // The file's block as it is written: with the device's password.
    frames::ConfigBlockBytes writtenBlock() const;
    bool timedOut() const { return std::chrono::steady_clock::now() > deadline_; }
    void allow(std::chrono::seconds s) { deadline_ = std::chrono::steady_clock::now() + s; }

    EventLoop& loop_;
    JobRequest request_;
    JobResult result_;
    MemoryNumberGrid grid_;
    DeviceSession session_;
    Phase phase_ = Phase::Linking;
    std::chrono::steady_clock::time_point deadline_;
    // What the session said last that a failure names: a box, a lost link.
    std::string lastMessage_;
    std::optional<frames::ConfigBlockBytes> block_;
    int shown_ = 0; // the progress last shown
    std::optional<events::Linked> linked_;
    bool bootloaderReady_ = false;
    std::optional<std::string> backupFailed_;
    bool readComplete_ = false;
    std::optional<int> readCutRows_; // the number read was cut with this many rows
    bool wrongPassword_ = false;
    bool portGone_ = false; // the port went away or failed
    bool noAnswer_ = false;
    bool numbersWritten_ = false;
    // The cells a write of the changes sent, once its read back differed and
    // the whole list went after it.
    std::optional<int> changedCells_;
    std::optional<std::string> writeRefused_;
    bool programmed_ = false;
};

// The message of a port that cannot be opened, from the session's typed
// result of the open: the cause (not found, no permission and the group to
// join, held by which program), else the short status.
std::string portFailure(const std::string& port, const comm::OpenResult& open);

} // namespace cli
