// The subscriber number list as operations on the number grid: search, clear
// and add-if-absent. Rows are entries 1 to 650, column 1 the number, column 2
// the apartment; a row holds an entry exactly when its number is not empty.
// Texts are UTF-8 as the grid keeps them; a substring of UTF-8 text is a
// substring of the same characters, so the search matches what the user sees.
#pragma once

#include "files/number_grid.h"

#include <string>
#include <string_view>

namespace number_list {

// The first row (1..650, ascending) whose number contains `text` anywhere,
// case-sensitively; 0 when none does. The empty text occurs in every number,
// so it finds row 1.
int findNumberRow(const NumberGrid& grid, std::string_view text);

// Empties the number and apartment of every row. The headings are the
// window's; it writes them again itself.
void clearNumbers(NumberGrid& grid);

enum class AddResult {
    Added,     // written into the first row without a number
    Duplicate, // some row holds exactly this number: nothing changed
    Full,      // every row holds a number: nothing changed
    Empty,     // the text is empty: there is nothing to add
};

// Adds `text` as a new entry unless a row already holds exactly that number.
// The new entry goes into the first row whose number is empty; that row's
// apartment is left as it is. `row`, when given, receives the row written
// (or the row holding the duplicate), 0 otherwise.
AddResult addIfAbsent(NumberGrid& grid, const std::string& text, int* row = nullptr);

// The message shown for a duplicate.
inline constexpr const char* kDuplicateMessage = "Ключ с таким номером уже присутствует в списке";

} // namespace number_list
