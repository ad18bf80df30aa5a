#include "lists/config_file.h"

#include "lists/ini_file.h"
#include "protocol/cp1251.h"

#include <algorithm>
#include <charconv>

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

std::optional<Decoded> decode(std::string_view bytes, std::string* error) {
    const IniFile ini =
        IniFile::parse(bytes.size() > kHeadSize ? bytes.substr(kHeadSize) : std::string_view{});
    if (!ini.hasSection("Numbers")) {
        if (error != nullptr) {
            *error = bytes.size() < kHeadSize + kSectionHeader.size()
                         ? "файл слишком короткий (" + std::to_string(bytes.size()) +
                               " байт) и не содержит раздела [Numbers]"
                         : "в нём нет раздела [Numbers] после 100 байт настроек";
        }
        return std::nullopt;
    }
    const auto values = ini.sectionValues("Numbers");
    Decoded decoded;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.data()), ConfigBlock::kSize,
                decoded.block.begin());
    decoded.rows.resize(NumberGrid::kRows);
    std::string key;
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        auto& r = decoded.rows[static_cast<std::size_t>(row - 1)];
        key = "n";
        appendDecimal(key, row);
        if (const auto it = values.find(key); it != values.end()) {
            r[0] = cp1251::toUtf8(it->second);
        }
        key = "kv";
        appendDecimal(key, row);
        if (const auto it = values.find(key); it != values.end()) {
            r[1] = cp1251::toUtf8(it->second);
        } else {
            r[1] = "0";
        }
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
