// The device commands: info, read, write, diff --port and flash. Each takes
// one port or several (--port more than once, or --all for every free port);
// every device gets its own job, all jobs run side by side in one event loop,
// and a table at the end gives each port's result.
#include "cli/commands.h"

#include "cli/device_job.h"
#include "cli/progress.h"
#include "comm/port_state.h"
#include "files/file_io.h"
#include "firmware/firmware_image.h"

#include <charconv>
#include <cstdio>
#include <memory>

namespace cli {

namespace {

struct DeviceArgs {
    std::vector<std::string> ports;
    bool all = false;
    bool fast = false;
    bool full = false;
    std::optional<std::string> password;
    std::optional<std::string> output;
    std::vector<std::string> positional;
};

// --port (repeatable), --all, --fast, --password N, where `withOutput`
// -o FILE, and where `withFull` --full; anything else starting with "-" is
// refused.
std::optional<DeviceArgs> parseDeviceArgs(const std::vector<std::string>& args, bool withOutput,
                                          bool withFull, std::string* error) {
    DeviceArgs parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        if (arg == "--all" || arg == "--fast") {
            (arg == "--all" ? parsed.all : parsed.fast) = true;
            continue;
        }
        if (withFull && arg == "--full") {
            parsed.full = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg != "--port" && arg != "--password" && !(withOutput && arg == "-o")) {
            *error = "неизвестный параметр «" + args[i] + "»";
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                *error = "после " + arg + " нужно значение";
                return std::nullopt;
            }
            value = args[++i];
        }
        if (value->empty()) {
            *error = "пустое значение параметра " + arg;
            return std::nullopt;
        }
        if (arg == "--port") {
            parsed.ports.push_back(*value);
        } else if ((arg == "--password" ? parsed.password : parsed.output).has_value()) {
            *error = "параметр " + arg + " указан дважды";
            return std::nullopt;
        } else {
            (arg == "--password" ? parsed.password : parsed.output) = *value;
        }
    }
    if (parsed.all) {
        for (const PortStatus& p : describePorts()) {
            if (p.access == PortAccess::Free) {
                parsed.ports.push_back(p.path);
            }
        }
        if (parsed.ports.empty()) {
            *error = "свободных последовательных портов нет";
            return std::nullopt;
        }
    }
    if (parsed.ports.empty()) {
        *error = "не указан порт: --port ПОРТ или --all";
        return std::nullopt;
    }
    if (parsed.password) {
        const std::string& p = *parsed.password;
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), value);
        if (ec != std::errc{} || end != p.data() + p.size() || value > 65535) {
            *error = "пароль — число от 0 до 65535";
            return std::nullopt;
        }
    }
    return parsed;
}

// With several ports each read goes to its own file: "dev.fcd" becomes
// "dev-ttyUSB0.fcd".
std::string outputFor(const std::string& output, const std::string& port, bool several) {
    if (!several) {
        return output;
    }
    std::string base = port.substr(port.find_last_of('/') + 1);
    const auto dot = output.find_last_of('.');
    const auto slash = output.find_last_of('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        return output.substr(0, dot) + "-" + base + output.substr(dot);
    }
    return output + "-" + base;
}

// Runs every job to its end in one loop, with the progress on stderr (none
// without a label).
void runJobs(std::vector<std::unique_ptr<DeviceJob>>& jobs, const char* label, int perJob) {
    EventLoop& loop = jobs.front()->loop();
    std::optional<ProgressBar> bar;
    if (label != nullptr) {
        bar.emplace(label, perJob * static_cast<int>(jobs.size()));
    }
    for (auto& job : jobs) {
        job->start();
    }
    loop.run(
        [&] {
            for (const auto& job : jobs) {
                if (!job->finished()) {
                    return false;
                }
            }
            return true;
        },
        [&] {
            int done = 0;
            for (auto& job : jobs) {
                job->advance();
                done += job->progress();
            }
            if (bar) {
                bar->update(done);
            }
        },
        [&] {
            std::optional<EventLoop::Clock::time_point> first;
            for (const auto& job : jobs) {
                if (!job->finished() && (!first || job->deadline() < *first)) {
                    first = job->deadline();
                }
            }
            return first;
        });
}

