#include "sim/state_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace sim {
namespace {

std::string escaped(std::string_view text) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 32 || b > 126 || c == '\\') {
            out += "\\x";
            out.push_back(digits[b >> 4]);
            out.push_back(digits[b & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Undoes escaped(); false on a backslash that does not start \xHH.
bool unescaped(std::string_view text, std::string* out) {
    out->clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out->push_back(text[i]);
            continue;
        }
        if (text.size() - i < 4 || text[i + 1] != 'x' || hexValue(text[i + 2]) < 0 ||
            hexValue(text[i + 3]) < 0) {
            return false;
        }
        out->push_back(static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3])));
        i += 3;
    }
    return true;
}

template <class Bytes> std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const auto b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        out.push_back(line);
    }
    return out;
}

// "<number>;<apartment>" with the number escaped.
bool numberAndApartment(std::string_view text, NumberEntry* entry) {
    const auto semi = text.rfind(';');
    if (semi == std::string_view::npos) {
        return false;
    }
    unsigned long apartment = 0;
    std::string number;
    if (!unescaped(text.substr(0, semi), &number) || number.empty() ||
        number.size() > kNumberTextSize || !wire::decimal(text.substr(semi + 1), 5, &apartment) ||
        apartment > 0xFFFF) {
        return false;
    }
    *entry = {number, static_cast<std::uint16_t>(apartment)};
    return true;
}

// Puts `entry` in `cell`, or in the next free cell when `cell` is npos.
bool place(DeviceState* state, std::size_t cell, const NumberEntry& entry,
           std::set<std::size_t>* taken) {
    if (cell == std::string::npos) {
        cell = 0;
        while (taken->count(cell) != 0) {
            ++cell;
        }
    }
    if (cell >= state->numberCapacity || !taken->insert(cell).second) {
        return false;
    }
    if (state->numbers.size() <= cell) {
        state->numbers.resize(cell + 1);
    }
    state->numbers[cell] = entry;
    return true;
}

bool failAt(std::string* error, std::size_t line, const std::string& what) {
    *error = "line " + std::to_string(line) + ": " + what;
    return false;
}

} // namespace

std::string dumpState(const DeviceState& state) {
    const auto stored = state.storedNumbers();
    std::string out;
    out += "password=" + std::to_string(state.password()) + "\n";
    out += "block=" + hex(state.configBlock) + "\n";
    out += "apn=" + escaped(state.accessPoint) + "\n";
    out += "firmware=" + std::to_string(state.firmwareVersion) + "\n";
    out += "bootloader=" + std::string(state.bootloaderMode ? "1" : "0") + "\n";
    out += "loader=" + std::to_string(state.loaderVersion) + "\n";
    out += "image=" + hex(state.programmedImage) + "\n";
    out += "capacity=" + std::to_string(state.numberCapacity) + "\n";
    out += "numbers=" + std::to_string(stored.size()) + "\n";
    for (const auto& [cell, entry] : stored) {
        out += std::to_string(cell) + ";" + escaped(entry.number) + ";" +
               std::to_string(entry.apartment) + "\n";
    }
    return out;
}

