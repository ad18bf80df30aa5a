// Subscriber numbers from and to CSV text in code page 1251: one entry a
// line, the apartment first and the number after the first semicolon
// ("12;9161234567").
#pragma once

#include "files/number_grid.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace csv_numbers {

// A number part of fewer characters is no number and its line is skipped.
inline constexpr std::size_t kMinNumberLength = 8;
inline constexpr std::size_t kMaxFileSize = 64 * 1024 * 1024;
// The largest apartment a number record holds (16 bits).
inline constexpr int kMaxApartment = 65535;

// The lines of a text: they end with CR LF, CR or LF; a last line without
// line end counts, an empty text has no line. A zero byte is part of its line.
std::vector<std::string_view> splitLines(std::string_view bytes);

// The apartment part as an integer: optional blanks around an optional sign
// and decimal digits that fit 32 bits; nullopt otherwise.
std::optional<int> parseApartment(std::string_view text);

// Whether a number text looks like a telephone number: 8 to 11 digits,
// optionally after a "+".
bool looksLikePhoneNumber(std::string_view number);

struct ImportResult {
    bool started = false; // false: every row holds a number, nothing was done
    int firstRow = 0;     // the first empty row, where writing began
    int imported = 0;     // rows written
    int skippedShort = 0; // lines whose number part is shorter than 8 characters
    int notFitting = 0;   // entries beyond row 650, not kept
    // Imported numbers that do not look like a telephone number, and the
    // first of them: its line in the file and its text (UTF-8).
    int notPhoneNumbers = 0;
    int firstNotPhoneLine = 0;
    std::string firstNotPhoneText;
    // Lines that are no text and were skipped: with a zero byte, or in a
    // UTF-8 file bytes that are not UTF-8 or a character that code page 1251
    // has no form for; the first of them and why.
    int invalidLines = 0;
    int firstInvalidLine = 0;
    std::string firstInvalidReason;
    // The file began with the UTF-8 byte order mark and was read as UTF-8.
    bool utf8 = false;
    // Set when an apartment part is not an integer or not an apartment
    // (outside 0 to 65535, "-1" aside): the import stopped at that line, the
    // rows written before it stay. Set too, before anything is written, for
    // a file in UTF-8 without the byte order mark. Russian, names the line.
    std::optional<std::string> error;
    // The log line that tells the user what happened.
    std::string summary() const;
};

// The CSV import (RzToolButton7Click without its dialog): writes the entries
// of `bytes` into consecutive rows from the first row with an empty number
// on, overwriting what those rows hold. An apartment part sets the
// apartment of its own and of the following lines until the next one; "-1"
// or none read yet leaves the row's apartment cell as it is. The text is
// code page 1251, or UTF-8 after a byte order mark.
ImportResult importCsv(std::string_view bytes, NumberGrid& grid);

struct Exported {
    std::string bytes;
    int rows = 0;
    // Why the list cannot be exported (names the row); nothing is produced.
    std::optional<std::string> error;
    bool ok() const { return !error.has_value(); }
};

// The export ("Экспорт в CSV"): the rows with a number, in order, as
// "apartment;number\r\n" in code page 1251, such that importing the text into
// an empty list gives the same rows back. A row that could not come back
// the same (a number the import would skip or split, an apartment that is
// not the plain decimal text of an integer from 0 to 65535, a character with
// no 1251 form, texts whose 1251 bytes would read as UTF-8) refuses the
// export with a message naming the row.
Exported exportCsv(const NumberGrid& grid);

} // namespace csv_numbers
