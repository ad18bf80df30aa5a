#include "files/backups.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace backups {

namespace {

bool fail(file_io::FileError* error, int code) {
    if (error != nullptr) {
        error->code = code;
        error->reason = file_io::reasonText(code);
    }
    return false;
}

} // namespace

std::string folderFor(const char* xdgDataHome, const char* home) {
    std::string base;
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/') {
        base = xdgDataHome;
    } else if (home != nullptr && home[0] != '\0') {
        base = std::string(home) + "/.local/share";
    } else {
        return {};
    }
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return base + "/vxrt7-config/backups";
}

std::string fileName(unsigned deviceNumber, std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    const std::tm local = file_io::localTime(t);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M-%S", &local);
    return "device-" + std::to_string(deviceNumber) + "_" + stamp + ".fcd";
}

std::optional<std::string> save(std::string_view bytes, unsigned deviceNumber,
                                std::chrono::system_clock::time_point when, const std::string& dir,
                                file_io::FileError* error) {
    if (dir.empty()) {
        fail(error, ENOENT);
        return std::nullopt;
    }
    std::error_code ec;
    // The path is UTF-8 (on Windows too, where a plain string would be
    // taken in the ANSI code page).
    if (std::filesystem::create_directories(std::u8string(dir.begin(), dir.end()), ec)) {
        // Only the user reads what was on the devices (passwords and numbers).
        file_io::restrictToOwner(dir);
    }
    if (ec) {
        fail(error, ec.value());
        return std::nullopt;
    }
    const std::string name = fileName(deviceNumber, when);
    // A backup killed before its link leaves the temporary file, which the
    // next save into the folder removes. Only the user may read it.
    constexpr mode_t kOwnerOnly = 0600;
    const auto written = file_io::writeTemporary(dir, name, bytes, &kOwnerOnly, error);
    if (!written) {
        return std::nullopt;
    }
    const std::string& temp = *written;
    const std::string stem = name.substr(0, name.size() - 4);
    for (int copy = 1; copy < 1000; ++copy) {
        const std::string path =
            file_io::childPath(dir, copy == 1 ? name : stem + "-" + std::to_string(copy) + ".fcd");
        const int code = file_io::publishNew(temp, path);
        if (code == 0) {
            return path;
        }
        if (code != EEXIST) {
            file_io::removeFile(temp);
            fail(error, code);
            return std::nullopt;
        }
    }
    file_io::removeFile(temp);
    fail(error, EEXIST);
    return std::nullopt;
}

} // namespace backups
