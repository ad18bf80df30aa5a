// In a forked child: runs the program args[0] with the arguments; exits 127
// when it cannot be run.
#pragma once

#include <string>
#include <unistd.h>
#include <vector>

[[noreturn]] inline void execArgs(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}