int overallCode(const std::vector<std::unique_ptr<DeviceJob>>& jobs) {
    bool portError = false;
    for (const auto& job : jobs) {
        if (job->result().code == kDiffers) {
            return kDiffers;
        }
        portError = portError || job->result().code == kPortError;
    }
    return portError ? kPortError : kSuccess;
}

// A device that differs from the file did what it was asked: that is no error.
bool differs(const JobResult& r) {
    return r.code == kDiffers && r.diff && !r.diff->equal();
}

const char* resultWord(const JobResult& r) {
    if (differs(r)) {
        return "есть различия";
    }
    switch (r.code) {
    case kSuccess:
        return "успешно";
    case kPortError:
        return "ошибка порта";
    default:
        return "ошибка";
    }
}

// The table at the end, or the --json document with one entry per port.
int report(const Run& run, const std::vector<std::unique_ptr<DeviceJob>>& jobs,
           const std::vector<std::string>& files) {
    const int code = overallCode(jobs);
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("command", run.command).field("exitCode", code);
        doc.key("ports").beginArray();
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const JobResult& r = jobs[i]->result();
            doc.beginObject().field("port", jobs[i]->request().port).field("exitCode", r.code);
            doc.field("ok", r.code == kSuccess).field("message", r.message);
            if (!r.portError.empty()) {
                doc.field("portError", r.portError);
            }
            if (!r.deviceName.empty()) {
                doc.field("device", r.deviceName).field("firmwareVersion", r.firmwareVersion);
            }
            if (!r.backup.empty()) {
                doc.field("backup", r.backup);
            }
            if (!files[i].empty()) {
                doc.field("file", files[i]);
            }
            if (r.read) {
                doc.field("numbers", r.numbers);
            }
            if (r.cellsWritten >= 0) {
                doc.field("cellsWritten", r.cellsWritten);
            }
            if (r.diff) {
                doc.key("diff").beginObject();
                writeDiffFields(doc, *r.diff);
                doc.endObject();
            }
            doc.endObject();
        }
        doc.endArray().endObject();
        printJson(doc);
        return code;
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const JobResult& r = jobs[i]->result();
        if (r.diff && !r.diff->equal()) {
            say(run, jobs[i]->request().port + ":");
            printDiffText(run, *r.diff);
        }
        if (!r.backup.empty()) {
            say(run, jobs[i]->request().port + ": резервная копия " + r.backup);
        }
        if (!files[i].empty()) {
            say(run, jobs[i]->request().port + ": файл " + files[i]);
        }
    }
    say(run, "Порт | Результат | Подробности");
    for (const auto& job : jobs) {
        const JobResult& r = job->result();
        say(run, job->request().port + " | " + resultWord(r) + " | " + r.message);
        if (r.code != kSuccess && !differs(r)) {
            complain(r.message);
        }
    }
    return code;
}

