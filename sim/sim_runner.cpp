#include "sim/sim_runner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace sim {

SimRunner::SimRunner() : SimRunner(Options{}) {}

SimRunner::SimRunner(Options options)
    : options_(std::move(options)),
      device_(options_.state, options_.tcp ? Carrier::Tcp : Carrier::Serial) {
    device_.faults() = options_.faults;
    device_.setSayAfterLink(options_.sayAfterLink, options_.sayDelay);
}

SimRunner::~SimRunner() {
    stop();
}

void SimRunner::start() {
    if (thread_.joinable()) {
        throw std::runtime_error("the simulator is already running");
    }
    auto stop = std::make_unique<StopSignal>();
    auto wakeup = std::make_unique<Wakeup>();
    TraceFile traceIn = options_.traceIn.empty() ? TraceFile() : TraceFile(options_.traceIn);
    TraceFile traceOut = options_.traceOut.empty() ? TraceFile() : TraceFile(options_.traceOut);
    std::unique_ptr<PtyTransport> pty;
    if (!options_.tcp) {
        pty = std::make_unique<PtyTransport>(options_.linkPath);
    }

    stop_ = std::move(stop);
    wakeup_ = std::move(wakeup);
    traceIn_ = std::move(traceIn);
    traceOut_ = std::move(traceOut);
    traceInBroken_ = traceOutBroken_ = false;
    pty_ = std::move(pty);
    slavePath_ = pty_ ? pty_->slavePath() : std::string();
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        failure_.clear();
    }
    thread_ = std::thread([this] { serve(); });
}

void SimRunner::record(std::string_view bytes, bool in) {
    // The trace is written before the device sees the bytes, so that a reply
    // the client has read is always preceded by its command on disk.
    TraceFile& trace = in ? traceIn_ : traceOut_;
    bool& broken = in ? traceInBroken_ : traceOutBroken_;
    if (trace.isOpen() && !trace.append(bytes) && !broken) {
        broken = true;
        std::fprintf(stderr, "vxrt7-sim: cannot write %s: %s\n", trace.path().c_str(),
                     std::strerror(errno));
    }
    std::lock_guard lock(mutex_);
    if (options_.keepRecord) {
        if (in) {
            received_.append(bytes);
        } else {
            sent_.append(bytes);
            sentWrites_.emplace_back(bytes);
        }
    }
    changed_.notify_all();
}

StreamHandlers SimRunner::handlers() {
    StreamHandlers h;
    h.feed = [this](std::string_view bytes) {
        std::lock_guard lock(mutex_);
        return device_.feed(bytes);
    };
    h.received = [this](std::string_view bytes) { record(bytes, true); };
    h.sent = [this](std::string_view bytes) { record(bytes, false); };
    h.unsolicited = [this] {
        std::lock_guard lock(mutex_);
        return device_.takeUnsolicited();
    };
    h.wakeup = wakeup_.get();
    h.period = [this] {
        std::lock_guard lock(mutex_);
        return device_.promptPeriod();
    };
    h.periodic = [this] {
        std::lock_guard lock(mutex_);
        return device_.prompt();
    };
    h.closing = [this] {
        std::lock_guard lock(mutex_);
        return device_.closeRequested();
    };
    return h;
}

void SimRunner::serve() {
    const StreamHandlers h = handlers();
    std::string error;
    const bool ok = pty_ ? pty_->run(h, options_.pacing, *stop_, &error) : serveTcp(h, &error);
    std::lock_guard lock(mutex_);
    running_ = false;
    if (!ok) {
        failure_ = error.empty() ? "the line failed" : error;
    }
    changed_.notify_all();
}

// Connects, serves the connection, and (with retry) connects again when it
// ends. True when stopped or when the configurator ended the link; false
// with `error` when the server could not be reached or the socket failed.
bool SimRunner::serveTcp(const StreamHandlers& h, std::string* error) {
    auto pause = [&] {
        // True when stopped during the pause.
        pollfd p{stop_->fd(), POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(options_.retry.count())) > 0;
    };
    const bool retry = options_.retry.count() > 0;
    for (;;) {
        std::string why;
        const int fd = connectTcp(*options_.tcp, *stop_, std::chrono::seconds(5), &why);
        if (stop_->requested()) {
            if (fd >= 0) {
                ::close(fd);
            }
            return true;
        }
        if (fd < 0) {
            if (!retry) {
                *error = why;
                return false;
            }
            if (pause()) {
                return true;
            }
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            device_.linkOpened();
            ++connections_;
            changed_.notify_all();
        }
        const StreamEnd end = runStream(fd, h, options_.pacing, *stop_, &why);
        ::close(fd);
        {
            std::lock_guard lock(mutex_);
            device_.linkClosed();
        }
        if (end == StreamEnd::Stopped) {
            return true;
        }
        if (!retry) {
            if (end == StreamEnd::Failed) {
                *error = why;
                return false;
            }
            return true; // the configurator closed the link, or asked to
        }
        if (pause()) {
            return true;
        }
    }
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
    wakeup_.reset();
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

bool SimRunner::waitEnded(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return !running_; });
}

int SimRunner::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool SimRunner::waitConnections(int n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return connections_ >= n; });
}

void SimRunner::say(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        device_.say(text);
    }
    if (wakeup_) {
        wakeup_->notify();
    }
}

DeviceState SimRunner::snapshot() const {
    std::lock_guard lock(mutex_);
    return device_.state();
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
