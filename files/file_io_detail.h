// What file_io.cpp shares with its platform files; not for use elsewhere.
#pragma once

#include "files/file_io.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace file_io::detail {

// The hook of setWriteChunkHook.
std::function<void(std::size_t)>& chunkHook();
// Fills `error` (when given) with the code and its reason; false.
bool fail(FileError* error, int code, std::string reason = {});
// A decimal number as this program writes it: digits without a leading zero.
std::optional<unsigned long> plainDecimal(std::string_view digits);

} // namespace file_io::detail
