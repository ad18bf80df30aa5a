#include "comm/port_discovery.h"

#include "comm/port_state.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

std::vector<std::string> Find_Ports(const std::string& sysClassTty, const std::string& devDir) {
    std::vector<std::string> ports;
    std::error_code ec;
    fs::directory_iterator it(sysClassTty, ec);
    if (ec) {
        return ports;
    }
    std::vector<std::string> names;
    std::vector<std::pair<std::string, bool>> candidates; // (path, needs a UART)
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        // Virtual terminals and pseudo-terminals have no device behind them.
        std::error_code linkEc;
        if (!fs::exists(entry.path() / "device", linkEc)) {
            continue;
        }
        names.push_back(name);
        candidates.emplace_back(devDir + "/" + name, name.rfind("ttyS", 0) == 0);
    }
    // A free port: it opens, no one holds its lock or has it open, and it is
    // not in exclusive mode.
    const std::vector<PortProbe> probes = probePorts(candidates);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (probes[i].access == PortAccess::Free) {
            ports.push_back(names[i]);
        }
    }
    std::sort(ports.begin(), ports.end(), portNameLess);
    return ports;
}
