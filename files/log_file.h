// The log box saved as a text file for a support request: one line per log
// line, each headed by the local time at which it appeared.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace log_file {

struct Line {
    std::chrono::system_clock::time_point time;
    std::string text; // UTF-8, without a line break
};

// "2026-12-09 13:09:01.123  text\n" for each line, in local time, UTF-8.
std::string format(const std::vector<Line>& lines);

// The proposed file name for a log saved at `time`: "vxrt7-log-20261209-130901.txt".
std::string suggestedName(std::chrono::system_clock::time_point time);

} // namespace log_file
