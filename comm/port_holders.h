// The platform's part of the open failures' texts (open_result_posix.cpp,
// open_result_win.cpp).
#pragma once

#include <string>

namespace comm::detail {

// Why this user may not open the device and what to do about it, in Russian.
std::string permissionAdvice(const std::string& devicePath);

} // namespace comm::detail
