#include "comm/port_state.h"

#include "comm/port.h"
#include "comm/port_names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

// An on-board port whose UART type the system shows as unknown (0) has no
// UART behind it; the file is readable to every user, the port may not be.
bool sysfsSaysNoUart(const fs::path& sysEntry) {
    std::ifstream type(sysEntry / "type");
    int value = -1;
    return type >> value && value == 0;
}

// What opening the port shows: all but another program that merely has it open.
PortAccess probeLine(const std::string& devicePath, bool needsUart) {
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EACCES:
        case EPERM:
            return PortAccess::NoPermission;
        case EBUSY: // exclusive mode refuses every open but root's
            return PortAccess::Busy;
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return PortAccess::Missing;
        default:
            return PortAccess::NotSerial;
        }
    }
    PortAccess access = PortAccess::Free;
    if (::isatty(fd) != 1) {
        access = PortAccess::NotSerial;
    } else if (serial_struct info{};
               needsUart && (::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type == PORT_UNKNOWN)) {
        access = PortAccess::NotSerial;
    } else if (int exclusive = 0; ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        access = PortAccess::Busy;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        access = PortAccess::Busy;
    } else {
        ::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return access;
}

} // namespace

std::vector<PortProbe> probePorts(const std::vector<std::pair<std::string, bool>>& ports,
                                  const std::string& procDir) {
    std::vector<PortProbe> probes;
    std::vector<std::string> free;
    for (const auto& [path, needsUart] : ports) {
        probes.push_back({probeLine(path, needsUart), {}});
        if (probes.back().access == PortAccess::Free) {
            free.push_back(path);
        }
    }
    // A program that keeps the port open without a lock holds it all the
    // same: the port's own open refuses it too.
    const std::vector<std::string> holders = comm::otherHolders(free, procDir);
    std::size_t next = 0;
    for (PortProbe& probe : probes) {
        if (probe.access == PortAccess::Free) {
            probe.holder = holders[next++];
            if (!probe.holder.empty()) {
                probe.access = PortAccess::Busy;
            }
        }
    }
    return probes;
}

std::vector<PortStatus> describePorts(const std::string& sysClassTty, const std::string& devDir,
                                      const std::string& byIdDir, const std::string& procDir) {
    std::vector<PortStatus> ports;
    std::vector<std::pair<std::string, bool>> candidates; // (path, needs a UART)
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysClassTty, ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code linkEc;
        if (!fs::exists(entry.path() / "device", linkEc)) {
            continue; // virtual terminals and pseudo-terminals
        }
        const bool onBoard = name.rfind("ttyS", 0) == 0;
        if (onBoard && sysfsSaysNoUart(entry.path())) {
            continue;
        }
        PortStatus port;
        port.name = name;
        port.path = devDir + "/" + name;
        candidates.emplace_back(port.path, onBoard);
        ports.push_back(std::move(port));
    }
    const std::vector<PortProbe> probes = probePorts(candidates, procDir);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        PortStatus& port = ports[i];
        port.access = probes[i].access;
        if (port.access == PortAccess::Busy) {
            port.holder =
                probes[i].holder.empty() ? comm::portHolder(port.path, procDir) : probes[i].holder;
        } else if (port.access == PortAccess::NoPermission) {
            port.fix = comm::describeOpenFailure(comm::OpenResult::fromErrno(EACCES, port.path),
                                                 port.name, procDir)
                           .log;
        }
    }
    ports.erase(
        std::remove_if(ports.begin(), ports.end(),
                       [](const PortStatus& p) { return p.access == PortAccess::NotSerial; }),
        ports.end());
    std::sort(ports.begin(), ports.end(), [](const PortStatus& a, const PortStatus& b) {
        return portNameLess(a.name, b.name);
    });

    // The stable names udev makes for USB adapters lead to the same device.
    std::vector<std::pair<std::string, std::string>> byIds; // (target, name)
    for (const auto& entry : fs::directory_iterator(byIdDir, ec)) {
        byIds.emplace_back(resolved(entry.path().string()), entry.path().filename().string());
    }
    std::sort(byIds.begin(), byIds.end());
    for (PortStatus& port : ports) {
        const std::string target = resolved(port.path);
        for (const auto& [to, name] : byIds) {
            if (!target.empty() && to == target) {
                port.byIds.push_back(byIdDir + "/" + name);
            }
        }
    }
    return ports;
}
