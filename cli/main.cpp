// vxrt7-cli: the configurator's work on files and ports from a terminal or
// a script, on the same core as the window and without a display.
#include "cli/commands.h"
#include "cli/console.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace cli;

const char* const kMainHelp =
    "vxrt7-cli — работа с файлами конфигурации и портами GSM-ключа VX-RT-7\n"
    "\n"
    "Использование: vxrt7-cli [--json] КОМАНДА [ПАРАМЕТРЫ]\n"
    "\n"
    "Команды:\n"
    "  ports                                последовательные порты и их состояние\n"
    "  info --port ПОРТ                     название прибора и версия его ПО\n"
    "  read --port ПОРТ -o ФАЙЛ.fcd         конфигурация и номера прибора в файл\n"
    "  write --port ПОРТ ФАЙЛ.fcd           файл в прибор (с резервной копией и проверкой)\n"
    "  flash --port ПОРТ ПРОШИВКА.bin       прошивка прибора через загрузчик\n"
    "  diff A.fcd B.fcd                     различия двух файлов конфигурации\n"
    "  diff --port ПОРТ ФАЙЛ.fcd            различия прибора и файла\n"
    "  numbers export ФАЙЛ.fcd -o ФАЙЛ.csv  список номеров в файл CSV\n"
    "  numbers import ФАЙЛ.csv ФАЙЛ.fcd [-o НОВЫЙ.fcd]\n"
    "                                       номера из файла CSV в файл конфигурации\n"
    "  serve --listen ПОРТ                  сервер парка приборов, подключающихся по GPRS\n"
    "  fleet ДЕЙСТВИЕ                       задания приборам, которые выходят на связь\n"
    "                                       через Интернет, и их реестр\n"
    "\n"
    "Параметры:\n"
    "  --json      результат одним документом JSON на stdout\n"
    "  --help      справка; у каждой команды своя: vxrt7-cli diff --help\n"
    "  --version   версия программы\n"
    "\n"
    "Команды с прибором принимают --port несколько раз или --all (все свободные\n"
    "порты): приборы обслуживаются одновременно, в конце — таблица по портам.\n"
    "\n"
    "Коды выхода: 0 — успешно, 1 — файлы различаются или прибор не выполнил\n"
    "команду, 2 — ошибка в командной строке или файл, который нельзя прочитать или\n"
    "записать, 3 — порт не открыть.\n";

const char* const kDeviceOptions =
    "\n"
    "Параметры:\n"
    "  --port ПОРТ   порт прибора (ttyUSB0 или полный путь); можно несколько раз\n"
    "  --all         все свободные последовательные порты\n"
    "  --password N  пароль прибора (по умолчанию 1234)\n"
    "  --fast        быстрый обмен\n"
    "  --json        результат одним документом JSON: по записи на порт\n"
    "\n"
    "Ход работы (номера из 650, блоки прошивки) показывается в stderr, только когда\n"
    "это терминал. Каждое полное чтение прибора сохраняется резервной копией в\n"
    "$XDG_DATA_HOME/vxrt7-config/backups (по умолчанию ~/.local/share/...).\n"
    "Код выхода: 0 — успешно на всех портах, 1 — прибор не выполнил команду\n"
    "(неверный пароль, не отвечает, различия), 2 — ошибка в командной строке или\n"
    "в файле, 3 — порт не открыть (нет, занят, нет доступа) или он пропал.\n";

const char* const kInfoHelp = "Использование: vxrt7-cli info --port ПОРТ [--port ПОРТ...]\n"
                              "\n"
                              "Связывается с прибором и выводит его название и версию ПО.\n";

const char* const kReadHelp =
    "Использование: vxrt7-cli read --port ПОРТ [--password N] -o ФАЙЛ.fcd\n"
    "\n"
    "Считывает конфигурацию и весь список номеров в файл конфигурации — тот же, что\n"
    "сохраняет окно программы. С несколькими портами имя файла дополняется именем\n"
    "порта: ФАЙЛ-ttyUSB0.fcd.\n";

