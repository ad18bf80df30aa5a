// `vxrt7-cli fleet ...`: the jobs of the fleet's register, queued whether a
// server runs or not, and what the register knows of the devices.
#include "cli/commands.h"

#include "fleet/fleet_register.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace cli {

namespace {

const char* const kRegisterOption =
    "  --register ФАЙЛ  реестр (по умолчанию $XDG_DATA_HOME/vxrt7-config/fleet.sqlite,\n"
    "                   то есть ~/.local/share/vxrt7-config/fleet.sqlite)\n";

const char* const kTargetsOption =
    "  --device N       прибор с номером устройства N; можно несколько раз\n"
    "  --all            все приборы реестра, кроме тех, что в конфликте\n";

const char* const kQueueNote =
    "\n"
    "Задание ставится в очередь реестра, работает ли сервер (vxrt7-cli serve) или нет;\n"
    "сервер выполняет его, когда прибор выходит на связь: считывает прибор, записывает\n"
    "конфигурацию и номера, считывает снова и сравнивает. Прибор, не известный реестру,\n"
    "не принимается, и тогда в очередь не ставится ничего.\n"
    "Код выхода: 0 — задания в очереди, 2 — ошибка в командной строке, в файле или в\n"
    "реестре.\n";

const char* const kFleetHelp =
    "Использование: vxrt7-cli fleet ДЕЙСТВИЕ [ПАРАМЕТРЫ] [--register ФАЙЛ] [--json]\n"
    "\n"
    "Задания парку приборов, которые выходят на связь через Интернет, и реестр этих\n"
    "приборов:\n"
    "  push ФАЙЛ.fcd (--device N)... | --all     записать конфигурацию и номера файла\n"
    "  add НОМЕР КВАРТИРА (--device N)... | --all добавить номер в список прибора\n"
    "  remove НОМЕР (--device N)... | --all      удалить номер из списка прибора\n"
    "  jobs                                      задания и их состояние\n"
    "  devices                                   приборы реестра\n"
    "  find НОМЕР                                у каких приборов есть номер\n"
    "  history --device N                        снимки, задания и изменения прибора\n"
    "  cancel ЗАДАНИЕ                            отменить задание, которое не выполняется\n"
    "\n"
    "Справка по действию: vxrt7-cli fleet push --help.\n";

const char* const kPushHelp =
    "Использование: vxrt7-cli fleet push ФАЙЛ.fcd (--device N)... | --all [--register ФАЙЛ]\n"
    "\n"
    "Ставит в очередь запись конфигурации и списка номеров файла в приборы. Номер\n"
    "устройства и пароль каждый прибор сохраняет свои. Файл читается сейчас и хранится\n"
    "в задании: его изменение потом задания не меняет.\n";

const char* const kAddHelp =
    "Использование: vxrt7-cli fleet add НОМЕР КВАРТИРА (--device N)... | --all\n"
    "\n"
    "Ставит в очередь добавление номера: он записывается после номеров, которые\n"
    "прибор хранит, когда задание выполняется, остальные остаются по порядку. Если\n"
    "номер уже есть в приборе или список полон, задание завершается ошибкой.\n";

const char* const kRemoveHelp =
    "Использование: vxrt7-cli fleet remove НОМЕР (--device N)... | --all\n"
    "\n"
    "Ставит в очередь удаление номера из списка прибора; остальные номера остаются\n"
    "по порядку. Если номера в приборе нет, записывать нечего и задание выполнено\n"
    "(done) с отметкой об этом.\n";

const char* const kJobsHelp =
    "Использование: vxrt7-cli fleet jobs [--register ФАЙЛ] [--json]\n"
    "\n"
    "Все задания реестра: номер задания, прибор, вид (push, add, remove), состояние\n"
    "(pending — ждёт, running — выполняется, retry — повторится при следующей связи,\n"
    "done — выполнено, failed — не выполнено, cancelled — отменено), число попыток\n"
    "(не более 5) и последняя ошибка; у выполненного задания, которому нечего было\n"
    "записывать (удаляемого номера в приборе нет), — отметка об этом.\n";

const char* const kDevicesHelp =
    "Использование: vxrt7-cli fleet devices [--register ФАЙЛ] [--json]\n"
    "\n"
    "Приборы реестра: номер устройства, адрес, с которого он выходил на связь, когда,\n"
    "версия ПО, номеров в последнем снимке, заданий в очереди и конфликт (два\n"
    "соединения с одним номером устройства сразу: такому прибору задания не\n"
    "выполняются); затем адреса, с которых подключались приборы, которые не открыл ни\n"
    "один пароль.\n";

const char* const kFindHelp =
    "Использование: vxrt7-cli fleet find НОМЕР [--register ФАЙЛ] [--json]\n"
    "\n"
    "Приборы, у которых номер есть в последнем снимке (последнем полном чтении):\n"
    "прибор, строка списка и квартира.\n";

const char* const kHistoryHelp =
    "Использование: vxrt7-cli fleet history --device N [--register ФАЙЛ] [--json]\n"
    "\n"
    "Всё, что реестр знает о приборе по времени: снимки (полные чтения и их резервные\n"
    "копии), задания и каждое изменение, записанное в прибор.\n";

const char* const kCancelHelp =
    "Использование: vxrt7-cli fleet cancel ЗАДАНИЕ [--register ФАЙЛ]\n"
    "\n"
    "Отменяет задание, которое ждёт (pending) или ждёт повтора (retry): оно получает\n"
    "состояние cancelled и больше не выполняется. Задание, которое выполняется сейчас\n"
    "или уже завершено, не отменяется.\n"
    "Код выхода: 0 — отменено, 1 — задание выполняется или завершено, 2 — такого\n"
    "задания нет или ошибка в командной строке.\n";

struct FleetArgs {
    std::vector<std::string> positional;
    std::string registerPath;
    std::vector<unsigned> devices;
    bool all = false;
};

std::optional<unsigned> parseNumber(const std::string& text, unsigned max) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<FleetArgs> parseFleetArgs(const std::vector<std::string>& args, bool targets,
                                        std::string* error) {
    FleetArgs parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (targets && arg == "--all") {
            parsed.all = true;
            continue;
        }
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        if (name != "--register" && name != "--device") {
            *error = "неизвестный параметр «" + arg + "»";
            return std::nullopt;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            *error = "после " + name + " нужно значение";
            return std::nullopt;
        }
        if (value.empty()) {
            *error = "пустое значение параметра " + name;
            return std::nullopt;
        }
        if (name == "--register") {
            if (!parsed.registerPath.empty()) {
                *error = "параметр --register указан дважды";
                return std::nullopt;
            }
            parsed.registerPath = value;
        } else {
            const auto number = parseNumber(value, 65535);
            if (!number) {
                *error = "номер устройства «" + value + "» — не целое число от 0 до 65535";
                return std::nullopt;
            }
            parsed.devices.push_back(*number);
        }
    }
    return parsed;
}

