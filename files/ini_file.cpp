#include "files/ini_file.h"

#include "files/file_io.h"
#include "protocol/cp1251.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// Lower-case partner of every 1251 byte: Latin A-Z and every Cyrillic capital
// of the code page (А-Я, Ё, and the Ukrainian, Belarusian and Serbian letters).
const std::array<unsigned char, 256>& foldTable() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (int b = 0; b < 256; ++b) {
            t[b] = static_cast<unsigned char>(b);
            char32_t c = cp1251::decodeByte(static_cast<unsigned char>(b));
            if (c >= U'A' && c <= U'Z') {
                c += 0x20;
            } else if (c >= 0x0410 && c <= 0x042F) {
                c += 0x20;
            } else if (c >= 0x0400 && c <= 0x040F) {
                c += 0x50;
            } else if (c == 0x0490) {
                c = 0x0491;
            } else {
                continue;
            }
            if (const auto lower = cp1251::encodeChar(c)) {
                t[b] = *lower;
            }
        }
        return t;
    }();
    return table;
}

std::string fold(std::string_view s) {
    const auto& table = foldTable();
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(table[static_cast<unsigned char>(c)]);
    }
    return out;
}

std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// The value of a "key=value" line: after the first "=", trimmed, unquoted.
std::string_view pairValue(std::string_view text) {
    const std::string_view t = trim(text);
    return unquote(trim(t.substr(t.find('=') + 1))).substr(0, IniFile::kMaxValueLength);
}

std::string_view pairName(std::string_view text) {
    const std::string_view t = trim(text);
    return trim(t.substr(0, t.find('=')));
}

int digitValue(char c, int base) {
    int d = -1;
    if (c >= '0' && c <= '9') {
        d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
    }
    return d < base ? d : -1;
}

// See readInteger in the header for the rules.
std::optional<int> parseInteger(std::string_view s) {
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
        digitValue(s[i + 2], 16) >= 0) {
        base = 16;
        i += 2;
    }
    if (i >= s.size() || digitValue(s[i], base) < 0) {
        return std::nullopt;
    }
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT_MIN) : INT_MAX;
    std::int64_t value = 0;
    for (; i < s.size(); ++i) {
        const int d = digitValue(s[i], base);
        if (d < 0) {
            break; // the rest of the value is not part of the number
        }
        value = value * base + d;
        if (value > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

std::string quoted(const std::string& path) {
    return "«" + path + "»";
}

IniFileError makeError(int code, const std::string& what, const std::string& path,
                       const std::string& reason) {
    return {code, what + " " + quoted(path) + ": " + reason};
}

} // namespace

IniFile::Line IniFile::classify(std::string text) {
    Line line;
    const std::string_view t = trim(text);
    if (!t.empty() && t.front() == '[') {
        const auto close = t.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = Kind::Section;
            line.foldedName = fold(trim(t.substr(1, close - 1)));
        }
    } else if (!t.empty() && t.front() != ';' && t.find('=') != std::string_view::npos) {
        const std::string_view name = pairName(t);
        if (!name.empty()) {
            line.kind = Kind::Pair;
            line.foldedName = fold(name);
        }
    }
    line.text = std::move(text);
    return line;
}

IniFile IniFile::parse(std::string_view bytes) {
    IniFile ini;
    std::size_t start = 0;
    while (start < bytes.size()) {
        auto end = bytes.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) {
            end = bytes.size();
        }
        std::string_view line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        ini.lines_.push_back(classify(std::string(line)));
        start = last ? bytes.size() : end + 1;
    }
    return ini;
}

