#include "cli/console.h"

#include <cerrno>
#include <unistd.h>

namespace console {

bool isTerminal(int fd) {
    return ::isatty(fd) == 1;
}

void write(int fd, std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // a closed terminal or pipe: nothing to write on
        }
        at += static_cast<std::size_t>(n);
    }
}

std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

} // namespace console
