// vxrt7-cli serve: the fleet server (fleet/fleet_server.h) on the command
// line. This file only reads the options, opens the register, prints each
// event as one line on stderr (or one JSON object per line) and turns
// SIGTERM and SIGINT into a stop.
#include "cli/commands.h"
#include "files/backups.h"
#include "fleet/fleet_server.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <malloc.h>
#include <optional>

namespace cli {

namespace {

fleet::FleetServer* stopTarget = nullptr;

extern "C" void onStopSignal(int) {
    if (stopTarget != nullptr) {
        stopTarget->requestStop();
    }
}

std::optional<long> wholeNumber(const std::string& text, long low, long high) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const long value = std::stol(text);
    return value >= low && value <= high ? std::optional<long>(value) : std::nullopt;
}

std::string timeNow() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void printEvent(bool json, const fleet::FleetEvent& e) {
    std::string line;
    if (json) {
        JsonWriter doc;
        doc.beginObject().field("time", timeNow()).field("event", fleet::eventName(e.kind));
        if (!e.address.empty()) {
            doc.field("address", e.address);
        }
        if (e.device != 0) {
            doc.field("device", e.device);
        }
        if (e.job != 0) {
            doc.field("job", static_cast<long long>(e.job));
        }
        doc.field("message", e.message).endObject();
        line = doc.text();
    } else {
        line = timeNow() + " " + e.message;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

} // namespace

int serveCommand(Run& run, const std::vector<std::string>& args) {
    fleet::ServerOptions options;
    std::optional<int> port;
    std::string registerPath;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos && name.rfind("--", 0) == 0) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name != "--listen" && name != "--register" && name != "--password" &&
            name != "--max-devices" && name != "--address") {
            return usage(run, "неизвестный параметр «" + args[i] + "»");
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                return usage(run, "у параметра " + name + " нет значения");
            }
            value = args[++i];
        }
        if (name == "--listen") {
            const auto n = wholeNumber(*value, 0, 65535);
            if (!n) {
                return usage(run, "порт «" + *value + "» — не число от 0 до 65535");
            }
            port = static_cast<int>(*n);
        } else if (name == "--register") {
            registerPath = *value;
        } else if (name == "--address") {
            options.listenAddress = *value;
        } else if (name == "--password") {
            const auto n = wholeNumber(*value, 0, 65535);
            if (!n) {
                return usage(run, "пароль «" + *value + "» — не число от 0 до 65535");
            }
            options.passwords.push_back(static_cast<std::uint16_t>(*n));
        } else {
            const auto n = wholeNumber(*value, 1, 100000);
            if (!n) {
                return usage(run, "--max-devices «" + *value + "» — не число от 1 до 100000");
            }
            options.maxDevices = static_cast<int>(*n);
        }
    }
    if (!port) {
        return usage(run, "не указан порт: --listen ПОРТ");
    }
    options.port = *port;
    if (registerPath.empty()) {
        registerPath = fleet::FleetRegister::defaultPath();
    }
    if (registerPath.empty()) {
        return fail(run, kUsageError,
                    "не найти папку реестра: нет ни XDG_DATA_HOME, ни HOME; "
                    "укажите --register ФАЙЛ");
    }
    std::string error;
    const auto reg = fleet::FleetRegister::open(registerPath, &error);
    if (!reg) {
        return fail(run, kUsageError, error);
    }
    options.backupFolder = backups::folder();
    // The register's writer threads would each get an arena of their own;
    // the lists they are handed are freed by the server's thread, so two
    // arenas keep the memory of hundreds of devices from spreading.
    ::mallopt(M_ARENA_MAX, 2);
    const bool json = run.json;
    fleet::FleetServer server(options, *reg,
                              [json](const fleet::FleetEvent& e) { printEvent(json, e); });
    if (!server.listen(&error)) {
        return fail(run, kPortError, error);
    }
    stopTarget = &server;
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    server.run();
    stopTarget = nullptr;
    return kSuccess;
}

} // namespace cli
