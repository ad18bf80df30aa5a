#include "files/log_file.h"

#include "files/file_io.h"

#include <cstdio>
#include <ctime>

namespace log_file {

namespace {

std::tm localParts(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    return file_io::localTime(seconds);
}

} // namespace

std::string format(const std::vector<Line>& lines) {
    std::string out;
    for (const Line& line : lines) {
        const std::tm t = localParts(line.time);
        // to_time_t truncates towards zero; the milliseconds are what is left.
        const auto sinceEpoch = line.time.time_since_epoch();
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(
                sinceEpoch - std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch))
                .count();
        char stamp[96];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d  ", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                      static_cast<int>(millis));
        out += stamp;
        out += line.text;
        out += '\n';
    }
    return out;
}

std::string suggestedName(std::chrono::system_clock::time_point time) {
    const std::tm t = localParts(time);
    char name[96];
    std::snprintf(name, sizeof name, "vxrt7-log-%04d%02d%02d-%02d%02d%02d.txt", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return name;
}

} // namespace log_file
