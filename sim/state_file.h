// The device's state in files: preloading numbers and the settings block, and
// the dump written on exit so that a test can compare what the device holds
// with what the window shows.
//
// Dump (text, one item a line):
//   password=1234
//   block=<the 68-byte block as 136 lower-case hex digits>
//   apn=<access point text>
//   firmware=30
//   bootloader=0
//   loader=2
//   image=<the programmed blocks as lower-case hex digits, empty when none>
//   capacity=650
//   numbers=<count>
//   <cell>;<number>;<apartment>      one line per occupied cell, in cell order
// Texts are the device's bytes; a backslash, a byte below 32 or above 126 is
// written as \xHH.
//
// Numbers file: lines "<cell>;<number>;<apartment>" or "<number>;<apartment>"
// (the next free cell); blank lines and lines starting with "#" are skipped;
// the number text may use \xHH escapes.
//
// Block file: the 68 bytes as they are (a longer file, such as a
// configuration file, gives its first 68 bytes), or 136 hex digits with any
// blanks between them, optionally after "block=" (the dump's line).
#pragma once

#include "sim/device.h"

#include <string>

namespace sim {

std::string dumpState(const DeviceState& state);
// Reads a dump back. False with `error` set when a line is malformed.
bool parseStateDump(const std::string& text, DeviceState* state, std::string* error);
// Writes the dump so that a reader never sees half of it (temporary file and
// rename). False with `error` set.
bool writeStateDump(const std::string& path, const DeviceState& state, std::string* error);

// Adds the numbers of a numbers file to the memory. False with `error`
// naming the line when a line is malformed, a cell is taken twice or the
// memory overflows.
bool loadNumbers(const std::string& text, DeviceState* state, std::string* error);
// Reads a block file's content.
bool loadConfigBlock(const std::string& content, ConfigBlockBytes* block, std::string* error);

// Reads a whole file. False with `error` set.
bool readFile(const std::string& path, std::string* content, std::string* error);

} // namespace sim
