#include "comm/port_names.h"

#include <cctype>

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
