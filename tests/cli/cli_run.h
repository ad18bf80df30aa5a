// Runs the built vxrt7-cli as a child process, as a script would: its exit
// code, its stdout and its stderr apart, and stdout parsed as JSON.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

struct CliResult {
    int code = -1;
    std::string out;
    std::string err;

    // stdout as one JSON object; a failure names what came instead.
    QJsonObject json() const {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError)
            << error.errorString().toStdString() << " in: " << out;
        EXPECT_TRUE(doc.isObject()) << out;
        return doc.object();
    }
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs the tool with `args` in `dir`, without a display in its environment.
inline CliResult runCli(const std::vector<std::string>& args, const std::string& dir) {
    const std::string outPath = dir + "/.stdout";
    const std::string errPath = dir + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
            entry.rfind("QT_QPA_PLATFORM=", 0) != 0) {
            envStrings.push_back(entry);
        }
    }
    std::vector<char*> env;
    for (auto& entry : envStrings) {
        env.push_back(entry.data());
    }
    env.push_back(nullptr);
    std::vector<std::string> argStrings{VXRT7_CLI_PATH};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    CliResult result;
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, VXRT7_CLI_PATH, &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << VXRT7_CLI_PATH;
        return result;
    }
    // A tool that never ends is a failure of its own, not a hung test.
    int status = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > limit) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "vxrt7-cli did not end within 60 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = slurp(outPath);
    result.err = slurp(errPath);
    return result;
}
