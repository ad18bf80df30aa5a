#include "cli/progress.h"

#include "cli/console.h"

#include <algorithm>

namespace {

constexpr int kWidth = 30;

} // namespace

ProgressBar::ProgressBar(std::string label, int total, int fd)
    : label_(std::move(label)), total_(std::max(total, 1)), fd_(fd),
      active_(console::isTerminal(fd)) {}

ProgressBar::~ProgressBar() {
    if (active_ && shown_ >= 0) {
        console::write(fd_, "\n");
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
    console::write(fd_, line);
}
