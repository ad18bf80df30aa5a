#include "fleet/job_plan.h"

#include "files/config_diff.h"
#include "session/number_writer.h"

#include <charconv>
#include <cstdint>

namespace fleet {

namespace {

using Rows = std::vector<std::array<std::string, 2>>;

// An apartment as the device gives it back: the record keeps the low 16 bits
// of the number, and an empty cell is 0.
std::string apartmentOnDevice(const std::string& text) {
    long long value = 0;
    std::size_t at = text.find_first_not_of(' ');
    if (at == std::string::npos) {
        return "0";
    }
    if (text[at] == '+') {
        ++at;
    }
    const auto [end, ec] = std::from_chars(text.data() + at, text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return text;
    }
    return std::to_string(static_cast<std::uint16_t>(value));
}

std::string place(int row, const std::string& apartment) {
    return "строка " + std::to_string(row) + ", кв. " + apartment;
}

std::string place(const config_diff::Entry& e) {
    return place(e.row, e.apartment);
}

MemoryNumberGrid gridOf(const Rows& rows) {
    MemoryNumberGrid grid;
    for (std::size_t i = 0; i < rows.size() && i < NumberGrid::kRows; ++i) {
        const int row = static_cast<int>(i) + 1;
        grid.setCell(NumberGrid::kNumberColumn, row, rows[i][0]);
        grid.setCell(NumberGrid::kApartmentColumn, row, rows[i][1]);
    }
    return grid;
}

int entryCount(const Rows& rows) {
    int n = 0;
    for (const auto& row : rows) {
        n += row[0].empty() ? 0 : 1;
    }
    return n;
}

// What changes from `from` to `to`, one line each: the settings under
// their captions, then the numbers.
std::vector<std::string> changeLines(const DeviceContents& from, const DeviceContents& to) {
    const config_diff::Result d = config_diff::compare(from, to);
    std::vector<std::string> lines;
    for (const auto& s : d.settings) {
        lines.push_back("Настройка «" + s.name + "»: «" + s.first + "» → «" + s.second + "»");
    }
    for (const auto& e : d.removed) {
        lines.push_back("Номер " + e.number + " удалён (" + place(e) + ")");
    }
    for (const auto& e : d.added) {
        lines.push_back("Номер " + e.number + " добавлен (" + place(e) + ")");
    }
    for (const auto& m : d.moved) {
        lines.push_back("Номер " + m.number + " перемещён: " + place(m.from) + " → " + place(m.to));
    }
    return lines;
}

} // namespace

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

DeviceContents asStored(const DeviceContents& contents) {
    DeviceContents out;
    out.block = contents.block;
    out.rows.resize(NumberGrid::kRows);
    std::size_t next = 0;
    for (const auto& row : contents.rows) {
        if (!row[0].empty() && next < out.rows.size()) {
            out.rows[next++] = {row[0], apartmentOnDevice(row[1])};
        }
    }
    return out;
}

std::optional<std::string> requestProblem(const JobRequest& request) {
    if (request.kind == JobKind::Push) {
        config_file::DecodeError error;
        const std::optional<config_file::Decoded> file = config_file::decode(request.file, &error);
        if (!file) {
            return error.reason;
        }
        if (auto problem = listWriteProblem(gridOf(file->rows))) {
            return "список номеров файла нельзя записать в прибор: " + *problem;
        }
        return std::nullopt;
    }
    if (request.number.empty()) {
        return std::string("не указан номер");
    }
    Rows one{{request.number, request.kind == JobKind::Add ? request.apartment : std::string()}};
    if (auto problem = listWriteProblem(gridOf(one))) {
        // The grid's row 1 is the request's only row: the row is no news.
        const std::string prefix = "Строка 1: ";
        return problem->rfind(prefix, 0) == 0 ? problem->substr(prefix.size()) : *problem;
    }
    return std::nullopt;
}

Plan planJob(const JobRequest& job, const DeviceContents& current) {
    Plan plan;
    if (auto problem = requestProblem(job)) {
        plan.reason = *problem;
        return plan;
    }
    const DeviceContents held = asStored(current);
    switch (job.kind) {
    case JobKind::Push: {
        config_file::DecodeError error;
        const config_file::Decoded file = *config_file::decode(job.file, &error);
        plan.target = asStored(file);
        // The device keeps its identity and takes a block only with its own
        // password in it.
        ConfigBlock block = ConfigBlock::decode(file.block);
        const ConfigBlock own = ConfigBlock::decode(current.block);
        block.deviceNumber = own.deviceNumber;
        block.password = own.password;
        plan.target.block = block.encode();
        break;
    }
    case JobKind::Add: {
        plan.target = held;
        const int count = entryCount(held.rows);
        for (int i = 0; i < count; ++i) {
            const auto& row = held.rows[static_cast<std::size_t>(i)];
            if (row[0] == job.number) {
                plan.reason =
                    "номер " + job.number + " уже есть в приборе (" + place(i + 1, row[1]) + ")";
                return plan;
            }
        }
        if (count >= NumberGrid::kRows) {
            plan.reason = "список номеров прибора полон: " + std::to_string(count) + " из " +
                          std::to_string(NumberGrid::kRows);
            return plan;
        }
        plan.target.rows[static_cast<std::size_t>(count)] = {job.number,
                                                             apartmentOnDevice(job.apartment)};
        break;
    }
    case JobKind::Remove: {
        plan.target.block = held.block;
        plan.target.rows.assign(NumberGrid::kRows, {});
        std::size_t next = 0;
        for (const auto& row : held.rows) {
            if (!row[0].empty() && row[0] != job.number) {
                plan.target.rows[next++] = row;
            }
        }
        if (next == static_cast<std::size_t>(entryCount(held.rows))) {
            plan.outcome = Plan::Outcome::Nothing;
            plan.reason = "номера " + job.number + " в приборе нет: удалять нечего";
            return plan;
        }
        break;
    }
    }
    plan.changes = changeLines(current, plan.target);
    if (plan.changes.empty()) {
        plan.outcome = Plan::Outcome::Nothing;
        plan.reason = "прибор уже хранит эту конфигурацию и эти номера: записывать нечего";
        return plan;
    }
    plan.outcome = Plan::Outcome::Write;
    return plan;
}

std::vector<std::string> compareReadBack(const DeviceContents& target,
                                         const DeviceContents& readBack) {
    const config_diff::Result d = config_diff::compare(target, readBack);
    std::vector<std::string> lines;
    for (const auto& s : d.settings) {
        lines.push_back("Настройка «" + s.name + "»: записано «" + s.first + "», считано «" +
                        s.second + "»");
    }
    for (const auto& e : d.removed) {
        lines.push_back("Номер " + e.number + " записан (" + place(e) + "), но не считан");
    }
    for (const auto& e : d.added) {
        lines.push_back("Номер " + e.number + " считан (" + place(e) + "), но не записывался");
    }
    for (const auto& m : d.moved) {
        lines.push_back("Номер " + m.number + " записан (" + place(m.from) + "), считан (" +
                        place(m.to) + ")");
    }
    return lines;
}

} // namespace fleet
