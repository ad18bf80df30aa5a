#include "comm/port.h"

#include "comm/port_holders.h"

#include <cerrno>
#include <string>

namespace comm {

OpenResult OpenResult::fromErrno(int code, const std::string& device) {
    OpenResult r;
    r.code = code;
    r.device = device;
    switch (code) {
    case 0:
        r.error = OpenError::None;
        break;
    case ENOENT:
        r.error = OpenError::NotFound;
        break;
    case EACCES:
    case EPERM:
        r.error = OpenError::NoPermission;
        break;
    case EWOULDBLOCK:
    case EBUSY:
        r.error = OpenError::Busy;
        break;
    case ENXIO:
    case ENODEV:
    case EIO:
        r.error = OpenError::Gone;
        break;
    case ENOTTY:
    case EISDIR: // a folder given as the port
        r.error = OpenError::NotSerial;
        break;
    default:
        r.error = OpenError::Failed;
        break;
    }
    return r;
}

const char* openErrorName(OpenError error) {
    switch (error) {
    case OpenError::None:
        return "";
    case OpenError::NotFound:
        return "missing";
    case OpenError::NoPermission:
        return "no-permission";
    case OpenError::Busy:
        return "busy";
    case OpenError::Gone:
        return "gone";
    case OpenError::NotSerial:
        return "not-serial";
    case OpenError::LineSettingsRefused:
        return "line-settings-refused";
    case OpenError::Failed:
        break;
    }
    return "failed";
}

OpenFailureText describeOpenFailure(const OpenResult& result, const std::string& portName,
                                    const std::string& procDir) {
    const std::string& devicePath = result.device;
    const std::string busy = "Порт " + portName + " занят";
    const std::string notOpen = "Порт " + portName + " не открыт: ";
    switch (result.error) {
    case OpenError::None:
        return {"Порт " + portName + " открыт", ""};
    case OpenError::NoPermission:
        return {"Порт " + portName + ": нет доступа", detail::permissionAdvice(devicePath)};
    case OpenError::Busy: {
        const std::string holder =
            result.holder.empty() ? portHolder(devicePath, procDir) : result.holder;
        return {busy,
                holder.empty() ? busy + " другой программой" : busy + " программой " + holder};
    }
    case OpenError::NotFound:
        return {busy, notOpen + "устройство " + devicePath + " не найдено"};
    case OpenError::Gone:
        return {busy, notOpen + "устройство " + devicePath + " отключено (ошибка " +
                          std::to_string(result.code) + ")"};
    case OpenError::NotSerial:
        return {busy, notOpen + devicePath +
                          (result.code == EISDIR ? " является папкой, а не последовательным портом"
                                                 : " не является последовательным портом")};
    case OpenError::LineSettingsRefused:
        return {busy, notOpen + "устройство " + devicePath +
                          " не приняло настройки линии (ошибка " + std::to_string(result.code) +
                          ")"};
    case OpenError::Failed:
        break;
    }
    return {busy, notOpen + "ошибка " + std::to_string(result.code)};
}

} // namespace comm
