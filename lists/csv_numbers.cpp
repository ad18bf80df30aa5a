#include "lists/csv_numbers.h"

#include "protocol/cp1251.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>

namespace csv_numbers {

namespace {

constexpr std::string_view kBlanks = " \t";

// A text from the file for a message: converted, and cut when long.
std::string shown(std::string_view bytes) {
    constexpr std::size_t kMax = 40;
    if (bytes.size() > kMax) {
        return cp1251::toUtf8(bytes.substr(0, kMax)) + "…";
    }
    return cp1251::toUtf8(bytes);
}

struct Split {
    std::string_view apartment;
    std::string_view number;
};

Split splitLine(std::string_view line) {
    const auto semicolon = line.find(';');
    if (semicolon == std::string_view::npos) {
        return {{}, line};
    }
    return {line.substr(0, semicolon), line.substr(semicolon + 1)};
}

} // namespace

namespace {

// The text up to its first zero byte.
std::string_view textPart(std::string_view bytes) {
    const void* zero = std::memchr(bytes.data(), 0, bytes.size());
    return zero == nullptr ? bytes
                           : bytes.substr(0, static_cast<std::size_t>(
                                                 static_cast<const char*>(zero) - bytes.data()));
}

// The line that starts at `start` (< text.size()); moves `start` past its end.
std::string_view nextLine(std::string_view text, std::size_t& start) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') {
        ++end;
    }
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n') {
        ++start;
    }
    return line;
}

} // namespace

std::vector<std::string_view> splitLines(std::string_view bytes) {
    const std::string_view text = textPart(bytes);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        lines.push_back(nextLine(text, start));
    }
    return lines;
}

std::optional<int> parseApartment(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string ImportResult::summary() const {
    std::string line = "Импорт из CSV: импортировано номеров: " + std::to_string(imported) +
                       " (со строки " + std::to_string(firstRow) +
                       "), пропущено строк короче 8 символов: " + std::to_string(skippedShort);
    if (notFitting > 0) {
        line += ", не поместилось в список: " + std::to_string(notFitting);
    }
    if (error) {
        line += "; импорт остановлен на ошибке";
    }
    return line;
}

ImportResult importCsv(std::string_view bytes, NumberGrid& grid) {
    ImportResult result;
    const int rows = grid.rowCount();
    int target = 1;
    while (target <= rows && !grid.cell(NumberGrid::kNumberColumn, target).empty()) {
        ++target;
    }
    if (target > rows) {
        return result;
    }
    result.started = true;
    result.firstRow = target;

    int apartment = -1; // none read yet; set once per run, not per line
    const std::string_view text = textPart(bytes);
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        const Split part = splitLine(nextLine(text, start));
        ++lineNumber;
        if (target > rows) {
            // The list is full: what is left is only counted.
            if (part.number.size() < kMinNumberLength) {
                ++result.skippedShort;
            } else {
                ++result.notFitting;
            }
            continue;
        }
        if (!part.apartment.empty()) {
            const auto value = parseApartment(part.apartment);
            if (!value) {
                result.error = "Строка " + std::to_string(lineNumber) + " файла CSV: «" +
                               shown(part.apartment) +
                               "» не является целым числом (номер квартиры). Импорт "
                               "остановлен; номеров записано до этой строки: " +
                               std::to_string(result.imported) + ".";
                return result;
            }
            apartment = *value;
        }
        if (part.number.size() < kMinNumberLength) {
            ++result.skippedShort;
            continue;
        }
        grid.setCell(NumberGrid::kNumberColumn, target, cp1251::toUtf8(part.number));
        if (apartment != -1) {
            grid.setCell(NumberGrid::kApartmentColumn, target, std::to_string(apartment));
        }
        ++target;
        ++result.imported;
    }
    return result;
}

Exported exportCsv(const NumberGrid& grid) {
    Exported result;
    bool carried = false; // an apartment value that the import would carry on
    for (int row = 1; row <= grid.rowCount(); ++row) {
        const std::string number = grid.cell(NumberGrid::kNumberColumn, row);
        if (number.empty()) {
            continue;
        }
        const std::string apartment = grid.cell(NumberGrid::kApartmentColumn, row);
        auto refuse = [&](const std::string& why) {
            result.bytes.clear();
            result.rows = 0;
            result.error = "Строка " + std::to_string(row) + " списка номеров: " + why +
                           ". Экспорт не выполнен.";
            return result;
        };
        auto encoded = cp1251::fromUtf8(number);
        if (!encoded.ok()) {
            return refuse("номер: " + encoded.error->message());
        }
        if (encoded.bytes.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            return refuse("номер содержит перевод строки или нулевой символ");
        }
        if (encoded.bytes.size() < kMinNumberLength) {
            return refuse("номер «" + number + "» короче 8 символов, импорт из CSV его не примет");
        }
        std::string apartmentPart;
        if (apartment.empty()) {
            // "-1" stops a value of an earlier line from carrying over.
            apartmentPart = carried ? "-1" : "";
            carried = false;
        } else {
            const auto value = parseApartment(apartment);
            if (!value || *value == -1 || std::to_string(*value) != apartment) {
                return refuse("квартира «" + apartment +
                              "» не записана целым числом без пробелов и нулей в начале, "
                              "импорт из CSV не вернёт её в том же виде");
            }
            apartmentPart = apartment;
            carried = true;
        }
        result.bytes += apartmentPart;
        result.bytes += ';';
        result.bytes += encoded.bytes;
        result.bytes += "\r\n";
        ++result.rows;
    }
    return result;
}

} // namespace csv_numbers
