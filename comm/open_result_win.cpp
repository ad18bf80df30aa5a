// Who holds a port and why this user may not open it, on Windows: the
// system does not say which program has a COM port open, so a busy port is
// "busy with another program".
#include "comm/port.h"

#include "comm/port_holders.h"

namespace comm {

std::string detail::permissionAdvice(const std::string& devicePath) {
    return "Нет доступа к порту " + devicePath +
           ": Windows не разрешает этому пользователю открыть его. Запустите программу от "
           "имени пользователя, которому разрешён доступ к порту, или попросите администратора";
}

std::string portHolder(const std::string&, const std::string&) {
    return {};
}

std::string otherHolder(const std::string&, const std::string&) {
    return {};
}

std::vector<std::string> otherHolders(const std::vector<std::string>& devicePaths,
                                      const std::string&) {
    return std::vector<std::string>(devicePaths.size());
}

} // namespace comm
