// vxrt7-cli: the configurator's work on files and ports from a terminal or
// a script, on the same core as the window and without a display.
#include "cli/commands.h"

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
    "  diff A.fcd B.fcd                     различия двух файлов конфигурации\n"
    "  numbers export ФАЙЛ.fcd -o ФАЙЛ.csv  список номеров в файл CSV\n"
    "  numbers import ФАЙЛ.csv ФАЙЛ.fcd [-o НОВЫЙ.fcd]\n"
    "                                       номера из файла CSV в файл конфигурации\n"
    "\n"
    "Параметры:\n"
    "  --json      результат одним документом JSON на stdout\n"
    "  --help      справка; у каждой команды своя: vxrt7-cli diff --help\n"
    "  --version   версия программы\n"
    "\n"
    "Коды выхода: 0 — успешно, 1 — файлы различаются,\n"
    "2 — ошибка в командной строке или файл, который нельзя прочитать или записать.\n";

const char* const kPortsHelp =
    "Использование: vxrt7-cli ports [--json]\n"
    "\n"
    "Все последовательные порты и их состояние сейчас: свободен; занят (и какой\n"
    "программой, если система это показывает); нет доступа (и как его получить:\n"
    "группа, которой принадлежит порт); имена из /dev/serial/by-id.\n";

const char* const kDiffHelp =
    "Использование: vxrt7-cli diff [--json] A.fcd B.fcd\n"
    "\n"
    "Сравнивает два файла конфигурации: настройки, которые различаются (под их\n"
    "названиями в окне программы), и номера, добавленные, удалённые или\n"
    "перемещённые (другая строка или квартира).\n"
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

int printHelp(const Run& run, const char* text) {
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("help", text).endObject();
        printJson(doc);
    } else {
        std::fputs(text, stdout);
    }
    return kSuccess;
}

int printVersion(const Run& run) {
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("program", kProgram).field("version", VXRT7_VERSION).endObject();
        printJson(doc);
    } else {
        std::printf("%s %s\n", kProgram, VXRT7_VERSION);
    }
    return kSuccess;
}

} // namespace

int main(int argc, char** argv) {
    Run run;
    bool help = false;
    bool version = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
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
        return help ? printHelp(run, kDiffHelp) : diffCommand(run, args);
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
