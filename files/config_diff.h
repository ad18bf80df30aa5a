// What differs between two configurations: the settings, named by their
// captions in the window, and the subscriber numbers added, removed or moved.
#pragma once

#include "config/config_fields.h"
#include "files/config_file.h"

#include <string>
#include <vector>

namespace config_diff {

struct Entry {
    std::string number;
    int row = 0; // 1..650
    std::string apartment;
};

// A number held by both lists at another row or with another apartment.
struct Moved {
    std::string number;
    Entry from;
    Entry to;
};

struct Result {
    std::vector<config_fields::Difference> settings;
    std::vector<Entry> added;   // in the second list only
    std::vector<Entry> removed; // in the first list only
    std::vector<Moved> moved;
    bool equal() const {
        return settings.empty() && added.empty() && removed.empty() && moved.empty();
    }
};

// Compares the rows with a number (a row without one holds no entry,
// whatever its apartment cell says). A number that occurs several times is
// matched row for row where it stays put, and in list order elsewhere.
Result compare(const config_file::Decoded& first, const config_file::Decoded& second);

} // namespace config_diff
