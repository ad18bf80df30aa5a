#include "fleet/register_writer.h"

#include <utility>

namespace fleet {

bool RegisterWriter::start(const std::string& path, std::string* error) {
    for (int i = 0; i < kThreads; ++i) {
        auto lane = std::make_unique<Lane>();
        lane->reg = FleetRegister::open(path, error);
        if (!lane->reg) {
            return false;
        }
        lanes_.push_back(std::move(lane));
    }
    for (const auto& lane : lanes_) {
        Lane& l = *lane;
        l.thread = std::thread([this, &l] { serve(l); });
    }
    return true;
}

RegisterWriter::~RegisterWriter() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    for (const auto& lane : lanes_) {
        if (lane->thread.joinable()) {
            lane->thread.join();
        }
    }
}

void RegisterWriter::write(unsigned device, Write write) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        lanes_.at(device % lanes_.size())->queue.push_back(std::move(write));
    }
    changed_.notify_all();
}

void RegisterWriter::flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
        for (const auto& lane : lanes_) {
            if (!lane->queue.empty() || lane->busy) {
                return false;
            }
        }
        return true;
    });
}

std::vector<std::string> RegisterWriter::takeProblems() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(problems_, {});
}

void RegisterWriter::serve(Lane& lane) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !lane.queue.empty() || ending_; });
        if (lane.queue.empty()) {
            return; // ending, and every write of the lane is done
        }
        Write next = std::move(lane.queue.front());
        lane.queue.pop_front();
        lane.busy = true;
        lock.unlock();
        std::vector<std::string> problems;
        try {
            next(*lane.reg, problems);
        } catch (const std::exception& e) {
            problems.push_back(std::string("Реестр: ") + e.what());
        }
        lock.lock();
        lane.busy = false;
        problems_.insert(problems_.end(), problems.begin(), problems.end());
        changed_.notify_all();
    }
}

} // namespace fleet
