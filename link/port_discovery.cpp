#include "link/port_discovery.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A free port: it opens, no one holds its lock and it is not in exclusive mode.
bool canOpenExclusively(const std::string& path, bool needsUart) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = ::isatty(fd) == 1;
    if (ok && needsUart) {
        serial_struct info{};
        ok = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    }
    if (ok) {
        int exclusive = 0;
        if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
            ok = false;
        }
    }
    if (ok) {
        ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (ok) {
            ::flock(fd, LOCK_UN);
        }
    }
    ::close(fd);
    return ok;
}

std::pair<std::string, long> splitName(const std::string& name) {
    std::size_t end = name.size();
    while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1]))) {
        --end;
    }
    long number = -1;
    if (end < name.size() && name.size() - end < 10) {
        number = std::stol(name.substr(end));
    }
    return {name.substr(0, end), number};
}

} // namespace

bool portNameLess(const std::string& a, const std::string& b) {
    const auto [pa, na] = splitName(a);
    const auto [pb, nb] = splitName(b);
    if (pa != pb) {
        return pa < pb;
    }
    if (na != nb) {
        return na < nb;
    }
    return a < b;
}

std::vector<std::string> Find_Ports(const std::string& sysClassTty, const std::string& devDir) {
    std::vector<std::string> ports;
    std::error_code ec;
    fs::directory_iterator it(sysClassTty, ec);
    if (ec) {
        return ports;
    }
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        // Virtual terminals and pseudo-terminals have no device behind them.
        std::error_code linkEc;
        if (!fs::exists(entry.path() / "device", linkEc)) {
            continue;
        }
        const bool onBoard = name.rfind("ttyS", 0) == 0;
        if (canOpenExclusively(devDir + "/" + name, onBoard)) {
            ports.push_back(name);
        }
    }
    std::sort(ports.begin(), ports.end(), portNameLess);
    return ports;
}
