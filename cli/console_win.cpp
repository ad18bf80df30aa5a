#include "cli/console.h"

#include "files/wide_text_win.h"

#include <io.h>
#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

namespace console {

namespace {

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool isConsole(HANDLE h) {
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_CHAR &&
           ::GetConsoleMode(h, &mode);
}

} // namespace

bool isTerminal(int fd) {
    return isConsole(handleOf(fd));
}

void write(int fd, std::string_view text) {
    HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE || text.empty()) {
        return;
    }
    if (isConsole(h)) {
        const std::wstring wide = wide_text::widen(std::string(text));
        std::size_t at = 0;
        while (at < wide.size()) {
            DWORD n = 0;
            if (!::WriteConsoleW(h, wide.data() + at, static_cast<DWORD>(wide.size() - at), &n,
                                 nullptr) ||
                n == 0) {
                return;
            }
            at += n;
        }
        return;
    }
    std::size_t at = 0;
    while (at < text.size()) {
        DWORD n = 0;
        if (!::WriteFile(h, text.data() + at, static_cast<DWORD>(text.size() - at), &n, nullptr) ||
            n == 0) {
            return;
        }
        at += n;
    }
}

std::vector<std::string> arguments(int, char**) {
    std::vector<std::string> words;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return words;
    }
    for (int i = 1; i < count; ++i) {
        words.push_back(wide_text::narrow(wide[i]));
    }
    ::LocalFree(wide);
    return words;
}

} // namespace console
