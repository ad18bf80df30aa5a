// Who holds a port and why this user may not open it, from /proc and the
// device node.
#include "comm/port.h"

#include "comm/port_holders.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

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

} // namespace

// Why this user may not open the device and what to do about it. Joining a
// group helps only when that group may read and write the device.
std::string detail::permissionAdvice(const std::string& devicePath) {
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

namespace {

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

// The pair number of a pseudo-terminal slave (UNIX 98 majors 136 to 143),
// or -1 for any other device.
long ptySlaveIndex(const struct stat& node) {
    const unsigned major = ::major(node.st_rdev);
    return major >= 136 && major <= 143
               ? static_cast<long>((major - 136) * 256 + ::minor(node.st_rdev))
               : -1;
}

bool isPtyMaster(const char* link) {
    return std::strcmp(link, "/dev/ptmx") == 0 || std::strcmp(link, "/dev/pts/ptmx") == 0;
}

// The pair a master descriptor of a process belongs to, from its fdinfo
// ("tty-index:\t7"); -2 when the system does not say (then it may be any).
long masterIndex(int proc, const char* pid, const char* fd) {
    char path[64];
    std::snprintf(path, sizeof path, "%s/fdinfo/%s", pid, fd);
    const int info = ::openat(proc, path, O_RDONLY | O_CLOEXEC);
    if (info < 0) {
        return -1;
    }
    char text[512];
    const ssize_t n = ::read(info, text, sizeof text - 1);
    ::close(info);
    if (n <= 0) {
        return -1;
    }
    text[n] = '\0';
    const char* at = std::strstr(text, "tty-index:");
    return at != nullptr ? std::strtol(at + 10, nullptr, 10) : -2;
}

// A device looked for, and the process found holding it.
struct Wanted {
    bool lookFor = false; // a character device that is there
    struct stat node {};
    std::string target; // the name /proc shows for a descriptor of it
    long ptyIndex = -1; // the pair, for the slave of a pseudo-terminal
    long pid = 0;       // the holder found
    std::string holder;

    bool open() const { return lookFor && pid == 0; }
};

// Looks through the descriptors of one process (its folder under proc) and
// makes it the holder of every wanted device it has open, except where it
// is the other end of the pseudo-terminal.
void lookAt(int proc, const std::string& procDir, long pid, std::vector<Wanted>& wanted) {
    const std::string name = std::to_string(pid);
    const int fds = ::openat(proc, (name + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fds < 0) {
        return; // another user's process, or gone
    }
    DIR* dir = ::fdopendir(fds);
    if (dir == nullptr) {
        ::close(fds);
        return;
    }
    std::vector<std::size_t> held;
    std::vector<std::string> masters; // descriptors of pseudo-terminal masters
    while (const dirent* fd = ::readdir(dir)) {
        if (fd->d_name[0] == '.') {
            continue;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlinkat(fds, fd->d_name, link, sizeof link - 1);
        if (n <= 0) {
            continue;
        }
        link[n] = '\0';
        if (isPtyMaster(link)) {
            masters.emplace_back(fd->d_name);
            continue;
        }
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            const Wanted& w = wanted[i];
            if (!w.open() || static_cast<std::size_t>(n) != w.target.size() ||
                w.target.compare(link) != 0) {
                continue;
            }
            // The same name can be another node (another instance of
            // /dev/pts, another mount namespace): the inode decides.
            struct stat st {};
            if (::fstatat(fds, fd->d_name, &st, 0) == 0 && st.st_dev == w.node.st_dev &&
                st.st_ino == w.node.st_ino) {
                held.push_back(i);
            }
        }
    }
    ::closedir(dir);
    if (held.empty()) {
        return;
    }
    std::vector<long> pairs;
    for (const std::string& fd : masters) {
        pairs.push_back(masterIndex(proc, name.c_str(), fd.c_str()));
    }
    for (const std::size_t i : held) {
        Wanted& w = wanted[i];
        const bool otherEnd =
            w.ptyIndex >= 0 && std::any_of(pairs.begin(), pairs.end(), [&](long pair) {
                return pair == w.ptyIndex || pair == -2;
            });
        if (!otherEnd && w.open()) {
            w.pid = pid;
            w.holder = processName(procDir, name);
        }
    }
}

// The process last found holding a device is looked at first: a port that
// stays busy is tried again every second, by the same holder.
std::atomic<long> lastHolderPid{0};

} // namespace

std::vector<std::string> otherHolders(const std::vector<std::string>& devicePaths,
                                      const std::string& procDir) {
    std::vector<Wanted> wanted(devicePaths.size());
    for (std::size_t i = 0; i < devicePaths.size(); ++i) {
        Wanted& w = wanted[i];
        w.lookFor = !devicePaths[i].empty() && ::stat(devicePaths[i].c_str(), &w.node) == 0 &&
                    S_ISCHR(w.node.st_mode);
        if (w.lookFor) {
            w.target = resolved(devicePaths[i]);
            w.ptyIndex = ptySlaveIndex(w.node);
        }
    }
    const auto anyOpen = [&] {
        return std::any_of(wanted.begin(), wanted.end(), [](const Wanted& w) { return w.open(); });
    };
    DIR* dir = anyOpen() ? ::opendir(procDir.c_str()) : nullptr;
    if (dir != nullptr) {
        const int proc = ::dirfd(dir);
        const long self = static_cast<long>(::getpid());
        const long first = lastHolderPid.load();
        if (first > 0 && first != self) {
            lookAt(proc, procDir, first, wanted);
        }
        while (anyOpen()) {
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                break;
            }
            const char* name = entry->d_name;
            if (name[0] < '1' || name[0] > '9' ||
                std::strspn(name, "0123456789") != std::strlen(name)) {
                continue;
            }
            const long pid = std::strtol(name, nullptr, 10);
            if (pid != self && pid != first) {
                lookAt(proc, procDir, pid, wanted);
            }
        }
        ::closedir(dir);
    }
    std::vector<std::string> holders;
    for (Wanted& w : wanted) {
        if (w.pid != 0) {
            lastHolderPid = w.pid;
        }
        holders.push_back(std::move(w.holder));
    }
    return holders;
}

std::string otherHolder(const std::string& devicePath, const std::string& procDir) {
    return otherHolders({devicePath}, procDir).front();
}

std::string portHolder(const std::string& devicePath, const std::string& procDir) {
    // The lock holder first: others (a simulator, a monitor) may merely
    // have the device open.
    if (const std::string pid = lockHolder(resolved(devicePath), procDir);
        !pid.empty() && pid != std::to_string(::getpid())) {
        return processName(procDir, pid);
    }
    return otherHolder(devicePath, procDir);
}

} // namespace comm
