// The serial ports of a Windows machine: the names the system lists under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, then every COM1 to
// COM256 that an exclusive test open finds, each with its state; and the
// device name of a port ("COM5" -> "\\.\COM5").
#include "comm/port.h"
#include "comm/port_discovery.h"
#include "comm/port_names.h"
#include "comm/port_state.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <set>
// After the component's headers (tcomm_win.cpp says why).
#include <windows.h>

namespace {

constexpr int kHighestComNumber = 256;

// The names under SERIALCOMM ("COM3"), as the drivers announce them.
std::vector<std::string> registeredPorts() {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return names;
    }
    for (DWORD i = 0;; ++i) {
        char valueName[256];
        DWORD valueNameSize = sizeof valueName;
        BYTE data[256];
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        const LONG rc =
            ::RegEnumValueA(key, i, valueName, &valueNameSize, nullptr, &type, data, &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        data[dataSize] = 0;
        std::string name(reinterpret_cast<const char*>(data));
        while (!name.empty() && name.back() == '\0') {
            name.pop_back();
        }
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    ::RegCloseKey(key);
    return names;
}

// What an exclusive open of the device shows.
PortAccess probeLine(const std::string& devicePath) {
    HANDLE h = ::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        switch (::GetLastError()) {
        case ERROR_ACCESS_DENIED: // another program has it open
        case ERROR_SHARING_VIOLATION:
            return PortAccess::Busy;
        case ERROR_PRIVILEGE_NOT_HELD:
            return PortAccess::NoPermission;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
            return PortAccess::Missing;
        default:
            return PortAccess::NotSerial;
        }
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool serial = ::GetFileType(h) == FILE_TYPE_CHAR && ::GetCommState(h, &dcb);
    ::CloseHandle(h);
    return serial ? PortAccess::Free : PortAccess::NotSerial;
}

// Every port there is: the registered ones and COM1 to COM256 that exist,
// in the port order, each with its state.
std::vector<std::pair<std::string, PortAccess>> allPorts() {
    std::set<std::string> seen;
    std::vector<std::pair<std::string, PortAccess>> ports;
    auto consider = [&](const std::string& name, bool registered) {
        std::string upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (!seen.insert(upper).second) {
            return;
        }
        const PortAccess access = probeLine(devicePathForPort(name));
        if (access != PortAccess::Missing || registered) {
            ports.emplace_back(name, access);
        }
    };
    for (const std::string& name : registeredPorts()) {
        consider(name, true);
    }
    for (int n = 1; n <= kHighestComNumber; ++n) {
        consider("COM" + std::to_string(n), false);
    }
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return portNameLess(a.first, b.first); });
    return ports;
}

} // namespace

std::string devicePathForPort(const std::string& portName) {
    if (portName.empty() || portName.rfind("\\\\", 0) == 0) {
        return portName;
    }
    return "\\\\.\\" + portName;
}

std::vector<std::string> Find_Ports(const std::string&, const std::string&) {
    std::vector<std::string> free;
    for (const auto& [name, access] : allPorts()) {
        if (access == PortAccess::Free) {
            free.push_back(name);
        }
    }
    return free;
}

std::vector<PortProbe> probePorts(const std::vector<std::pair<std::string, bool>>& ports,
                                  const std::string&) {
    std::vector<PortProbe> probes;
    for (const auto& entry : ports) {
        probes.push_back({probeLine(entry.first), {}});
    }
    return probes;
}

std::vector<PortStatus> describePorts(const std::string&, const std::string&, const std::string&,
                                      const std::string&) {
    std::vector<PortStatus> ports;
    for (const auto& [name, access] : allPorts()) {
        if (access == PortAccess::NotSerial) {
            continue;
        }
        PortStatus port;
        port.name = name;
        port.path = name; // what the user types: "COM5"
        port.access = access;
        if (access == PortAccess::NoPermission) {
            port.fix =
                comm::describeOpenFailure(comm::OpenResult::fromErrno(EACCES, port.path), port.name)
                    .log;
        }
        ports.push_back(std::move(port));
    }
    return ports;
}