const char* const kWriteHelp =
    "Использование: vxrt7-cli write --port ПОРТ [--password N] [--full] ФАЙЛ.fcd\n"
    "\n"
    "Сначала считывает прибор и сохраняет резервную копию (путь выводится), затем\n"
    "записывает конфигурацию и номера файла, затем считывает их снова и сравнивает\n"
    "с файлом: любое различие — ошибка. Если прибор перестал отвечать, сообщается\n"
    "шаг, что сейчас в приборе и где резервная копия.\n"
    "Номера: после конфигурации список прибора считывается заново, и отправляются\n"
    "только ячейки, которые отличаются от файла (удаление из середины списка сдвигает\n"
    "все следующие ячейки); прибор остается в том же состоянии, что и после полной\n"
    "записи. --full записывает все ячейки подряд, как «Записать в устройство».\n"
    "Пароль прибора запись не меняет: как и окно, программа записывает настройки\n"
    "файла с паролем прибора (--password), а не с паролем из файла.\n";

const char* const kFlashHelp = "Использование: vxrt7-cli flash --port ПОРТ ПРОШИВКА.bin\n"
                               "\n"
                               "Перезагружает прибор в загрузчик и программирует образ прошивки.\n";

const char* const kPortsHelp =
    "Использование: vxrt7-cli ports [--json]\n"
    "\n"
    "Все последовательные порты и их состояние сейчас: свободен; занят (и какой\n"
    "программой, если система это показывает); нет доступа (и как его получить:\n"
    "группа, которой принадлежит порт); имена из /dev/serial/by-id.\n";

const char* const kDiffHelp =
    "Использование: vxrt7-cli diff [--json] A.fcd B.fcd\n"
    "               vxrt7-cli diff [--json] --port ПОРТ [--password N] ФАЙЛ.fcd\n"
    "\n"
    "Сравнивает два файла конфигурации: настройки, которые различаются (под их\n"
    "названиями в окне программы), и номера, добавленные, удалённые или\n"
    "перемещённые (другая строка или квартира). С --port первым считывается прибор\n"
    "(и сохраняется резервной копией), а файл сравнивается в том виде, в каком его\n"
    "хранил бы прибор после write: номера подряд с первой ячейки, пустая квартира —\n"
    "0, пароль — тот, с которым прибор считан.\n"
    "Код выхода: 0 — различий нет, 1 — файлы различаются, 2 — файл нельзя прочитать.\n";

const char* const kNumbersHelp =
    "Использование:\n"
    "  vxrt7-cli numbers export ФАЙЛ.fcd -o ФАЙЛ.csv\n"
    "  vxrt7-cli numbers import ФАЙЛ.csv ФАЙЛ.fcd [-o НОВЫЙ.fcd]\n"
    "\n"
    "export записывает номера файла конфигурации в файл CSV в том виде, в каком\n"
    "его записывает «Экспорт в CSV» окна: «квартира;номер» в строке, кодировка\n"
    "Windows-1251.\n"
    "import добавляет номера из файла CSV так же, как «Импорт из CSV» окна: с первой\n"
    "пустой строки списка. Результат записывается в НОВЫЙ.fcd или, без -o, на место\n"
    "ФАЙЛ.fcd; файл заменяется целиком, а при любой ошибке остаётся прежним.\n"
    "Код выхода: 0 — успешно, 2 — ошибка в файле или командной строке.\n";