std::optional<std::pair<std::size_t, std::size_t>>
IniFile::sectionRange(std::string_view section) const {
    const std::string wanted = fold(trim(section));
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == Kind::Section && lines_[i].foldedName == wanted) {
            std::size_t end = i + 1;
            while (end < lines_.size() && lines_[end].kind != Kind::Section) {
                ++end;
            }
            return std::make_pair(i, end);
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> IniFile::findPair(std::string_view section, std::string_view key) const {
    const auto range = sectionRange(section);
    if (!range) {
        return std::nullopt;
    }
    const std::string wanted = fold(trim(key));
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        if (lines_[i].kind == Kind::Pair && lines_[i].foldedName == wanted) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::string> IniFile::find(std::string_view section, std::string_view key) const {
    if (const auto at = findPair(section, key)) {
        return std::string(pairValue(lines_[*at].text));
    }
    return std::nullopt;
}

std::unordered_map<std::string, std::string>
IniFile::sectionValues(std::string_view section) const {
    std::unordered_map<std::string, std::string> values;
    const auto range = sectionRange(section);
    if (!range) {
        return values;
    }
    values.reserve(range->second - range->first);
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
        if (lines_[i].kind == Kind::Pair) {
            // emplace keeps the first key of a name.
            values.emplace(lines_[i].foldedName, pairValue(lines_[i].text));
        }
    }
    return values;
}

std::string IniFile::foldName(std::string_view name) {
    return fold(trim(name));
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    if (auto value = find(section, key)) {
        return std::move(*value);
    }
    return std::string(defaultValue);
}

int IniFile::readInteger(std::string_view section, std::string_view key, int defaultValue) const {
    const auto value = find(section, key);
    if (!value) {
        return defaultValue;
    }
    return parseInteger(*value).value_or(defaultValue);
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view s = trim(section);
    const std::string_view k = trim(key);
    if (hasLineBreak(section) || s.find(']') != std::string_view::npos) {
        throw std::invalid_argument("Недопустимое имя раздела INI: " + std::string(section));
    }
    if (hasLineBreak(key) || k.empty() || k.find('=') != std::string_view::npos ||
        k.front() == '[' || k.front() == ';') {
        throw std::invalid_argument("Недопустимое имя ключа INI: " + std::string(key));
    }
    if (hasLineBreak(value)) {
        throw std::invalid_argument("Значение ключа " + std::string(k) +
                                    " содержит перевод строки");
    }

    if (const auto at = findPair(s, k)) {
        const std::string name(pairName(lines_[*at].text));
        lines_[*at] = classify(name + "=" + std::string(value));
        return;
    }
    const std::string newLine = std::string(k) + "=" + std::string(value);
    if (const auto range = sectionRange(s)) {
        // After the last non-blank line of the section, so that the blank
        // line before the next section stays where it is.
        std::size_t insertAt = range->first + 1;
        for (std::size_t i = range->first + 1; i < range->second; ++i) {
            if (!trim(lines_[i].text).empty()) {
                insertAt = i + 1;
            }
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), classify(newLine));
        return;
    }
    if (!lines_.empty() && !trim(lines_.back().text).empty()) {
        lines_.push_back(classify(""));
    }
    lines_.push_back(classify("[" + std::string(s) + "]"));
    lines_.push_back(classify(newLine));
}

void IniFile::writeInteger(std::string_view section, std::string_view key, long long value) {
    writeString(section, key, std::to_string(value));
}

std::string IniFile::toBytes() const {
    std::string out;
    std::size_t size = 0;
    for (const auto& line : lines_) {
        size += line.text.size() + 2;
    }
    out.reserve(size);
    for (const auto& line : lines_) {
        out += line.text;
        out += "\r\n";
    }
    return out;
}

std::optional<IniFile> IniFile::load(const std::string& path, IniFileError* error) {
    file_io::FileError failure;
    const auto bytes = file_io::readWholeFile(path, kMaxFileSize, &failure);
    if (bytes) {
        return parse(*bytes);
    }
    // The settings file's own words for what the whole-file read refused.
    if (error) {
        if (!failure.opened) {
            *error = makeError(failure.code, "Не удается открыть файл", path,
                               std::strerror(failure.code));
        } else if (failure.code == EFBIG) {
            *error = makeError(EFBIG, "Не удается прочитать файл", path, "файл больше 16 МБ");
        } else if (failure.code == EISDIR || failure.code == EINVAL) {
            *error = makeError(EINVAL, "Не удается прочитать файл", path, "это не обычный файл");
        } else {
            *error = makeError(failure.code, "Не удается прочитать файл", path,
                               std::strerror(failure.code));
        }
    }
    return std::nullopt;
}

bool IniFile::save(const std::string& path, IniFileError* error) const {
    file_io::FileError failure;
    if (file_io::writeFileAtomically(path, toBytes(), &failure)) {
        return true;
    }
    if (error) {
        *error =
            makeError(failure.code, "Не удается сохранить файл", path, std::strerror(failure.code));
    }
    return false;
}
