#include "sim/sim_runner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace sim {

SimRunner::SimRunner() : SimRunner(Options{}) {}

SimRunner::SimRunner(Options options) : options_(std::move(options)), device_(options_.state) {
    device_.faults() = options_.faults;
}

SimRunner::~SimRunner() {
    stop();
}

void SimRunner::start() {
    if (thread_.joinable()) {
        throw std::runtime_error("the simulator is already running");
    }
    auto stop = std::make_unique<StopSignal>();
    TraceFile traceIn = options_.traceIn.empty() ? TraceFile() : TraceFile(options_.traceIn);
    TraceFile traceOut = options_.traceOut.empty() ? TraceFile() : TraceFile(options_.traceOut);
    auto pty = std::make_unique<PtyTransport>(options_.linkPath);

    stop_ = std::move(stop);
    traceIn_ = std::move(traceIn);
    traceOut_ = std::move(traceOut);
    pty_ = std::move(pty);
    slavePath_ = pty_->slavePath();
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        failure_.clear();
    }
    thread_ = std::thread([this] { serve(); });
}

void SimRunner::serve() {
    bool traceInBroken = false;
    bool traceOutBroken = false;
    StreamHandlers handlers;
    handlers.feed = [this](std::string_view bytes) {
        std::lock_guard lock(mutex_);
        return device_.feed(bytes);
    };
    handlers.received = [&](std::string_view bytes) {
        // The trace is written before the device sees the bytes, so that a
        // reply the client has read is always preceded by its command on disk.
        if (traceIn_.isOpen() && !traceIn_.append(bytes) && !traceInBroken) {
            traceInBroken = true;
            std::fprintf(stderr, "vxrt7-sim: cannot write %s: %s\n", traceIn_.path().c_str(),
                         std::strerror(errno));
        }
        std::lock_guard lock(mutex_);
        if (options_.keepRecord) {
            received_.append(bytes);
        }
        changed_.notify_all();
    };
    handlers.sent = [&](std::string_view bytes) {
        if (traceOut_.isOpen() && !traceOut_.append(bytes) && !traceOutBroken) {
            traceOutBroken = true;
            std::fprintf(stderr, "vxrt7-sim: cannot write %s: %s\n", traceOut_.path().c_str(),
                         std::strerror(errno));
        }
        std::lock_guard lock(mutex_);
        if (options_.keepRecord) {
            sent_.append(bytes);
            sentWrites_.emplace_back(bytes);
        }
        changed_.notify_all();
    };
    std::string error;
    const bool ok = pty_->run(handlers, options_.pacing, *stop_, &error);
    std::lock_guard lock(mutex_);
    running_ = false;
    if (!ok) {
        failure_ = error.empty() ? "the terminal failed" : error;
    }
    changed_.notify_all();
}

void SimRunner::stop() {
    if (stop_) {
        stop_->request();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    pty_.reset(); // closes the pair and removes the link
    traceIn_ = TraceFile();
    traceOut_ = TraceFile();
    stop_.reset();
    std::lock_guard lock(mutex_);
    running_ = false;
    failure_.clear();
}

bool SimRunner::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::string SimRunner::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

std::string SimRunner::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::string SimRunner::sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::vector<std::string> SimRunner::sentWrites() const {
    std::lock_guard lock(mutex_);
    return sentWrites_;
}

void SimRunner::clearRecord() {
    std::lock_guard lock(mutex_);
    received_.clear();
    sent_.clear();
    sentWrites_.clear();
}

bool SimRunner::waitForReceived(std::size_t bytes, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= bytes; });
}

bool SimRunner::waitForSent(std::size_t bytes, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return sent_.size() >= bytes; });
}

} // namespace sim
