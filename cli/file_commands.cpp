// The commands on files: diff of two configuration files, and the number
// list between a configuration file and CSV in the window's CSV format.
#include "cli/commands.h"

#include "files/config_diff.h"
#include "files/csv_numbers.h"
#include "files/file_io.h"
#include "files/number_grid.h"

namespace cli {

namespace {

std::string place(const config_diff::Entry& e) {
    return "строка " + std::to_string(e.row) + ", кв. " + e.apartment;
}

void entryJson(JsonWriter& doc, const config_diff::Entry& e) {
    doc.beginObject().field("row", e.row).field("apartment", e.apartment).endObject();
}

} // namespace

void writeDiffFields(JsonWriter& doc, const config_diff::Result& d) {
    doc.field("equal", d.equal());
    doc.key("settings").beginArray();
    for (const auto& s : d.settings) {
        doc.beginObject().field("name", s.name).field("first", s.first);
        doc.field("second", s.second).endObject();
    }
    doc.endArray();
    for (const auto& [name, list] : {std::pair{"added", &d.added}, {"removed", &d.removed}}) {
        doc.key(name).beginArray();
        for (const auto& e : *list) {
            doc.beginObject().field("number", e.number).field("row", e.row);
            doc.field("apartment", e.apartment).endObject();
        }
        doc.endArray();
    }
    doc.key("moved").beginArray();
    for (const auto& m : d.moved) {
        doc.beginObject().field("number", m.number).key("from");
        entryJson(doc, m.from);
        doc.key("to");
        entryJson(doc, m.to);
        doc.endObject();
    }
    doc.endArray();
}

void printDiffText(const Run& run, const config_diff::Result& d) {
    if (d.equal()) {
        say(run, "Различий нет");
        return;
    }
    if (!d.settings.empty()) {
        say(run, "Настройки:");
        for (const auto& s : d.settings) {
            say(run, "  " + s.name + ": «" + s.first + "» → «" + s.second + "»");
        }
    }
    if (!d.added.empty() || !d.removed.empty() || !d.moved.empty()) {
        say(run, "Номера:");
        for (const auto& e : d.removed) {
            say(run, "  удалён " + e.number + " (" + place(e) + ")");
        }
        for (const auto& e : d.added) {
            say(run, "  добавлен " + e.number + " (" + place(e) + ")");
        }
        for (const auto& m : d.moved) {
            say(run, "  перемещён " + m.number + ": " + place(m.from) + " → " + place(m.to));
        }
    }
}

namespace {

void printDiff(const Run& run, const config_diff::Result& d, const std::string& first,
               const std::string& second) {
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("command", run.command).field("first", first);
        doc.field("second", second);
        writeDiffFields(doc, d);
        doc.endObject();
        printJson(doc);
        return;
    }
    printDiffText(run, d);
}

bool save(const Run& run, const std::string& path, std::string_view bytes, int* exitCode) {
    file_io::FileError failure;
    if (!file_io::writeFileAtomically(path, bytes, &failure)) {
        *exitCode = fail(run, kUsageError,
                         "Не удается сохранить файл " + quoted(path) + ": " + failure.reason);
        return false;
    }
    return true;
}

} // namespace

int diffCommand(Run& run, const std::vector<std::string>& args) {
    std::string error;
    const auto parsed = parseArgs(args, {}, &error);
    if (!parsed) {
        return usage(run, error);
    }
    if (parsed->positional.size() != 2) {
        return usage(run, "нужны два файла конфигурации");
    }
    const std::string& first = parsed->positional[0];
    const std::string& second = parsed->positional[1];
    int code = kSuccess;
    const auto a = loadConfigFile(run, first, &code);
    if (!a) {
        return code;
    }
    const auto b = loadConfigFile(run, second, &code);
    if (!b) {
        return code;
    }
    const config_diff::Result d = config_diff::compare(*a, *b);
    printDiff(run, d, first, second);
    return d.equal() ? kSuccess : kDiffers;
}

