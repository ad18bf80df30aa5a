#include "fleet/fleet_register.h"

#include "files/backups.h"

#include <sqlite3.h>

#include <cstdlib>

namespace fleet {

const char* stateName(JobState state) {
    switch (state) {
    case JobState::Pending:
        return "pending";
    case JobState::Running:
        return "running";
    case JobState::Done:
        return "done";
    case JobState::Failed:
        return "failed";
    case JobState::Retry:
        return "retry";
    case JobState::Cancelled:
        return "cancelled";
    }
    return "pending";
}

std::string FleetRegister::defaultPathFor(const char* xdgDataHome, const char* home) {
    // The backup folder's parent: the program's data folder.
    std::string dir = backups::folderFor(xdgDataHome, home);
    if (dir.empty()) {
        return {};
    }
    const std::size_t slash = dir.find_last_of('/');
    return dir.substr(0, slash) + "/fleet.sqlite";
}

std::string FleetRegister::defaultPath() {
    return defaultPathFor(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

} // namespace fleet
