// Windows: the program's texts and paths are UTF-8; the system's wide
// interface takes UTF-16. For the Windows files of files/ and cli/.
#pragma once

#include <string>

namespace wide_text {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);
// The errno that stands for a Windows error of a file operation.
int errnoOf(unsigned long windowsError);

} // namespace wide_text
