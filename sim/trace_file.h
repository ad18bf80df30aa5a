// A raw byte record of one direction of the line: every byte is appended to
// the file as soon as it passes, so that a test can read the file while the
// simulator runs.
#pragma once

#include <string>
#include <string_view>

namespace sim {

class TraceFile {
  public:
    TraceFile() = default;
    // Opens `path` for appending (created when missing). Throws
    // std::runtime_error with the reason.
    explicit TraceFile(const std::string& path);
    ~TraceFile();
    TraceFile(TraceFile&& other) noexcept;
    TraceFile& operator=(TraceFile&& other) noexcept;
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // Appends the bytes. Returns false (with errno left set) when the file
    // cannot take them; the caller decides whether to complain.
    bool append(std::string_view bytes);

  private:
    int fd_ = -1;
    std::string path_;
};

} // namespace sim