int numbersExportCommand(Run& run, const std::vector<std::string>& args) {
    std::string error;
    const auto parsed = parseArgs(args, {"-o", "--output"}, &error);
    if (!parsed) {
        return usage(run, error);
    }
    if (parsed->positional.size() != 1) {
        return usage(run, "нужен один файл конфигурации");
    }
    if (parsed->options.size() != 1) {
        return usage(run, "нужен файл CSV: -o ФАЙЛ.csv");
    }
    const std::string& input = parsed->positional[0];
    const std::string output = parsed->options.begin()->second;
    int code = kSuccess;
    const auto file = loadConfigFile(run, input, &code);
    if (!file) {
        return code;
    }
    MemoryNumberGrid grid;
    config_file::fillGrid(*file, grid);
    const auto exported = csv_numbers::exportCsv(grid);
    if (!exported.ok()) {
        return fail(run, kUsageError, *exported.error);
    }
    if (!save(run, output, exported.bytes, &code)) {
        return code;
    }
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("command", run.command).field("input", input);
        doc.field("output", output).field("rows", exported.rows).endObject();
        printJson(doc);
    } else {
        say(run, "Экспорт в CSV: записано номеров: " + std::to_string(exported.rows) + " в файл " +
                     quoted(output));
    }
    return kSuccess;
}

int numbersImportCommand(Run& run, const std::vector<std::string>& args) {
    std::string error;
    const auto parsed = parseArgs(args, {"-o", "--output"}, &error);
    if (!parsed) {
        return usage(run, error);
    }
    if (parsed->positional.size() != 2) {
        return usage(run, "нужны файл CSV и файл конфигурации");
    }
    const std::string& csvPath = parsed->positional[0];
    const std::string& fcdPath = parsed->positional[1];
    const std::string output = parsed->options.empty() ? fcdPath : parsed->options.begin()->second;
    const std::string notWritten = "Файл " + quoted(output) + " не записан.";

    int code = kSuccess;
    const auto file = loadConfigFile(run, fcdPath, &code);
    if (!file) {
        return code;
    }
    file_io::FileError failure;
    const auto csv = file_io::readWholeFile(csvPath, csv_numbers::kMaxFileSize, &failure);
    if (!csv) {
        return fail(run, kUsageError,
                    "Не удается открыть файл " + quoted(csvPath) + ": " + failure.reason);
    }
    MemoryNumberGrid grid;
    config_file::fillGrid(*file, grid);
    const auto result = csv_numbers::importCsv(*csv, grid);
    if (!result.started) {
        return fail(run, kUsageError,
                    "Импорт из CSV: все " + std::to_string(NumberGrid::kRows) +
                        " строк списка номеров заняты, номера некуда записать. " + notWritten);
    }
    if (result.error) {
        // Half an import in a file would look like a whole one: nothing is written.
        return fail(run, kUsageError, *result.error + " " + notWritten);
    }
    const auto encoded = config_file::encode(file->block, grid);
    if (!encoded.ok()) {
        return fail(run, kUsageError, "Файл не сохранён. " + *encoded.error);
    }
    if (!save(run, output, encoded.bytes, &code)) {
        return code;
    }
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("command", run.command).field("csv", csvPath);
        doc.field("input", fcdPath).field("output", output);
        doc.field("imported", result.imported).field("firstRow", result.firstRow);
        doc.field("skippedShort", result.skippedShort).field("notFitting", result.notFitting);
        doc.field("notPhoneNumbers", result.notPhoneNumbers);
        if (result.notPhoneNumbers > 0) {
            doc.field("firstNotPhoneLine", result.firstNotPhoneLine);
        }
        doc.field("invalidLines", result.invalidLines);
        if (result.invalidLines > 0) {
            doc.field("firstInvalidLine", result.firstInvalidLine);
        }
        doc.field("utf8", result.utf8).field("summary", result.summary());
        doc.endObject();
        printJson(doc);
    } else {
        say(run, result.summary());
        say(run, "Записан файл " + quoted(output));
    }
    return kSuccess;
}

} // namespace cli
