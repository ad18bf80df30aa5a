#include "sim/trace_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace sim {

TraceFile::TraceFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        throw std::runtime_error(path + ": " + std::strerror(errno));
    }
}

TraceFile::~TraceFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

TraceFile::TraceFile(TraceFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

TraceFile& TraceFile::operator=(TraceFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

bool TraceFile::append(std::string_view bytes) {
    while (!bytes.empty()) {
        // Unbuffered: the bytes are in the file when write returns.
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace sim
