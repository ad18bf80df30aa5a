#include "files/csv_numbers.h"

#include "protocol/cp1251.h"

#include <algorithm>
#include <charconv>
#include <climits>

namespace csv_numbers {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool hasHighBytes(std::string_view bytes) {
    return std::any_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// A text from the file for a message: as UTF-8, and cut when long.
std::string shown(std::string_view bytes, bool utf8) {
    constexpr std::size_t kMax = 40;
    if (!utf8) {
        return bytes.size() > kMax ? cp1251::toUtf8(bytes.substr(0, kMax)) + "…"
                                   : cp1251::toUtf8(bytes);
    }
    if (bytes.size() <= kMax) {
        return std::string(bytes);
    }
    std::size_t cut = kMax;
    while (cut > 0 && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) {
        --cut; // not inside a character
    }
    return std::string(bytes.substr(0, cut)) + "…";
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

// The first line with a byte beyond ASCII, as the UTF-8 message shows it.
std::pair<std::size_t, std::string> firstHighLine(std::string_view text) {
    std::size_t number = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::string_view line = nextLine(text, start);
        ++number;
        if (hasHighBytes(line)) {
            return {number, shown(line, true)};
        }
    }
    return {0, {}};
}

} // namespace

std::vector<std::string_view> splitLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        lines.push_back(nextLine(bytes, start));
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

bool looksLikePhoneNumber(std::string_view number) {
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1);
    }
    return number.size() >= 8 && number.size() <= 11 &&
           std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
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
    if (notPhoneNumbers > 0) {
        line += "; из них не похожи на номер телефона (не 8–11 цифр, «+» в начале можно): " +
                std::to_string(notPhoneNumbers) + ", первый — в строке " +
                std::to_string(firstNotPhoneLine) + " «" + firstNotPhoneText + "»";
    }
    if (invalidLines > 0) {
        line += "; пропущено недопустимых строк: " + std::to_string(invalidLines) +
                ", первая — строка " + std::to_string(firstInvalidLine) + " (" +
                firstInvalidReason + ")";
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

    result.utf8 = bytes.starts_with(kByteOrderMark);
    const std::string_view text = result.utf8 ? bytes.substr(kByteOrderMark.size()) : bytes;
    if (!result.utf8 && hasHighBytes(text) && cp1251::utf8Length(text)) {
        // Read as 1251, its Cyrillic would come out as "РљРІР°СЂС‚РёСЂР°".
        const auto [lineNumber, line] = firstHighLine(text);
        result.error = "Файл CSV, похоже, в кодировке UTF-8 (строка " + std::to_string(lineNumber) +
                       ": «" + line +
                       "»), а импорт читает Windows-1251 или UTF-8 с меткой порядка байтов "
                       "(BOM) в начале. Сохраните файл заново: в Excel — как «CSV UTF-8», "
                       "в LibreOffice Calc — как «Текст CSV» с кодировкой «Кириллица "
                       "(Windows-1251)». Ничего не импортировано.";
        return result;
    }
    // The length in characters: one a byte in 1251.
    auto length = [&](std::string_view part) {
        return result.utf8 ? cp1251::utf8Length(part).value_or(part.size()) : part.size();
    };

    int apartment = -1; // none read yet; set once per run, not per line
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::string_view line = nextLine(text, start);
        ++lineNumber;
        // A UTF-8 line must also fit code page 1251, which the device and
        // the configuration file hold.
        std::string invalid;
        if (line.find('\0') != std::string_view::npos) {
            invalid = "нулевой байт";
        } else if (result.utf8) {
            if (const auto encoded = cp1251::fromUtf8(line); !encoded.ok()) {
                invalid = encoded.error->invalidUtf8 ? "байты не в кодировке UTF-8"
                                                     : encoded.error->message();
            }
        }
        if (!invalid.empty()) {
            if (result.invalidLines++ == 0) {
                result.firstInvalidLine = static_cast<int>(lineNumber);
                result.firstInvalidReason = invalid;
            }
            continue;
        }
        const Split part = splitLine(line);
        if (target > rows) {
            // The list is full: what is left is only counted.
            if (length(part.number) < kMinNumberLength) {
                ++result.skippedShort;
            } else {
                ++result.notFitting;
            }
            continue;
        }
        if (!part.apartment.empty()) {
            const auto value = parseApartment(part.apartment);
            const bool apartmentOk =
                value && (*value == -1 || (*value >= 0 && *value <= kMaxApartment));
            if (!apartmentOk) {
                result.error = "Строка " + std::to_string(lineNumber) + " файла CSV: «" +
                               shown(part.apartment, result.utf8) +
                               (value ? "» не является номером квартиры (допустимы числа от 0 до " +
                                            std::to_string(kMaxApartment) + ")"
                                      : "» не является целым числом (номер квартиры)") +
                               ". Импорт остановлен; номеров записано до этой строки: " +
                               std::to_string(result.imported) + ".";
                return result;
            }
            apartment = *value;
        }
        if (length(part.number) < kMinNumberLength) {
            ++result.skippedShort;
            continue;
        }
        const std::string number =
            result.utf8 ? std::string(part.number) : cp1251::toUtf8(part.number);
        if (!looksLikePhoneNumber(part.number) && result.notPhoneNumbers++ == 0) {
            result.firstNotPhoneLine = static_cast<int>(lineNumber);
            result.firstNotPhoneText = shown(part.number, result.utf8);
        }
        grid.setCell(NumberGrid::kNumberColumn, target, number);
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
            if (*value < 0 || *value > kMaxApartment) {
                return refuse("квартира «" + apartment + "» вне пределов от 0 до " +
                              std::to_string(kMaxApartment) + ", импорт из CSV её не примет");
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
    if (hasHighBytes(result.bytes) && cp1251::utf8Length(result.bytes)) {
        // The import would take such a file for UTF-8 and refuse it.
        for (int row = 1; row <= grid.rowCount(); ++row) {
            const std::string text = grid.cell(NumberGrid::kNumberColumn, row) +
                                     grid.cell(NumberGrid::kApartmentColumn, row);
            if (!grid.cell(NumberGrid::kNumberColumn, row).empty() && hasHighBytes(text)) {
                result.bytes.clear();
                result.rows = 0;
                result.error = "Строка " + std::to_string(row) +
                               " списка номеров: в кодировке Windows-1251 текст выглядит как "
                               "UTF-8, импорт из CSV его не примет. Экспорт не выполнен.";
                return result;
            }
        }
    }
    return result;
}

} // namespace csv_numbers
