// The fleet server and its register stand on Linux sockets and SQLite; the
// Windows tool says so instead of offering them.
#include "cli/commands.h"

namespace cli {

namespace {

constexpr const char* kLinuxOnly =
    "сервер парка приборов и команды fleet есть только в версии программы для Linux";

} // namespace

int serveCommand(Run& run, const std::vector<std::string>&) {
    return fail(run, kUsageError, kLinuxOnly);
}

int fleetCommand(Run& run, const std::vector<std::string>&, bool) {
    return fail(run, kUsageError, kLinuxOnly);
}

} // namespace cli
