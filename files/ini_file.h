// Profile (INI) files with the rules of the Windows profile functions, which
// the settings file "Сonfig.ini" and the [Numbers] section of configuration
// files were written with. The module works on bytes: the files are code page
// 1251 and nothing here converts them.
//
// Reading rules:
// - a line is a section header "[name]" (text after the last "]" is ignored),
//   a "key=value" pair (split at the first "="), or anything else, which is
//   kept but ignored; lines whose first non-blank character is ";" are
//   comments; lines end with LF or CR LF;
// - section and key names are compared without regard to case, for the Latin
//   and the Cyrillic letters of code page 1251;
// - blanks (space, tab, CR, VT, FF) around names and values are dropped; a
//   value enclosed in one pair of double or single quotes loses that pair
//   (and keeps the blanks inside it);
// - the first section of a name counts, and within it the first key of a
//   name; pairs before the first section header belong to no section;
// - a key present with an empty value reads as the empty text, not as the
//   default;
// - a value is read up to 2047 characters (the Windows functions' buffer);
//   the rest of a longer value is dropped.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct IniFileError {
    int code = 0;        // errno of the failure (0 when not from the system)
    std::string message; // in Russian, names the file and the reason
};

class IniFile {
  public:
    static constexpr std::size_t kMaxValueLength = 2047;

    IniFile() = default;
    // Any bytes parse; what is not a section header or a pair is kept as it is.
    static IniFile parse(std::string_view bytes);

    // The value of `key` in `section`, or nullopt when there is no such key.
    std::optional<std::string> find(std::string_view section, std::string_view key) const;

    // Every key of the first `section` and its value, keyed by the name as
    // `foldName` gives it, the first key of a name winning: one pass for a
    // caller that looks up many keys (the 1300 keys of a number list).
    std::unordered_map<std::string, std::string> sectionValues(std::string_view section) const;
    // Whether the file has a section of that name (keys or not).
    bool hasSection(std::string_view section) const { return sectionRange(section).has_value(); }
    // A section or key name as the lookups compare it: trimmed, case-folded.
    static std::string foldName(std::string_view name);

    // The value, or `defaultValue` when the key is absent.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;

    // The value as a whole number, or `defaultValue` when the key is absent,
    // empty or does not start with a number. A number is an optional sign and
    // either "0x"/"0X" with hexadecimal digits or decimal digits; it ends at
    // the first character that is not a digit of its base, and the rest of the
    // value is ignored, as GetPrivateProfileInt does ("12abc" reads 12,
    // "0x7E4" reads 2020). Other prefixes are not recognised ("0b101" reads 0).
    // A number outside the range of a 32-bit signed integer reads as the
    // default: it is no value the program could use.
    int readInteger(std::string_view section, std::string_view key, int defaultValue) const;

    // Sets the value of the first `key` of the first `section` in place (the
    // key keeps the spelling it had in the file), or appends the key at the
    // end of the section, or appends the section with the key at the end of
    // the file. Every other line stays as it was. The value is written as
    // given; like the Windows functions it is read back without its outer
    // blanks and enclosing quotes. Throws std::invalid_argument for a line
    // break in any argument, an empty key or one that contains "=" or starts
    // with "[" or ";", or a section name that contains "]": any of them would
    // break the file's structure.
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, long long value);

    // The text with CR LF after every line.
    std::string toBytes() const;

    // Reads a file. On failure returns nullopt and fills `error` (an absent
    // file gives code ENOENT, so a caller can take it as "no file yet").
    [[nodiscard]] static std::optional<IniFile> load(const std::string& path, IniFileError* error);
    // Writes the file through a temporary file in the same folder that is
    // renamed over it, so a failed save leaves the old file whole and no
    // partial file behind. On failure returns false and fills `error`.
    [[nodiscard]] bool save(const std::string& path, IniFileError* error) const;

  private:
    enum class Kind { Other, Section, Pair };
    struct Line {
        std::string text; // as in the file, without its line end
        Kind kind = Kind::Other;
        std::string foldedName; // section or key name, trimmed and case-folded
    };
    static Line classify(std::string text);
    // Index range [begin, end) of the lines of the first section named
    // `section`, begin being the header; nullopt when there is none.
    std::optional<std::pair<std::size_t, std::size_t>> sectionRange(std::string_view section) const;
    std::optional<std::size_t> findPair(std::string_view section, std::string_view key) const;

    std::vector<Line> lines_;
};
