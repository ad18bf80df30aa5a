#include "cli/cli_common.h"

#include "cli/console.h"
#include "files/file_io.h"

#include <cstdio>

namespace cli {

void printJson(const JsonWriter& doc) {
    console::write(1, doc.text() + "\n");
}

void say(const Run& run, const std::string& line) {
    if (!run.json) {
        console::write(1, line + "\n");
    }
}

void complain(const std::string& message) {
    console::write(2, std::string(kProgram) + ": " + message + "\n");
}

int printHelp(const Run& run, const std::string& text) {
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("help", text).endObject();
        printJson(doc);
    } else {
        console::write(1, text);
    }
    return kSuccess;
}

int fail(const Run& run, int code, const std::string& message) {
    complain(message);
    if (run.json) {
        JsonWriter doc;
        doc.beginObject();
        if (!run.command.empty()) {
            doc.field("command", run.command);
        }
        doc.field("error", message).field("exitCode", code).endObject();
        printJson(doc);
    }
    return code;
}

int usage(const Run& run, const std::string& message) {
    const std::string help = run.command.empty()
                                 ? std::string(kProgram) + " --help"
                                 : std::string(kProgram) + " " + run.command + " --help";
    return fail(run, kUsageError, message + ". Справка: " + help);
}

std::optional<Args> parseArgs(const std::vector<std::string>& args,
                              const std::set<std::string>& withValue, std::string* error) {
    Args parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        if (withValue.count(name) == 0) {
            *error = "неизвестный параметр «" + arg + "»";
            return std::nullopt;
        }
        if (parsed.options.count(name) != 0) {
            *error = "параметр " + name + " указан дважды";
            return std::nullopt;
        }
        if (eq != std::string::npos) {
            parsed.options[name] = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            parsed.options[name] = args[++i];
        } else {
            *error = "после " + name + " нужно значение";
            return std::nullopt;
        }
        if (parsed.options[name].empty()) {
            *error = "пустое значение параметра " + name;
            return std::nullopt;
        }
    }
    return parsed;
}

std::string quoted(const std::string& path) {
    return "«" + path + "»";
}

std::optional<config_file::Decoded> loadConfigFile(const Run& run, const std::string& path,
                                                   int* exitCode) {
    file_io::FileError failure;
    const auto bytes = file_io::readWholeFile(path, config_file::kMaxFileSize, &failure);
    if (!bytes) {
        *exitCode = fail(run, kUsageError,
                         "Не удается открыть файл " + quoted(path) + ": " + failure.reason);
        return std::nullopt;
    }
    config_file::DecodeError why;
    auto decoded = config_file::decode(*bytes, &why);
    if (!decoded) {
        *exitCode = fail(run, kUsageError, why.message(path) + ".");
    }
    return decoded;
}

} // namespace cli