fleet::Millis now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A time as the listings show it: local time in text, UTC (ISO 8601) in JSON.
std::string timeText(fleet::Millis ms, bool utc) {
    if (ms <= 0) {
        return {};
    }
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm parts{};
    if (utc) {
        ::gmtime_r(&t, &parts);
    } else {
        ::localtime_r(&t, &parts);
    }
    char text[32];
    std::strftime(text, sizeof text, utc ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

void jobJson(JsonWriter& doc, const fleet::Job& job) {
    doc.beginObject().field("id", static_cast<long long>(job.id)).field("device", job.device);
    doc.field("kind", fleet::kindName(job.request.kind))
        .field("state", fleet::stateName(job.state));
    doc.field("tries", job.tries).field("error", job.error).endObject();
}

std::string jobLine(const fleet::Job& job) {
    std::string what = fleet::kindName(job.request.kind);
    if (job.request.kind != fleet::JobKind::Push) {
        what += " " + job.request.number;
    }
    if (job.request.kind == fleet::JobKind::Add) {
        what += " кв. " + job.request.apartment;
    }
    std::string line = "Задание " + std::to_string(job.id) + ": прибор " +
                       std::to_string(job.device) + ", " + what + ", " +
                       fleet::stateName(job.state) + ", попыток " + std::to_string(job.tries);
    if (!job.error.empty()) {
        line += " — " + job.error;
    }
    return line;
}

class FleetAction {
  public:
    FleetAction(Run& run, FleetArgs args) : run_(run), args_(std::move(args)) {}

    // Opens the register; on failure the exit code is in `code`.
    bool openRegister(int* code) {
        const std::string path =
            args_.registerPath.empty() ? fleet::FleetRegister::defaultPath() : args_.registerPath;
        std::string error;
        register_ = fleet::FleetRegister::open(path, &error);
        if (!register_) {
            *code = fail(run_, kUsageError, error);
        }
        return register_ != nullptr;
    }

    int queue(const fleet::JobRequest& request) {
        if (args_.all == !args_.devices.empty()) {
            return usage(run_, args_.all ? "укажите либо --device, либо --all"
                                         : "не указан прибор: --device N или --all");
        }
        if (auto problem = fleet::requestProblem(request)) {
            return usage(run_, *problem);
        }
        int code = kSuccess;
        if (!openRegister(&code)) {
            return code;
        }
        std::vector<unsigned> targets;
        if (args_.all) {
            for (const fleet::Device& d : register_->devices()) {
                if (!d.conflict) {
                    targets.push_back(d.number);
                }
            }
            if (targets.empty()) {
                return fail(run_, kUsageError,
                            "В реестре " + quoted(register_->path()) +
                                " нет приборов без конфликта: в очередь ничего не поставлено");
            }
        } else {
            for (unsigned number : args_.devices) {
                if (!register_->device(number)) {
                    return fail(run_, kUsageError,
                                "Прибора с номером устройства " + std::to_string(number) +
                                    " нет в реестре " + quoted(register_->path()) +
                                    ": в очередь ничего не поставлено");
                }
                if (std::find(targets.begin(), targets.end(), number) == targets.end()) {
                    targets.push_back(number);
                }
            }
        }
        const std::vector<std::int64_t> ids = register_->queue(targets, request, now());
        JsonWriter doc;
        doc.beginObject().field("command", run_.command).key("jobs").beginArray();
        for (std::int64_t id : ids) {
            const std::optional<fleet::Job> job = register_->job(id);
            if (job) {
                jobJson(doc, *job);
                say(run_, jobLine(*job));
            }
        }
        doc.endArray().endObject();
        if (run_.json) {
            printJson(doc);
        }
        return kSuccess;
    }

    int push() {
        if (args_.positional.size() != 1) {
            return usage(run_, "нужен один файл конфигурации .fcd");
        }
        const std::string& path = args_.positional[0];
        int code = kSuccess;
        const std::optional<config_file::Decoded> file = loadConfigFile(run_, path, &code);
        if (!file) {
            return code;
        }
        // The job keeps the file as this program writes it: its block and
        // 650 rows, nothing else the file may have held besides.
        MemoryNumberGrid grid;
        config_file::fillGrid(*file, grid);
        const config_file::Encoded bytes = config_file::encode(file->block, grid);
        if (!bytes.ok()) {
            return fail(run_, kUsageError, "Файл " + quoted(path) + ": " + *bytes.error);
        }
        fleet::JobRequest request{fleet::JobKind::Push, bytes.bytes, {}, {}};
        if (auto problem = fleet::requestProblem(request)) {
            return fail(run_, kUsageError, "Файл " + quoted(path) + ": " + *problem);
        }
        return queue(request);
    }

    int add() {
        if (args_.positional.size() != 2) {
            return usage(run_, "нужны номер и квартира");
        }
        return queue({fleet::JobKind::Add, {}, args_.positional[0], args_.positional[1]});
    }

    int remove() {
        if (args_.positional.size() != 1) {
            return usage(run_, "нужен один номер");
        }
        return queue({fleet::JobKind::Remove, {}, args_.positional[0], {}});
    }

    int jobs() {
        if (int code = noPositional(); code != kSuccess || !openRegister(&code)) {
            return code;
        }
        JsonWriter doc;
        doc.beginObject().key("jobs").beginArray();
        const auto all = register_->jobs();
        for (const fleet::Job& job : all) {
            jobJson(doc, job);
            say(run_, jobLine(job));
        }
        doc.endArray().endObject();
        if (all.empty()) {
            say(run_, "Заданий нет");
        }
        if (run_.json) {
            printJson(doc);
        }
        return kSuccess;
    }

    int devices() {
        if (int code = noPositional(); code != kSuccess || !openRegister(&code)) {
            return code;
        }
        JsonWriter doc;
        doc.beginObject().key("devices").beginArray();
        const auto all = register_->devices();
        for (const fleet::Device& d : all) {
            doc.beginObject().field("device", d.number).field("address", d.address);
            doc.key("lastSeen");
            if (d.lastSeen > 0) {
                doc.value(timeText(d.lastSeen, true));
            } else {
                doc.null();
            }
            doc.field("firmwareVersion", d.firmwareVersion).field("numbers", d.numbers);
            doc.field("pending", d.pending).field("conflict", d.conflict).endObject();
            std::string line = "Прибор " + std::to_string(d.number) + ": ";
            line += d.address.empty() ? "адрес неизвестен" : d.address;
            line += d.lastSeen > 0 ? ", на связи " + timeText(d.lastSeen, false) : "";
            line += d.firmwareVersion.empty() ? "" : ", ПО " + d.firmwareVersion;
            line += ", номеров " + std::to_string(d.numbers) + ", заданий в очереди " +
                    std::to_string(d.pending);
            line += d.conflict ? ", КОНФЛИКТ: два соединения с этим номером устройства" : "";
            say(run_, line);
        }
        doc.endArray().key("unknown").beginArray();
        for (const fleet::UnknownDevice& u : register_->unknownDevices()) {
            doc.beginObject().field("address", u.address);
            doc.field("firstSeen", timeText(u.firstSeen, true));
            doc.field("lastSeen", timeText(u.lastSeen, true)).field("attempts", u.attempts);
            doc.endObject();
            say(run_, "Не опознан (ни один пароль не подошёл): " + u.address + ", подключений " +
                          std::to_string(u.attempts) + ", последнее " +
                          timeText(u.lastSeen, false));
        }
        doc.endArray().endObject();
        if (all.empty()) {
            say(run_, "В реестре нет приборов");
        }
        if (run_.json) {
            printJson(doc);
        }
        return kSuccess;
    }

    int find() {
        if (args_.positional.size() != 1 || !args_.devices.empty()) {
            return usage(run_, "нужен один номер");
        }
        int code = kSuccess;
        if (!openRegister(&code)) {
            return code;
        }
        const std::string& number = args_.positional[0];
        JsonWriter doc;
        doc.beginObject().field("number", number).key("devices").beginArray();
        const auto holders = register_->find(number);
        for (const fleet::NumberHolder& h : holders) {
            doc.beginObject().field("device", h.device).field("row", h.row);
            doc.field("apartment", h.apartment).endObject();
            say(run_, "Прибор " + std::to_string(h.device) + ": строка " + std::to_string(h.row) +
                          ", кв. " + h.apartment);
        }
        doc.endArray().endObject();
        if (holders.empty()) {
            say(run_, "Номера " + number + " нет ни в одном приборе (по последним снимкам)");
        }
        if (run_.json) {
            printJson(doc);
        }
        return kSuccess;
    }

    int history() {
        if (args_.devices.size() != 1 || !args_.positional.empty()) {
            return usage(run_, "нужен один прибор: --device N");
        }
        int code = kSuccess;
        if (!openRegister(&code)) {
            return code;
        }
        const unsigned device = args_.devices[0];
        if (!register_->device(device)) {
            return fail(run_, kUsageError,
                        "Прибора с номером устройства " + std::to_string(device) +
                            " нет в реестре " + quoted(register_->path()));
        }
        const fleet::History h = register_->history(device);
        JsonWriter doc;
        doc.beginObject().field("device", device).key("snapshots").beginArray();
        for (const fleet::Snapshot& s : h.snapshots) {
            doc.beginObject().field("id", static_cast<long long>(s.id));
            doc.field("time", timeText(s.taken, true)).field("source", s.source);
            doc.field("backup", s.backupPath).endObject();
            say(run_, timeText(s.taken, false) + " снимок " + std::to_string(s.id) + " (" +
                          s.source + ")" + (s.backupPath.empty() ? "" : ": " + s.backupPath));
        }
        doc.endArray().key("jobs").beginArray();
        for (const fleet::Job& job : h.jobs) {
            jobJson(doc, job);
            say(run_, timeText(job.created, false) + " " + jobLine(job));
        }
        doc.endArray().key("audit").beginArray();
        for (const fleet::AuditEntry& a : h.audit) {
            doc.beginObject().field("job", static_cast<long long>(a.job));
            doc.field("time", timeText(a.when, true)).field("change", a.change).endObject();
            say(run_, timeText(a.when, false) +
                          (a.job > 0 ? " задание " + std::to_string(a.job) + ": " : " ") +
                          a.change);
        }
        doc.endArray().endObject();
        if (run_.json) {
            printJson(doc);
        }
        return kSuccess;
    }

    int cancel() {
        if (args_.positional.size() != 1 || !args_.devices.empty()) {
            return usage(run_, "нужен номер задания");
        }
        const auto id = parseNumber(args_.positional[0], 0x7fffffffu);
        if (!id) {
            return usage(run_, "номер задания «" + args_.positional[0] + "» — не целое число");
        }
        int code = kSuccess;
        if (!openRegister(&code)) {
            return code;
        }
        std::string why;
        if (!register_->cancel(*id, now(), &why)) {
            const bool exists = register_->job(*id).has_value();
            return fail(run_, exists ? kDiffers : kUsageError, "Не отменено: " + why);
        }
        const auto job = register_->job(*id);
        if (run_.json) {
            JsonWriter doc;
            doc.beginObject().field("command", run_.command).key("jobs").beginArray();
            jobJson(doc, *job);
            doc.endArray().endObject();
            printJson(doc);
        }
        say(run_, "Задание " + std::to_string(*id) + " отменено (cancelled)");
        return kSuccess;
    }

  private:
    int noPositional() {
        if (!args_.positional.empty() || !args_.devices.empty()) {
            return usage(run_, "лишний параметр «" +
                                   (args_.positional.empty() ? std::string("--device")
                                                             : args_.positional[0]) +
                                   "»");
        }
        return kSuccess;
    }

    Run& run_;
    FleetArgs args_;
    std::unique_ptr<fleet::FleetRegister> register_;
};

} // namespace

int fleetCommand(Run& run, const std::vector<std::string>& args, bool help) {
    if (args.empty()) {
        return help ? printHelp(run, kFleetHelp)
                    : usage(run, "не указано действие: push, add, remove, jobs, devices, "
                                 "find, history или cancel");
    }
    const std::string action = args.front();
    struct Entry {
        const char* name;
        int (FleetAction::*run)();
        std::string help;
        bool targets; // takes --device and --all
    };
    const std::string common = std::string("\nПараметры:\n") + kRegisterOption;
    const Entry actions[] = {
        {"push", &FleetAction::push, kPushHelp + common + kTargetsOption + kQueueNote, true},
        {"add", &FleetAction::add, kAddHelp + common + kTargetsOption + kQueueNote, true},
        {"remove", &FleetAction::remove, kRemoveHelp + common + kTargetsOption + kQueueNote, true},
        {"jobs", &FleetAction::jobs, kJobsHelp + common, false},
        {"devices", &FleetAction::devices, kDevicesHelp + common, false},
        {"find", &FleetAction::find, kFindHelp + common, false},
        {"history", &FleetAction::history, kHistoryHelp + common, false},
        {"cancel", &FleetAction::cancel, kCancelHelp + common, false},
    };
    for (const Entry& entry : actions) {
        if (action != entry.name) {
            continue;
        }
        run.command = "fleet " + action;
        if (help) {
            return printHelp(run, entry.help);
        }
        std::string error;
        std::optional<FleetArgs> parsed = parseFleetArgs(
            std::vector<std::string>(args.begin() + 1, args.end()), entry.targets, &error);
        if (!parsed) {
            return usage(run, error);
        }
        try {
            FleetAction fleetAction(run, std::move(*parsed));
            return (fleetAction.*entry.run)();
        } catch (const fleet::RegisterError& e) {
            return fail(run, kUsageError, e.what());
        }
    }
    run.command = "fleet";
    return usage(run, "неизвестное действие «" + action + "»");
}

} // namespace cli
