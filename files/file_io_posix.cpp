// Whole-file reading and the safe save on Linux: open, fsync, rename, and
// the folder's own fsync.
#include "files/file_io.h"

#include "files/backups.h"
#include "files/file_io_detail.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace file_io {

using detail::chunkHook;
using detail::fail;

namespace {

constexpr std::size_t kChunk = 64 * 1024;

// Folders whose files other machines write too: a process number in a name
// there may be another machine's, so its files are never taken for ours.
bool isSharedOverNetwork(int dirFd) {
    struct statfs fs {};
    if (::fstatfs(dirFd, &fs) != 0) {
        return true; // unknown: leave everything as it is
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x5346414FUL: // AFS
    case 0x00C36400UL: // Ceph
    case 0x01021997UL: // 9P (shares of virtual machines)
        return true;
    default:
        return false;
    }
}

// Removes from `dir` what saves killed before their rename left there.
void removeLeftovers(const std::string& dir) {
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return;
    }
    if (isSharedOverNetwork(dirFd)) {
        ::close(dirFd);
        return;
    }
    DIR* listing = ::fdopendir(dirFd); // owns dirFd from here on
    if (listing == nullptr) {
        ::close(dirFd);
        return;
    }
    const uid_t me = ::geteuid();
    while (const dirent* entry = ::readdir(listing)) {
        const auto pid = leftoverPid(entry->d_name);
        if (!pid || ::kill(*pid, 0) == 0 || errno != ESRCH) {
            continue; // not ours, or its process is still there (EPERM: someone else's)
        }
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == me) {
            ::unlinkat(dirFd, entry->d_name, 0);
        }
    }
    ::closedir(listing);
}

} // namespace

std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxSize,
                                         FileError* error) {
    // O_NONBLOCK: a pipe with no writer must not hang the window.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        fail(error, errno);
        return std::nullopt;
    }
    if (error != nullptr) {
        error->opened = true;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        fail(error, err);
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode) || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(error, S_ISDIR(st.st_mode) ? EISDIR : EINVAL,
             S_ISDIR(st.st_mode) ? "" : "это не обычный файл");
        return std::nullopt;
    }
    if (static_cast<std::size_t>(st.st_size) > maxSize) {
        ::close(fd);
        fail(error, EFBIG);
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[kChunk];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            ::close(fd);
            fail(error, err);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > maxSize) { // the file grew while it was read
            ::close(fd);
            fail(error, EFBIG);
            return std::nullopt;
        }
    }
    ::close(fd);
    return bytes;
}

std::optional<std::string> writeTemporary(const std::string& dir, const std::string& base,
                                          std::string_view bytes, const mode_t* mode,
                                          FileError* error) {
    removeLeftovers(dir);

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        // The name leftoverPid() recognises: keep the two in step.
        temp = childPath(dir, "." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
                                  std::to_string(counter++));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            fail(error, errno);
            return std::nullopt;
        }
    }
    if (fd < 0) {
        fail(error, EEXIST);
        return std::nullopt;
    }
    auto abandon = [&](int code) -> std::optional<std::string> {
        ::close(fd);
        ::unlink(temp.c_str());
        fail(error, code);
        return std::nullopt;
    };
    if (mode != nullptr) {
        ::fchmod(fd, *mode & 07777);
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const std::size_t want = std::min(kChunk, bytes.size() - written);
        const ssize_t n = ::write(fd, bytes.data() + written, want);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return abandon(errno);
        }
        written += static_cast<std::size_t>(n);
        if (chunkHook()) {
            chunkHook()(written);
        }
    }
    if (::fsync(fd) != 0) {
        return abandon(errno);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        fail(error, err);
        return std::nullopt;
    }
    return temp;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, FileError* error) {
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return fail(error, EISDIR);
    }
    const auto slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) {
        return fail(error, EISDIR);
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    const auto temp = writeTemporary(dir, base, bytes, exists ? &st.st_mode : nullptr, error);
    if (!temp) {
        return false;
    }
    if (::rename(temp->c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp->c_str());
        return fail(error, err);
    }
    // Make the rename itself durable; a failure here loses nothing on disk.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

int publishNew(const std::string& temp, const std::string& path) {
    if (::link(temp.c_str(), path.c_str()) != 0) {
        return errno;
    }
    ::unlink(temp.c_str());
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

std::string childPath(const std::string& dir, const std::string& name) {
    return dir + (!dir.empty() && dir.back() == '/' ? "" : "/") + name;
}

void removeFile(const std::string& path) {
    ::unlink(path.c_str());
}

void restrictToOwner(const std::string& dir) {
    ::chmod(dir.c_str(), 0700);
}

std::tm localTime(std::time_t t) {
    std::tm local{};
    ::localtime_r(&t, &local);
    return local;
}

} // namespace file_io

std::string backups::folder() {
    return folderFor(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}
