// The simulator's serial side: a pseudo-terminal pair whose slave the
// configurator opens as its serial port. The simulator keeps a descriptor of
// the slave open itself, so that the configurator closing and reopening the
// port never makes the master see a hang-up.
#pragma once

#include "sim/stream_loop.h"

#include <string>

namespace sim {

class PtyTransport {
  public:
    // Opens the pair in raw mode; with a non-empty linkPath also makes the
    // symbolic link linkPath -> slave (a stale link there is replaced; any
    // other file there is left alone and the open fails). Throws
    // std::runtime_error with the reason.
    explicit PtyTransport(std::string linkPath = {});
    // Closes the pair and removes the link if it still points at this slave.
    ~PtyTransport();
    PtyTransport(const PtyTransport&) = delete;
    PtyTransport& operator=(const PtyTransport&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    const std::string& linkPath() const { return linkPath_; }

    // Pumps bytes between the master and the device until `stop` is raised.
    // Returns false with `error` set when the master fails.
    bool run(const StreamHandlers& handlers, const Pacing& pacing, const StopSignal& stop,
             std::string* error);

    // Removes the link now (also done by the destructor); idempotent.
    void removeLink();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

} // namespace sim
