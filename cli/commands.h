// The commands of vxrt7-cli. Each takes its own arguments (after the
// command's name) and returns the exit code; --help is handled before.
#pragma once

#include "cli/cli_common.h"
#include "files/config_diff.h"

#include <string>
#include <vector>

namespace cli {

int portsCommand(Run& run, const std::vector<std::string>& args);
int diffCommand(Run& run, const std::vector<std::string>& args);
int numbersExportCommand(Run& run, const std::vector<std::string>& args);
int numbersImportCommand(Run& run, const std::vector<std::string>& args);

// The device commands; each serves one port or several at once.
int infoCommand(Run& run, const std::vector<std::string>& args);
int readCommand(Run& run, const std::vector<std::string>& args);
int writeCommand(Run& run, const std::vector<std::string>& args);
int diffPortCommand(Run& run, const std::vector<std::string>& args); // diff --port P FILE
int flashCommand(Run& run, const std::vector<std::string>& args);

// The fleet server: many devices over the Internet at once.
int serveCommand(Run& run, const std::vector<std::string>& args);

// fleet ACTION ...: the fleet register's jobs and listings; `help` when
// --help was given.
int fleetCommand(Run& run, const std::vector<std::string>& args, bool help);

// A diff as the fields "equal", "settings", "added", "removed" and "moved"
// of an open JSON object, and as lines of text.
void writeDiffFields(JsonWriter& doc, const config_diff::Result& d);
void printDiffText(const Run& run, const config_diff::Result& d);

} // namespace cli
