// Whole-file reading and the safe save on Windows: the wide file interface
// (paths are UTF-8 in the program), FlushFileBuffers and MoveFileEx; and the
// backup folder under %LOCALAPPDATA%.
#include "files/backups.h"
#include "files/file_io.h"
#include "files/file_io_detail.h"
#include "files/wide_text_win.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <windows.h>

namespace wide_text {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& utf16) {
    if (utf16.empty()) {
        return {};
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                          nullptr, nullptr);
    return out;
}

int errnoOf(unsigned long windowsError) {
    switch (windowsError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    default:
        return EIO;
    }
}

} // namespace wide_text

namespace file_io {

using detail::chunkHook;
using detail::fail;
using wide_text::errnoOf;
using wide_text::widen;

namespace {

constexpr std::size_t kChunk = 64 * 1024;

bool isFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

// Removes from `dir` what saves killed before their rename left there,
// unless the folder is on another machine (whose process numbers are not
// ours).
void removeLeftovers(const std::string& dir) {
    wchar_t full[MAX_PATH];
    wchar_t root[MAX_PATH];
    if (::GetFullPathNameW(widen(dir).c_str(), MAX_PATH, full, nullptr) == 0 ||
        !::GetVolumePathNameW(full, root, MAX_PATH) || ::GetDriveTypeW(root) == DRIVE_REMOTE) {
        return;
    }
    WIN32_FIND_DATAW entry{};
    HANDLE listing = ::FindFirstFileW(widen(childPath(dir, ".*.tmp-*")).c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::string name = wide_text::narrow(entry.cFileName);
        const auto pid = leftoverPid(name);
        if (!pid || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            continue;
        }
        HANDLE process =
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(*pid));
        if (process != nullptr) {
            DWORD code = 0;
            const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
            ::CloseHandle(process);
            if (running) {
                continue;
            }
        } else if (::GetLastError() != ERROR_INVALID_PARAMETER) {
            continue; // there, but not ours to look at
        }
        ::DeleteFileW(widen(childPath(dir, name)).c_str());
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
}

} // namespace

std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxSize,
                                         FileError* error) {
    const std::wstring wide = widen(path);
    if (isFolder(wide)) {
        fail(error, EISDIR);
        return std::nullopt;
    }
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fail(error, errnoOf(::GetLastError()));
        return std::nullopt;
    }
    if (error != nullptr) {
        error->opened = true;
    }
    auto refuse = [&](int code, std::string reason = {}) -> std::optional<std::string> {
        ::CloseHandle(h);
        fail(error, code, std::move(reason));
        return std::nullopt;
    };
    LARGE_INTEGER size{};
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        return refuse(EINVAL, "это не обычный файл");
    }
    if (!::GetFileSizeEx(h, &size)) {
        return refuse(errnoOf(::GetLastError()));
    }
    if (static_cast<unsigned long long>(size.QuadPart) > maxSize) {
        return refuse(EFBIG);
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    std::string buffer(kChunk, '\0');
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) {
            return refuse(errnoOf(::GetLastError()));
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer.data(), n);
        if (bytes.size() > maxSize) { // the file grew while it was read
            return refuse(EFBIG);
        }
    }
    ::CloseHandle(h);
    return bytes;
}

std::optional<std::string> writeTemporary(const std::string& dir, const std::string& base,
                                          std::string_view bytes, const mode_t*, FileError* error) {
    // Windows has no mode bits: the ACL of the folder decides who reads.
    removeLeftovers(dir);

    static std::atomic<unsigned> counter{0};
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        // The name leftoverPid() recognises: keep the two in step.
        temp = dir + (dir.back() == '/' || dir.back() == '\\' ? "" : "\\") + "." + base + ".tmp-" +
               std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
        h = ::CreateFileW(widen(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) {
            fail(error, errnoOf(::GetLastError()));
            return std::nullopt;
        }
    }
    if (h == INVALID_HANDLE_VALUE) {
        fail(error, EEXIST);
        return std::nullopt;
    }
    auto abandon = [&](int code) -> std::optional<std::string> {
        ::CloseHandle(h);
        ::DeleteFileW(widen(temp).c_str());
        fail(error, code);
        return std::nullopt;
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        const DWORD want = static_cast<DWORD>(std::min(kChunk, bytes.size() - written));
        DWORD n = 0;
        if (!::WriteFile(h, bytes.data() + written, want, &n, nullptr)) {
            return abandon(errnoOf(::GetLastError()));
        }
        written += n;
        if (chunkHook()) {
            chunkHook()(written);
        }
    }
    if (!::FlushFileBuffers(h)) {
        return abandon(errnoOf(::GetLastError()));
    }
    ::CloseHandle(h);
    return temp;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, FileError* error) {
    if (isFolder(widen(path))) {
        return fail(error, EISDIR);
    }
    const auto slash = path.find_last_of("/\\");
    const std::string dir = folderOf(path);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) {
        return fail(error, EISDIR);
    }
    const auto temp = writeTemporary(dir, base, bytes, nullptr, error);
    if (!temp) {
        return false;
    }
    if (!::MoveFileExW(widen(*temp).c_str(), widen(path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const int err = errnoOf(::GetLastError());
        ::DeleteFileW(widen(*temp).c_str());
        return fail(error, err);
    }
    return true;
}

int publishNew(const std::string& temp, const std::string& path) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails rather than replace.
    if (!::MoveFileExW(widen(temp).c_str(), widen(path).c_str(), MOVEFILE_WRITE_THROUGH)) {
        return errnoOf(::GetLastError());
    }
    return 0;
}

std::string childPath(const std::string& dir, const std::string& name) {
    return dir + (!dir.empty() && (dir.back() == '/' || dir.back() == '\\') ? "" : "\\") + name;
}

void removeFile(const std::string& path) {
    ::DeleteFileW(widen(path).c_str());
}

void restrictToOwner(const std::string&) {}

std::tm localTime(std::time_t t) {
    std::tm local{};
    ::localtime_s(&local, &t);
    return local;
}

} // namespace file_io

std::string backups::folder() {
    const wchar_t* base = ::_wgetenv(L"LOCALAPPDATA");
    if (base == nullptr || base[0] == L'\0') {
        return {};
    }
    return wide_text::narrow(base) + "\\vxrt7-config\\backups";
}
