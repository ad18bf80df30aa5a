// What every command of vxrt7-cli shares: the exit codes, the --json
// document, error reports and the parsing of a command's own arguments.
#pragma once

#include "cli/json.h"
#include "files/config_file.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cli {

enum ExitCode {
    kSuccess = 0,
    kDiffers = 1,    // the files differ; a device failed
    kUsageError = 2, // a wrong command line, or a file that cannot be used
    kPortError = 3,  // the port cannot be opened
};

inline constexpr const char* kProgram = "vxrt7-cli";

struct Run {
    bool json = false;
    std::string command; // "diff", "numbers import", ... for the document
};

// Writes the --json document (one line) to stdout.
void printJson(const JsonWriter& doc);
// Writes a line of text to stdout (nothing of it when --json is given).
void say(const Run& run, const std::string& line);

// Prints a command's help: the text, or with --json a document {"help"}.
// Returns kSuccess.
int printHelp(const Run& run, const std::string& text);

// Reports a failure: the message on stderr and, with --json, a document
// {"command", "error", "exitCode"} on stdout. Returns `code`.
// "vxrt7-cli: <message>" on stderr.
void complain(const std::string& message);
int fail(const Run& run, int code, const std::string& message);
// A wrong command line: the message and where the help is.
int usage(const Run& run, const std::string& message);

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options; // "-o" -> value
};

// Splits a command's arguments: options in `withValue` take the next
// argument (or "=value"); anything else starting with "-" is refused.
std::optional<Args> parseArgs(const std::vector<std::string>& args,
                              const std::set<std::string>& withValue, std::string* error);

// A path as messages show it.
std::string quoted(const std::string& path);

// Reads a configuration file, or reports why it cannot be used (the
// window's messages) and sets `exitCode`.
std::optional<config_file::Decoded> loadConfigFile(const Run& run, const std::string& path,
                                                   int* exitCode);

} // namespace cli