bool parseStateDump(const std::string& text, DeviceState* state, std::string* error) {
    DeviceState result;
    result.numbers.clear();
    std::set<std::size_t> taken;
    std::size_t expectedNumbers = 0;
    long password = -1;
    std::size_t number = 0;
    for (const std::string& line : lines(text)) {
        ++number;
        if (line.empty()) {
            continue;
        }
        const auto eq = line.find('=');
        const auto semi = line.find(';');
        if (semi != std::string::npos && (eq == std::string::npos || semi < eq)) {
            unsigned long cell = 0;
            NumberEntry entry;
            if (!wire::decimal(std::string_view(line).substr(0, semi), 5, &cell) ||
                !numberAndApartment(std::string_view(line).substr(semi + 1), &entry) ||
                !place(&result, cell, entry, &taken)) {
                return failAt(error, number, "bad number line '" + line + "'");
            }
            continue;
        }
        if (eq == std::string::npos) {
            return failAt(error, number, "expected key=value, not '" + line + "'");
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        unsigned long v = 0;
        if (key == "block") {
            if (value.size() != 2 * kConfigBlockSize ||
                !loadConfigBlock(value, &result.configBlock, error)) {
                return failAt(error, number, "bad block");
            }
        } else if (key == "apn") {
            if (!unescaped(value, &result.accessPoint)) {
                return failAt(error, number, "bad apn");
            }
        } else if (key == "password" && wire::decimal(value, 5, &v) && v <= 0xFFFF) {
            password = static_cast<long>(v);
        } else if (key == "firmware" && wire::decimal(value, 3, &v) && v <= 255) {
            result.firmwareVersion = static_cast<std::uint8_t>(v);
        } else if (key == "bootloader" && (value == "0" || value == "1")) {
            result.bootloaderMode = value == "1";
        } else if (key == "loader" && wire::decimal(value, 3, &v) && v <= 255) {
            result.loaderVersion = static_cast<std::uint8_t>(v);
        } else if (key == "image") {
            if (value.size() % 2 != 0) {
                return failAt(error, number, "bad image");
            }
            result.programmedImage.clear();
            for (std::size_t i = 0; i < value.size(); i += 2) {
                const int hi = hexValue(value[i]);
                const int lo = hexValue(value[i + 1]);
                if (hi < 0 || lo < 0) {
                    return failAt(error, number, "bad image");
                }
                result.programmedImage.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
            }
        } else if (key == "capacity" && wire::decimal(value, 9, &v)) {
            result.numberCapacity = v;
        } else if (key == "numbers" && wire::decimal(value, 9, &v)) {
            expectedNumbers = v;
        } else {
            return failAt(error, number, "bad line '" + line + "'");
        }
    }
    if (password >= 0 && password != result.password()) {
        *error = "the password line does not match the block";
        return false;
    }
    if (taken.size() != expectedNumbers) {
        *error = "numbers=" + std::to_string(expectedNumbers) + " but " +
                 std::to_string(taken.size()) + " number lines";
        return false;
    }
    *state = std::move(result);
    return true;
}

bool writeStateDump(const std::string& path, const DeviceState& state, std::string* error) {
    const std::string text = dumpState(state);
    const std::string temp = path + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = temp + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = temp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool loadNumbers(const std::string& text, DeviceState* state, std::string* error) {
    std::set<std::size_t> taken;
    for (const auto& [cell, entry] : state->storedNumbers()) {
        taken.insert(cell);
    }
    std::size_t number = 0;
    for (const std::string& line : lines(text)) {
        ++number;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto first = line.find(';');
        const auto last = line.rfind(';');
        if (first == std::string::npos) {
            return failAt(error, number, "expected [cell;]number;apartment, not '" + line + "'");
        }
        std::size_t cell = std::string::npos;
        std::string_view rest = line;
        if (first != last) {
            unsigned long c = 0;
            if (!wire::decimal(std::string_view(line).substr(0, first), 9, &c)) {
                return failAt(error, number, "bad cell in '" + line + "'");
            }
            cell = c;
            rest = std::string_view(line).substr(first + 1);
        }
        NumberEntry entry;
        if (!numberAndApartment(rest, &entry)) {
            return failAt(error, number,
                          "a number of 1 to 10 characters and an apartment up to 65535 expected "
                          "in '" +
                              line + "'");
        }
        if (!place(state, cell, entry, &taken)) {
            return failAt(error, number,
                          "the cell is taken or beyond the memory of " +
                              std::to_string(state->numberCapacity) + " cells");
        }
    }
    return true;
}

bool loadConfigBlock(const std::string& content, ConfigBlockBytes* block, std::string* error) {
    std::string_view text = content;
    if (text.substr(0, 6) == "block=") {
        text.remove_prefix(6);
    }
    std::string digits;
    bool allHex = !text.empty();
    for (const char c : text) {
        if (hexValue(c) >= 0) {
            digits.push_back(c);
        } else if (c != ' ' && c != '\n' && c != '\r' && c != '\t') {
            allHex = false;
            break;
        }
    }
    if (allHex && digits.size() == 2 * kConfigBlockSize) {
        for (std::size_t i = 0; i < kConfigBlockSize; ++i) {
            (*block)[i] = static_cast<std::uint8_t>(hexValue(digits[2 * i]) * 16 +
                                                    hexValue(digits[2 * i + 1]));
        }
        return true;
    }
    if (content.size() >= kConfigBlockSize) {
        for (std::size_t i = 0; i < kConfigBlockSize; ++i) {
            (*block)[i] = static_cast<std::uint8_t>(content[i]);
        }
        return true;
    }
    *error = "a block needs 68 bytes or 136 hex digits; got " + std::to_string(content.size()) +
             " bytes";
    return false;
}

bool readFile(const std::string& path, std::string* content, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    content->clear();
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        content->append(buffer, n);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

} // namespace sim
