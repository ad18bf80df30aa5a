// The parts of whole-file reading and the safe save that are the same on
// every platform: the reasons of the errors, the names of the temporary
// files. The system calls are in file_io_posix.cpp or file_io_win.cpp.
#include "files/file_io.h"

#include "files/file_io_detail.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace file_io {

namespace detail {

std::function<void(std::size_t)>& chunkHook() {
    static std::function<void(std::size_t)> hook;
    return hook;
}

bool fail(FileError* error, int code, std::string reason) {
    if (error != nullptr) {
        error->code = code;
        error->reason = reason.empty() ? reasonText(code) : std::move(reason);
    }
    return false;
}

// A decimal number as this program writes it: digits without a leading zero.
std::optional<unsigned long> plainDecimal(std::string_view digits) {
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits.front() == '0')) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value;
}

} // namespace detail

std::optional<pid_t> leftoverPid(std::string_view name) {
    // "." base ".tmp-" pid "-" counter, the base not empty.
    constexpr std::string_view kMark = ".tmp-";
    const auto mark = name.rfind(kMark);
    if (name.size() < 2 || name.front() != '.' || mark == std::string_view::npos || mark < 2) {
        return std::nullopt;
    }
    const std::string_view tail = name.substr(mark + kMark.size());
    const auto dash = tail.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const auto pid = detail::plainDecimal(tail.substr(0, dash));
    const auto counter = detail::plainDecimal(tail.substr(dash + 1));
    if (!pid || !counter || *pid == 0 || *pid > static_cast<unsigned long>(INT_MAX) ||
        *counter > UINT_MAX) {
        return std::nullopt;
    }
    return static_cast<pid_t>(*pid);
}

std::string reasonText(int code) {
    switch (code) {
    case ENOENT:
        return "файл или папка не найдены";
    case EACCES:
    case EPERM:
        return "нет доступа";
    case EROFS:
        return "диск только для чтения";
    case EISDIR:
        return "это папка, а не файл";
    case ENOTDIR:
        return "в пути есть имя, которое не является папкой";
    case ENOSPC:
#ifdef EDQUOT // Windows has no quotas in errno
    case EDQUOT:
#endif
        return "на диске нет места";
    case ENAMETOOLONG:
        return "слишком длинное имя";
    case EFBIG:
        return "файл слишком большой";
    case EIO:
        return "ошибка ввода-вывода";
    default:
        return std::strerror(code);
    }
}

void setWriteChunkHook(std::function<void(std::size_t)> hook) {
    detail::chunkHook() = std::move(hook);
}

} // namespace file_io
