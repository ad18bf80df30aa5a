// The backup folder: one configuration file for every complete read of a
// device, kept so that nothing that was on a device is lost when it is
// overwritten. The folder is $XDG_DATA_HOME/vxrt7-config/backups (by
// default ~/.local/share/vxrt7-config/backups), on Windows
// %LOCALAPPDATA%\vxrt7-config\backups.
#pragma once

#include "files/file_io.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace backups {

// The folder for the given environment values (either may be null). An
// XDG_DATA_HOME that is empty or not an absolute path is ignored, as the
// XDG rules say; without HOME there is no folder (empty result).
std::string folderFor(const char* xdgDataHome, const char* home);
// The folder for this process's environment; on Windows
// %LOCALAPPDATA%\vxrt7-config\backups (file_io_posix.cpp, file_io_win.cpp).
std::string folder();

// The file name of a backup of device `deviceNumber` read at `when` (local
// time): "device-<number>_<YYYY-MM-DD_HH-MM-SS>.fcd".
std::string fileName(unsigned deviceNumber, std::chrono::system_clock::time_point when);

// Stores `bytes` as a new backup in `dir` (created when missing, for the
// user alone) and returns its path. An existing backup is never replaced: a
// second read within the same second gets "-2", "-3"... before ".fcd". The
// file appears complete or not at all: it is written and flushed under a
// temporary name first and then linked to its own name, which fails rather
// than replace a file.
std::optional<std::string> save(std::string_view bytes, unsigned deviceNumber,
                                std::chrono::system_clock::time_point when, const std::string& dir,
                                file_io::FileError* error);

} // namespace backups
