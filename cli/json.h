// A small JSON writer for the tool's --json output: one document, built in
// order. Strings are UTF-8; quotes, backslashes and control characters are
// escaped, and bytes that are not valid UTF-8 (a file name in another
// encoding) become U+FFFD, so the document is always valid JSON.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
  public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(long long number);
    JsonWriter& value(int number) { return value(static_cast<long long>(number)); }
    JsonWriter& value(unsigned number) { return value(static_cast<long long>(number)); }
    JsonWriter& value(bool flag);
    JsonWriter& null();
    // key(name).value(v) in one.
    template <typename T> JsonWriter& field(std::string_view name, const T& v) {
        return key(name).value(v);
    }

    const std::string& text() const { return out_; }

  private:
    void beforeValue();
    std::string out_;
    std::vector<bool> hasItems_; // per open object or array
    bool afterKey_ = false;
};

// `text` as a JSON string literal, quotes included.
std::string jsonQuoted(std::string_view text);