int deviceCommand(Run& run, const std::vector<std::string>& args, JobRequest::Kind kind) {
    std::string error;
    const auto parsed = parseDeviceArgs(args, kind == JobRequest::Kind::Read,
                                        kind == JobRequest::Kind::Write, &error);
    if (!parsed) {
        return usage(run, error);
    }
    const std::size_t wanted = kind == JobRequest::Kind::Write || kind == JobRequest::Kind::Diff ||
                                       kind == JobRequest::Kind::Flash
                                   ? 1
                                   : 0;
    if (parsed->positional.size() != wanted) {
        return usage(run, wanted == 0 ? "лишний аргумент «" + parsed->positional[0] + "»"
                                      : std::string(kind == JobRequest::Kind::Flash
                                                        ? "нужен один файл прошивки"
                                                        : "нужен один файл конфигурации"));
    }
    if (kind == JobRequest::Kind::Read && !parsed->output) {
        return usage(run, "не указан файл: -o ФАЙЛ.fcd");
    }
    // Files are checked before any device is touched.
    int code = kSuccess;
    std::optional<config_file::Decoded> file;
    std::size_t imageBlocks = 0;
    if (kind == JobRequest::Kind::Write || kind == JobRequest::Kind::Diff) {
        file = loadConfigFile(run, parsed->positional[0], &code);
        if (!file) {
            return code;
        }
    }
    if (kind == JobRequest::Kind::Write) {
        // A list the device cannot take is refused before any device is
        // touched, as the window refuses it before "CONFW".
        MemoryNumberGrid grid;
        config_file::fillGrid(*file, grid);
        if (const std::optional<std::string> problem = listWriteProblem(grid)) {
            return fail(run, kUsageError,
                        "Файл " + quoted(parsed->positional[0]) + " не записан: " + *problem);
        }
    }
    if (kind == JobRequest::Kind::Flash) {
        const auto image = firmware::readImageFile(parsed->positional[0]);
        if (image.status == firmware::ImageFile::Status::CannotOpen) {
            return fail(run, kUsageError,
                        "Не удается открыть файл " + quoted(parsed->positional[0]));
        }
        if (image.status == firmware::ImageFile::Status::Invalid) {
            return fail(run, kUsageError,
                        "Некорректный файл прошивки " + quoted(parsed->positional[0]));
        }
        imageBlocks = image.image.blockCount();
    }

    EventLoop loop;
    std::vector<std::unique_ptr<DeviceJob>> jobs;
    for (const std::string& port : parsed->ports) {
        JobRequest request;
        request.kind = kind;
        request.port = port;
        request.fast = parsed->fast;
        request.full = parsed->full;
        if (parsed->password) {
            request.password = *parsed->password;
        }
        request.file = file ? &*file : nullptr;
        if (kind == JobRequest::Kind::Flash) {
            request.imagePath = parsed->positional[0];
            request.imageBlocks = imageBlocks;
        }
        jobs.push_back(std::make_unique<DeviceJob>(loop, request));
    }
    const bool flash = kind == JobRequest::Kind::Flash;
    const char* label = flash ? "Блоки прошивки" : "Номера";
    runJobs(jobs, kind == JobRequest::Kind::Info ? nullptr : label,
            flash ? static_cast<int>(imageBlocks) : NumberGrid::kRows);

    // Reads go to their files.
    std::vector<std::string> files(jobs.size());
    int fileCode = kSuccess;
    if (kind == JobRequest::Kind::Read) {
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const JobResult& r = jobs[i]->result();
            if (r.code != kSuccess || !r.read) {
                continue;
            }
            MemoryNumberGrid grid;
            config_file::fillGrid(*r.read, grid);
            const auto encoded = config_file::encode(r.read->block, grid);
            const std::string path =
                outputFor(*parsed->output, jobs[i]->request().port, jobs.size() > 1);
            file_io::FileError failure;
            if (!encoded.ok() || !file_io::writeFileAtomically(path, encoded.bytes, &failure)) {
                complain("Не удается сохранить файл " + quoted(path) + ": " +
                         (encoded.ok() ? failure.reason : *encoded.error));
                fileCode = kUsageError;
                continue;
            }
            files[i] = path;
        }
    }
    const int result = report(run, jobs, files);
    return result == kSuccess ? fileCode : result;
}

} // namespace

int infoCommand(Run& run, const std::vector<std::string>& args) {
    return deviceCommand(run, args, JobRequest::Kind::Info);
}
int readCommand(Run& run, const std::vector<std::string>& args) {
    return deviceCommand(run, args, JobRequest::Kind::Read);
}
int writeCommand(Run& run, const std::vector<std::string>& args) {
    return deviceCommand(run, args, JobRequest::Kind::Write);
}
int diffPortCommand(Run& run, const std::vector<std::string>& args) {
    return deviceCommand(run, args, JobRequest::Kind::Diff);
}
int flashCommand(Run& run, const std::vector<std::string>& args) {
    return deviceCommand(run, args, JobRequest::Kind::Flash);
}

} // namespace cli
