// What a device holds, made up for the fleet's tests: a block with its
// device number and password, and 650 rows of which the given ones are set.
#pragma once

#include "config/config_block.h"
#include "fleet/job_plan.h"

#include <map>
#include <string>
#include <utility>

inline fleet::DeviceContents
deviceContents(unsigned number, std::uint16_t password,
               const std::map<int, std::pair<std::string, std::string>>& rows = {}) {
    ConfigBlock block;
    block.deviceNumber = static_cast<std::uint16_t>(number);
    block.password = password;
    block.pulseMs = 500;
    fleet::DeviceContents contents;
    contents.block = block.encode();
    contents.rows.resize(NumberGrid::kRows);
    for (const auto& [row, entry] : rows) {
        contents.rows[static_cast<std::size_t>(row - 1)] = {entry.first, entry.second};
    }
    return contents;
}
