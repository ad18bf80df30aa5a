// Whole-file reading and the safe replacement of a file, shared by the
// configuration files, the CSV import and export, and the settings file.
// Messages are in Russian and name the file and the reason.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace file_io {

struct FileError {
    int code = 0;        // errno of the failure
    std::string reason;  // Russian: why, without the file name ("нет доступа")
    bool opened = false; // a read: the file was open, what it is or holds failed
};

// The Russian reason for an errno, for the errors a user meets with files.
std::string reasonText(int code);

// Reads a regular file whole. A folder, a device or a pipe is refused rather
// than waited on; so is a file larger than `maxSize`.
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxSize,
                                         FileError* error);

// Replaces `path` with `bytes` so that the old file is never lost to a failed
// or interrupted save: the bytes go to a new file in the same folder, which
// is flushed to disk and then renamed over the old one. On any failure the
// new file is removed, the old one is left as it was, and false is returned
// with the reason. A symbolic link stays one (the file it points to is
// replaced); a replaced file keeps its permissions.
[[nodiscard]] bool writeFileAtomically(const std::string& path, std::string_view bytes,
                                       FileError* error);

// Writes `bytes` to a new file ".<base>.tmp-<pid>-<n>" in `dir`, flushed to
// disk, with the permission bits `mode` when given; returns its path. On a
// failure nothing is left behind. The safe replacement renames it over the
// file; the backups link it to a name no other file has.
std::optional<std::string> writeTemporary(const std::string& dir, const std::string& base,
                                          std::string_view bytes, const mode_t* mode,
                                          FileError* error);

// A save writes ".<name>.tmp-<pid>-<n>" beside the file; a save killed
// before its rename leaves it behind. Each save first removes from its
// folder the files of exactly that naming whose process is gone: regular
// files of this user only, and not in a folder shared over the network,
// where the process number may be another machine's.
// The process number in such a name, or nullopt for any other name.
std::optional<pid_t> leftoverPid(std::string_view name);

// Gives the finished temporary file `temp` the name `path` only when no file
// has that name (EEXIST otherwise), durably; returns 0 or the errno of the
// failure. The temporary file is gone after success.
int publishNew(const std::string& temp, const std::string& path);
// `name` in the folder `dir`, with the system's separator ("/", on Windows
// "\\").
std::string childPath(const std::string& dir, const std::string& name);
// Removes a file; nothing when it is not there.
void removeFile(const std::string& path);
// Makes a folder that this program has just made readable to its user
// alone (on Windows the user's own folders are so already).
void restrictToOwner(const std::string& dir);
// The local time of `t`.
std::tm localTime(std::time_t t);

// Tests only: called after each chunk that reaches the new file, with the
// number of bytes written so far, so a test can stop a save in its middle.
void setWriteChunkHook(std::function<void(std::size_t)> hook);

} // namespace file_io
