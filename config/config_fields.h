// The settings of the configuration record as the window names them: each
// field with the caption it carries on the pages and its value as a text,
// for listing what differs between two records without a window (the
// command-line tool's diff). A window test checks that every caption here
// is a caption on the real window, so the names cannot drift.
#pragma once

#include "config/config_block.h"

#include <string>
#include <vector>

namespace config_fields {

struct Field {
    const char* caption; // a label, check box or group caption of the window
    // The caption that the one above completes ("Информировать владельца о
    // изменении состояния" for the box "Входа"), or nullptr.
    const char* context;
    int keyRow; // 1..5 for a row of the key grid, 0 otherwise
    std::string (*text)(const ConfigBlock&);
};

// Every field of the record, in the order of the pages.
const std::vector<Field>& fields();

// The name shown for a field: its caption, after its context when it has one,
// with the key's row for the key grid.
std::string displayName(const Field& field);

struct Difference {
    std::string name; // displayName of the field
    std::string first;
    std::string second;
};

// The fields whose values differ between two records, in table order. Bytes
// that no field shows (the zero bytes after the texts, unused option bits)
// are reported as one more entry when they alone differ, so two records
// that are not the same never compare equal.
std::vector<Difference> differences(const ConfigBlock::Bytes& first,
                                    const ConfigBlock::Bytes& second);

} // namespace config_fields
