#include "comm/port_discovery.h"

#include "comm/port_state.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

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
