#include "cli/progress.h"

#include <algorithm>
#include <unistd.h>

namespace {

constexpr int kWidth = 30;

void writeAll(int fd, const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n <= 0) {
            return; // a closed terminal: nothing to draw on
        }
        at += static_cast<std::size_t>(n);
    }
}

} // namespace

ProgressBar::ProgressBar(std::string label, int total, int fd)
    : label_(std::move(label)), total_(std::max(total, 1)), fd_(fd), active_(::isatty(fd) == 1) {}

ProgressBar::~ProgressBar() {
    if (active_ && shown_ >= 0) {
        writeAll(fd_, "\n");
    }
}

void ProgressBar::update(int done) {
    done = std::clamp(done, 0, total_);
    if (!active_ || done == shown_) {
        return;
    }
    shown_ = done;
    const int filled = done * kWidth / total_;
    std::string line = "\r" + label_ + " [";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kWidth - filled), '-');
    line += "] " + std::to_string(done) + " из " + std::to_string(total_);
    writeAll(fd_, line);
}
