#include "cli/json.h"

#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8Length(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    std::size_t n = 0;
    unsigned min = 0;
    unsigned cp = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, cp = lead & 0x1Fu, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, cp = lead & 0x0Fu, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, cp = lead & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b(i) & 0x3Fu);
    }
    // Overlong forms, UTF-16 surrogates and code points past U+10FFFF are not UTF-8.
    if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        return 0;
    }
    return n;
}

} // namespace

std::string jsonQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    while (!text.empty()) {
        const unsigned char c = static_cast<unsigned char>(text[0]);
        const std::size_t n = utf8Length(text);
        if (n == 0) {
            out += "\uFFFD"; // the replacement character, in UTF-8
            text.remove_prefix(1);
            continue;
        }
        if (n > 1) {
            out.append(text.substr(0, n));
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
        text.remove_prefix(n);
    }
    out += '"';
    return out;
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasItems_.empty()) {
        if (hasItems_.back()) {
            out_ += ',';
        }
        hasItems_.back() = true;
    }
}

JsonWriter& JsonWriter::beginObject() {
    beforeValue();
    out_ += '{';
    hasItems_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    out_ += '}';
    hasItems_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    beforeValue();
    out_ += '[';
    hasItems_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    out_ += ']';
    hasItems_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    beforeValue();
    out_ += jsonQuoted(name);
    out_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    beforeValue();
    out_ += jsonQuoted(text);
    return *this;
}

JsonWriter& JsonWriter::value(long long number) {
    beforeValue();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    beforeValue();
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null() {
    beforeValue();
    out_ += "null";
    return *this;
}