const char* const kServeHelp =
    "Использование: vxrt7-cli serve --listen ПОРТ [--register ФАЙЛ] [--password N]...\n"
    "                               [--max-devices N] [--address АДРЕС] [--json]\n"
    "\n"
    "Сервер парка приборов: принимает подключения приборов по GPRS (как сервер окна\n"
    "программы, приборы объявляют себя \"CONNECT\") и обслуживает все сразу, каждый\n"
    "своим сеансом. Подключившийся прибор открывается чтением конфигурации: сначала\n"
    "паролем, с которым последний раз открылся прибор с того же адреса, затем каждым\n"
    "--password по порядку, затем паролями из реестра. Номер устройства (из блока\n"
    "конфигурации) — его имя в реестре. Полное чтение сохраняется в реестре и\n"
    "резервной копией; затем выполняются задания, поставленные командами fleet:\n"
    "чтение, запись (\"CONFW\", \"ERASE\" и пакеты номеров), контрольное чтение.\n"
    "Прибор, отключившийся посреди задания, выполнит его заново при следующем\n"
    "подключении; после 5 попыток задание не выполнено.\n"
    "\n"
    "Параметры:\n"
    "  --listen ПОРТ      TCP-порт (0 — выберет система)\n"
    "  --register ФАЙЛ    реестр SQLite (по умолчанию\n"
    "                     $XDG_DATA_HOME/vxrt7-config/fleet.sqlite)\n"
    "  --password N       пароль приборов; можно несколько раз\n"
    "  --max-devices N    приборов одновременно, не больше (по умолчанию 1000)\n"
    "  --address АДРЕС    слушать только этот адрес (по умолчанию все)\n"
    "  --json             журнал в stderr: объект JSON в строке\n"
    "\n"
    "Журнал: строка на событие в stderr. SIGTERM или SIGINT: обмены, что идут,\n"
    "завершаются (не дольше 5 с), задания, не успевшие закончиться, остаются в\n"
    "очереди; код выхода 0. Код 2 — ошибка в командной строке или реестр нельзя\n"
    "открыть, 3 — порт не открыть (занят, нет прав).\n";

int printVersion(const Run& run) {
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("program", kProgram).field("version", VXRT7_VERSION).endObject();
        printJson(doc);
    } else {
        console::write(1, std::string(kProgram) + " " + VXRT7_VERSION + "\n");
    }
    return kSuccess;
}

} // namespace

int main(int argc, char** argv) {
    Run run;
    bool help = false;
    bool version = false;
    std::vector<std::string> words;
    for (const std::string& word : console::arguments(argc, argv)) {
        const char* arg = word.c_str();
        if (std::strcmp(arg, "--json") == 0) {
            run.json = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            help = true;
        } else if (std::strcmp(arg, "--version") == 0 && words.empty()) {
            version = true;
        } else {
            words.emplace_back(arg);
        }
    }
    if (version) {
        return printVersion(run);
    }
    if (words.empty()) {
        return help ? printHelp(run, kMainHelp) : usage(run, "не указана команда");
    }
    const std::string command = words.front();
    std::vector<std::string> args(words.begin() + 1, words.end());
    if (command == "ports") {
        run.command = command;
        return help ? printHelp(run, kPortsHelp) : portsCommand(run, args);
    }
    if (command == "diff") {
        run.command = command;
        const bool withPort = std::any_of(args.begin(), args.end(), [](const std::string& a) {
            return a == "--all" || a.rfind("--port", 0) == 0;
        });
        return help       ? printHelp(run, kDiffHelp)
               : withPort ? diffPortCommand(run, args)
                          : diffCommand(run, args);
    }
    using DeviceCommand = int (*)(Run&, const std::vector<std::string>&);
    const std::pair<const char*, std::pair<DeviceCommand, const char*>> device[] = {
        {"info", {infoCommand, kInfoHelp}},
        {"read", {readCommand, kReadHelp}},
        {"write", {writeCommand, kWriteHelp}},
        {"flash", {flashCommand, kFlashHelp}}};
    for (const auto& [name, entry] : device) {
        if (command == name) {
            run.command = command;
            return help ? printHelp(run, std::string(entry.second) + kDeviceOptions)
                        : entry.first(run, args);
        }
    }
    if (command == "serve") {
        run.command = command;
        return help ? printHelp(run, kServeHelp) : serveCommand(run, args);
    }
    if (command == "fleet") {
        run.command = command;
        return fleetCommand(run, args, help);
    }
    if (command == "numbers") {
        run.command = command;
        const std::string action = args.empty() ? std::string() : args.front();
        if (help || args.empty()) {
            return help ? printHelp(run, kNumbersHelp)
                        : usage(run, "не указано действие: export или import");
        }
        args.erase(args.begin());
        if (action == "export" || action == "import") {
            run.command += " " + action;
            return action == "export" ? numbersExportCommand(run, args)
                                      : numbersImportCommand(run, args);
        }
        return usage(run, "неизвестное действие «" + action + "»: нужно export или import");
    }
    if (command.size() > 1 && command[0] == '-') {
        return usage(run, "неизвестный параметр «" + command + "»");
    }
    return usage(run, "неизвестная команда «" + command + "»");
}
