#include "session/number_changes.h"

#include <charconv>

namespace number_changes {

namespace {

// The apartment the device stores for a text: a whole number kept in 16 bits,
// shown without leading zeros. A text that is no such number (the list check
// refuses it before a write) is compared as it stands.
std::string storedApartment(const std::string& text) {
    if (text.empty()) {
        return "0";
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value > 65535) {
        return text;
    }
    return std::to_string(value);
}

} // namespace

std::vector<Cell> cellsOf(const NumberGrid& grid) {
    std::vector<Cell> cells;
    for (int r = 1; r <= grid.rowCount(); ++r) {
        std::string number = grid.cell(NumberGrid::kNumberColumn, r);
        if (!number.empty()) {
            cells.push_back(
                {std::move(number), storedApartment(grid.cell(NumberGrid::kApartmentColumn, r))});
        }
    }
    return cells;
}

Plan plan(const std::vector<Cell>& held, const std::vector<Cell>& wanted) {
    Plan p;
    p.length = static_cast<int>(wanted.size());
    p.send.resize(wanted.size());
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        p.send[k] = k >= held.size() || held[k] != wanted[k];
        p.cells += p.send[k] ? 1 : 0;
    }
    return p;
}

} // namespace number_changes
