// The commands of vxrt7-cli. Each takes its own arguments (after the
// command's name) and returns the exit code; --help is handled before.
#pragma once

#include "cli/cli_common.h"

#include <string>
#include <vector>

namespace cli {

int portsCommand(Run& run, const std::vector<std::string>& args);
int diffCommand(Run& run, const std::vector<std::string>& args);
int numbersExportCommand(Run& run, const std::vector<std::string>& args);
int numbersImportCommand(Run& run, const std::vector<std::string>& args);

} // namespace cli
