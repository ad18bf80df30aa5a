// The words about ports that every platform shares: the order of port
// names and the names of a port's state.
#include "comm/port_names.h"
#include "comm/port_state.h"

#include <cctype>
#include <string>
#include <utility>

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

const char* accessText(PortAccess access) {
    switch (access) {
    case PortAccess::Free:
        return "свободен";
    case PortAccess::Busy:
        return "занят";
    case PortAccess::NoPermission:
        return "нет доступа";
    case PortAccess::Missing:
        return "нет устройства";
    case PortAccess::NotSerial:
        break;
    }
    return "не последовательный порт";
}

const char* accessKey(PortAccess access) {
    switch (access) {
    case PortAccess::Free:
        return "free";
    case PortAccess::Busy:
        return "busy";
    case PortAccess::NoPermission:
        return "no-permission";
    case PortAccess::Missing:
        return "missing";
    case PortAccess::NotSerial:
        break;
    }
    return "not-serial";
}
