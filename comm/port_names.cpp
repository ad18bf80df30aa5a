#include "comm/port_names.h"

#include <cctype>
#include <utility>

std::string devicePathForPort(const std::string& portName) {
    if (portName.empty()) {
        return {};
    }
    if (portName.front() == '/') {
        return portName;
    }
    if (portName.size() > 3 && std::toupper(static_cast<unsigned char>(portName[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(portName[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(portName[2])) == 'M') {
        const std::string digits = portName.substr(3);
        bool allDigits = digits.size() <= 4;
        for (char c : digits) {
            allDigits = allDigits && std::isdigit(static_cast<unsigned char>(c));
        }
        if (allDigits) {
            const int n = std::stoi(digits);
            if (n >= 1) {
                return std::string(kDevicePrefix) + "ttyS" + std::to_string(n - 1);
            }
        }
    }
    return std::string(kDevicePrefix) + portName;
}

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
