// Small helpers of the simulator tests: the client side of the line as a raw
// terminal descriptor, and files the simulator writes.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace simtest {

using namespace std::chrono_literals;

// The device's greeting for a firmware version.
inline std::string greeting(unsigned char version) {
    std::string g = "VELIRAN ";
    g.push_back(static_cast<char>(version));
    g.push_back('#');
    return g;
}

// The slave side opened as the configurator would: raw, no controlling tty.
class RawTty {
  public:
    explicit RawTty(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~RawTty() { close(); }
    RawTty(const RawTty&) = delete;
    RawTty& operator=(const RawTty&) = delete;

    bool ok() const { return fd_ >= 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    bool write(std::string_view bytes) {
        while (!bytes.empty()) {
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

    // Reads until `count` bytes have come or `timeout` has passed; returns
    // what came.
    std::string read(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buffer[512];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                break;
            }
        }
        return got;
    }

    // Whatever arrives within `quiet` (used to show that nothing more comes).
    std::string readFor(std::chrono::milliseconds quiet) { return read(1 << 20, quiet); }

  private:
    int fd_ = -1;
    int error_ = 0;
};

inline std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits until the file holds at least `size` bytes (the simulator writes its
// trace as bytes arrive); a synchronisation point, not a speed check.
inline bool waitFileSize(const std::string& path, std::size_t size,
                         std::chrono::milliseconds timeout = 5s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) >= size) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
}

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/vxrt7-simtest-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ec);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

} // namespace simtest
