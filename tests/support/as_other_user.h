// Runs one test of this test program again as the unprivileged user 65534
// ("nobody", no groups), for the cases that are about what such a user may
// not do. The test recognises the second run by an environment variable it
// passes.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct OtherUserRun {
    int exitCode = -1;  // -1: it could not be started or did not exit
    std::string output; // its standard output and error
};

// Runs this program with --gtest_filter=<test> as user and group 65534 with
// the extra environment; waits for it.
OtherUserRun runTestAsOtherUser(const std::string& test,
                                const std::vector<std::pair<std::string, std::string>>& env);
