#include "tests/support/as_other_user.h"

#include <climits>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

OtherUserRun runTestAsOtherUser(const std::string& test,
                                const std::vector<std::pair<std::string, std::string>>& env) {
    OtherUserRun run;
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    int out[2];
    if (n <= 0 || ::pipe(out) != 0) {
        return run;
    }
    self[n] = '\0';
    const std::string filter = "--gtest_filter=" + test;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::close(out[0]);
        ::close(out[1]);
        for (const auto& [name, value] : env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        ::setenv("HOME", "/tmp", 1);
        ::unsetenv("XDG_RUNTIME_DIR");
        ::unsetenv("XDG_CONFIG_HOME");
        ::execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                self, filter.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(out[0], buffer, sizeof buffer)) > 0) {
        run.output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(out[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    return run;
}
