// The tool's terminal and command line, the part that differs between the
// platforms (console_posix.cpp, console_win.cpp). Texts are UTF-8 inside
// the program.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace console {

// True when `fd` (1 stdout, 2 stderr) is a terminal (on Windows: a console).
bool isTerminal(int fd);
// Writes the whole text to `fd`. A Windows console is given it as UTF-16,
// so that Russian is readable whatever its code page; files and pipes get
// the UTF-8 bytes, as on Linux.
void write(int fd, std::string_view text);
// The command line's words after the program's name, in UTF-8 (Windows
// hands them over in UTF-16).
std::vector<std::string> arguments(int argc, char** argv);

} // namespace console
