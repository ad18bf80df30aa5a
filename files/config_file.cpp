#include "files/config_file.h"

#include "files/ini_file.h"
#include "protocol/cp1251.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

namespace config_file {

namespace {

const char* const kColumnNames[] = {"", "номер телефона", "квартира"};

void appendDecimal(std::string& out, int value) {
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

} // namespace

Encoded encode(const ConfigBlock::Bytes& block, const NumberGrid& grid) {
    Encoded result;
    std::string& out = result.bytes;
    out.reserve(kEmptyFileSize + 16 * static_cast<std::size_t>(grid.rowCount()));
    out.append(reinterpret_cast<const char*>(block.data()), block.size());
    out.append(kHeadSize - block.size(), '\0');
    out.append(kSectionHeader);
    const int rows = std::min(grid.rowCount(), NumberGrid::kRows);
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        for (int col : {NumberGrid::kNumberColumn, NumberGrid::kApartmentColumn}) {
            out += col == NumberGrid::kNumberColumn ? "N" : "Kv";
            appendDecimal(out, row);
            out += '=';
            if (row <= rows) {
                const std::string text = grid.cell(col, row);
                auto refuse = [&](const std::string& why) {
                    result.bytes.clear();
                    result.error = "Строка " + std::to_string(row) + " списка номеров (" +
                                   kColumnNames[col] + "): " + why;
                };
                if (text.find_first_of("\r\n") != std::string::npos) {
                    refuse("перевод строки нельзя сохранить в файл конфигурации");
                    return result;
                }
                // Plain ASCII is already 1251; only other texts need converting.
                if (std::any_of(text.begin(), text.end(),
                                [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
                    auto converted = cp1251::fromUtf8(text);
                    if (!converted.ok()) {
                        refuse(converted.error->message());
                        return result;
                    }
                    out += converted.bytes;
                } else {
                    out += text;
                }
            }
            out += "\r\n";
        }
    }
    return result;
}

std::string DecodeError::message(std::string_view fileName) const {
    const std::string file = "Файл «" + std::string(fileName) + "» ";
    return file + (kind == Kind::Incomplete ? "неполный: " : "не является файлом конфигурации: ") +
           reason;
}

namespace {

bool refuse(DecodeError* error, DecodeError::Kind kind, std::string reason, int completeRows = 0) {
    if (error != nullptr) {
        *error = {kind, std::move(reason), completeRows};
    }
    return false;
}

std::string rowKey(const char* prefix, int row) {
    std::string key = prefix;
    appendDecimal(key, row);
    return key;
}

// Whether every row is there; if not, fills `error` with where the list ends.
bool isComplete(const std::unordered_map<std::string, std::string>& values, bool lastLineCut,
                DecodeError* error) {
    auto has = [&](const char* prefix, int row) { return values.contains(rowKey(prefix, row)); };
    int whole = 0;
    while (whole < NumberGrid::kRows && has("n", whole + 1) && has("kv", whole + 1)) {
        ++whole;
    }
    if (whole == NumberGrid::kRows && !lastLineCut) {
        return true;
    }
    const std::string of = " из " + std::to_string(NumberGrid::kRows) + " списка номеров";
    if (whole == NumberGrid::kRows) {
        return refuse(error, DecodeError::Kind::Incomplete,
                      "его последняя строка оборвана (после строки " + std::to_string(whole) + of +
                          ")",
                      whole);
    }
    // Keys of later rows: a row missing in the middle, not a file cut short.
    bool later = false;
    for (int row = whole + 2; row <= NumberGrid::kRows && !later; ++row) {
        later = has("n", row) || has("kv", row);
    }
    if (!later) {
        return refuse(error, DecodeError::Kind::Incomplete,
                      whole == 0 ? "обрывается перед строкой 1" + of
                                 : "обрывается после строки " + std::to_string(whole) + of,
                      whole);
    }
    const int missing = whole + 1;
    const std::string key =
        has("n", missing) ? "Kv" + std::to_string(missing) : "N" + std::to_string(missing);
    return refuse(
        error, DecodeError::Kind::Incomplete,
        (whole == 0 ? "перед строкой 1" + of : "после строки " + std::to_string(whole) + of) +
            " нет ключа " + key,
        whole);
}

} // namespace

std::optional<Decoded> decode(std::string_view bytes, DecodeError* error) {
    const std::string_view text =
        bytes.size() > kHeadSize ? bytes.substr(kHeadSize) : std::string_view{};
    const IniFile ini = IniFile::parse(text);
    if (!ini.hasSection("Numbers")) {
        refuse(error, DecodeError::Kind::NotConfiguration,
               bytes.size() < kHeadSize + kSectionHeader.size()
                   ? "файл слишком короткий (" + std::to_string(bytes.size()) +
                         " байт) и не содержит раздела [Numbers]"
                   : "в нём нет раздела [Numbers] после 100 байт настроек");
        return std::nullopt;
    }
    // A last line without its line end may have lost the end of its value:
    // it is not read at all.
    const bool lastLineCut = !text.ends_with('\n');
    const auto values =
        lastLineCut ? IniFile::parse(text.substr(0, text.rfind('\n') + 1)).sectionValues("Numbers")
                    : ini.sectionValues("Numbers");
    if (!isComplete(values, lastLineCut, error)) {
        return std::nullopt;
    }
    Decoded decoded;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.data()), ConfigBlock::kSize,
                decoded.block.begin());
    decoded.rows.resize(NumberGrid::kRows);
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        auto& r = decoded.rows[static_cast<std::size_t>(row - 1)];
        r[0] = cp1251::toUtf8(values.at(rowKey("n", row)));
        r[1] = cp1251::toUtf8(values.at(rowKey("kv", row)));
    }
    return decoded;
}

void fillGrid(const Decoded& decoded, NumberGrid& grid) {
    const int rows = std::min(grid.rowCount(), static_cast<int>(decoded.rows.size()));
    for (int row = 1; row <= rows; ++row) {
        const auto& r = decoded.rows[static_cast<std::size_t>(row - 1)];
        grid.setCell(NumberGrid::kNumberColumn, row, r[0]);
        grid.setCell(NumberGrid::kApartmentColumn, row, r[1]);
    }
}

} // namespace config_file
