#include "comm/port.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace comm {

namespace {

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

std::string groupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid)) {
        return g->gr_name;
    }
    return std::to_string(gid);
}

std::string userName(uid_t uid) {
    if (const passwd* p = ::getpwuid(uid)) {
        return p->pw_name;
    }
    return std::to_string(uid);
}

// "600 (rw-------)"
std::string modeText(mode_t mode) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%03o", static_cast<unsigned>(mode & 0777));
    std::string bits = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        if ((mode & (0400u >> i)) == 0) {
            bits[static_cast<std::size_t>(i)] = '-';
        }
    }
    return std::string(octal) + " (" + bits + ")";
}

// Why this user may not open the device and what to do about it. Joining a
// group helps only when that group may read and write the device.
std::string permissionAdvice(const std::string& devicePath) {
    const std::string cause = "Нет доступа к порту " + devicePath + ": ";
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0) {
        return cause + "нет прав на его открытие";
    }
    if ((st.st_mode & S_IRGRP) != 0 && (st.st_mode & S_IWGRP) != 0) {
        const std::string group = groupName(st.st_gid);
        return cause + "он принадлежит группе " + group + ". Добавьте пользователя в группу " +
               group + " (sudo usermod -aG " + group + " $USER) и войдите в систему заново";
    }
    return cause + "права " + modeText(st.st_mode) + ", владелец " + userName(st.st_uid) +
           ", группа " + groupName(st.st_gid) +
           ": читать и писать в него может только владелец. Разрешите доступ: sudo chmod a+rw " +
           devicePath + " (до переподключения устройства; насовсем: правилом udev с MODE=\"0666\")";
}

// The process that holds a lock on the device (from <procDir>/locks), or empty.
std::string lockHolder(const std::string& devicePath, const std::string& procDir) {
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0) {
        return {};
    }
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%lu", ::major(st.st_dev), ::minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks(procDir + "/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:4 0 EOF"
        std::istringstream fields(line);
        std::string id, kind, mode, access, pid, file;
        if (fields >> id >> kind >> mode >> access >> pid >> file && file == wanted) {
            return pid;
        }
    }
    return {};
}

std::string processName(const std::string& procDir, const std::string& pid) {
    std::string name;
    std::ifstream(procDir + "/" + pid + "/comm") >> name;
    return (name.empty() ? std::string("?") : name) + " (pid " + pid + ")";
}

} // namespace

std::string portHolder(const std::string& devicePath, const std::string& procDir) {
    // The lock holder first: others (a simulator, a monitor) may merely
    // have the device open.
    if (const std::string pid = lockHolder(resolved(devicePath), procDir);
        !pid.empty() && pid != std::to_string(::getpid())) {
        return processName(procDir, pid);
    }
    const std::string target = resolved(devicePath);
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir(procDir.c_str());
    if (proc == nullptr) {
        return {};
    }
    std::string found;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos ||
            pid == self) {
            continue;
        }
        const std::string fdDir = procDir + "/" + pid + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (fds == nullptr) {
            continue; // another user's process, or gone
        }
        while (const dirent* fd = ::readdir(fds)) {
            char link[PATH_MAX];
            const std::string path = fdDir + "/" + fd->d_name;
            const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
            if (n > 0 && std::string(link, static_cast<std::size_t>(n)) == target) {
                found = processName(procDir, pid);
                break;
            }
        }
        ::closedir(fds);
        if (!found.empty()) {
            break;
        }
    }
    ::closedir(proc);
    return found;
}

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
        return "not_found";
    case OpenError::NoPermission:
        return "no_permission";
    case OpenError::Busy:
        return "busy";
    case OpenError::Gone:
        return "gone";
    case OpenError::NotSerial:
        return "not_serial";
    case OpenError::LineSettingsRefused:
        return "line_settings_refused";
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
        return {"Порт " + portName + ": нет доступа", permissionAdvice(devicePath)};
    case OpenError::Busy: {
        const std::string holder = portHolder(devicePath, procDir);
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
