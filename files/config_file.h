// The configuration file (.fcd): the whole configuration of a device on disk.
//
// Layout, byte for byte:
//   0    68 bytes  the configuration block
//   68   32 bytes  zero
//   100  "\r\n\r\n[Numbers]\r\n"
//   115  for i = 1..650: "N<i>=<number>\r\n" then "Kv<i>=<apartment>\r\n"
// Numbers and apartments are the texts of the grid's rows in code page 1251,
// empty rows included, so a file with an empty list is 9649 bytes. The part
// from offset 100 on is read as an INI text with the Windows profile rules;
// the block before it may hold any bytes and is never read as text.
#pragma once

#include "config/config_block.h"
#include "files/number_grid.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace config_file {

inline constexpr std::size_t kHeadSize = 100; // the block and its zero padding
inline constexpr std::string_view kSectionHeader = "\r\n\r\n[Numbers]\r\n";
inline constexpr std::size_t kEmptyFileSize = 9649;
// A file larger than this is no configuration file (650 rows of values at
// their 2047-character limit stay well below it).
inline constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

// The bytes of a file, or why the grid cannot be stored (a text with a
// character that code page 1251 has no form for, named by row and column).
struct Encoded {
    std::string bytes;
    std::optional<std::string> error;
    bool ok() const { return !error.has_value(); }
};

// The file for `block` and the rows of `grid` (N8Click's writing part).
Encoded encode(const ConfigBlock::Bytes& block, const NumberGrid& grid);

// What a file holds: the block and the 650 rows (number, apartment) as UTF-8.
struct Decoded {
    ConfigBlock::Bytes block{};
    std::vector<std::array<std::string, 2>> rows; // rows 1..650
};

// Why a file is not loaded. Every file this program or the Windows program
// writes holds all 650 rows (N1..N650, Kv1..Kv650) and ends with a line end;
// one that lacks a key or whose last line is cut off is incomplete (copied
// or saved only in part), and loading it would erase the rows it lost.
struct DecodeError {
    enum class Kind { NotConfiguration, Incomplete };
    Kind kind = Kind::NotConfiguration;
    std::string reason;   // Russian, without the file name
    int completeRows = 0; // Incomplete: rows 1..completeRows are whole
    // The sentence for the user, naming the file: "Файл «x.fcd» неполный:
    // обрывается после строки 186 из 650 списка номеров".
    std::string message(std::string_view fileName) const;
};

// Reads a file (N3Click's reading part). A file with no "[Numbers]" section
// behind its 100-byte head (a CSV file, a firmware image, a file cut short
// in its head) holds no configuration; an incomplete one (above) holds only
// part of one. Both are refused, so that the pages and the list are never a
// mix of two configurations.
std::optional<Decoded> decode(std::string_view bytes, DecodeError* error);

// Puts the rows of a decoded file into the grid, every row replaced.
void fillGrid(const Decoded& decoded, NumberGrid& grid);

} // namespace config_file
