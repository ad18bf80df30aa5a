#include "fleet/job_plan.h"

namespace fleet {

const char* kindName(JobKind kind) {
    switch (kind) {
    case JobKind::Push:
        return "push";
    case JobKind::Add:
        return "add";
    case JobKind::Remove:
        return "remove";
    }
    return "push";
}

std::optional<JobKind> kindFromName(const std::string& name) {
    for (JobKind kind : {JobKind::Push, JobKind::Add, JobKind::Remove}) {
        if (name == kindName(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

} // namespace fleet
