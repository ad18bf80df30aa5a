// What a fleet job writes to a device, worked out from the job and what the
// device holds now (its block and list as just read), and the check of the
// read-back against it. Pure: no register, no link, no clock.
//
// The device keeps its list packed from the first cell: the Internet write
// erases the list ("ERASE") and sends the entries in order in batches, so the
// target is always the entries in order from row 1, the rest empty, with
// the apartments as the device gives them back (an empty cell is "0").
#pragma once

#include "config/config_block.h"
#include "files/config_file.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace fleet {

enum class JobKind {
    Push,   // the configuration and list of a .fcd file
    Add,    // one number and its apartment appended to the device's list
    Remove, // one number taken out of the device's list
};

// The register's and the JSON's name of a kind: "push", "add", "remove".
const char* kindName(JobKind kind);
std::optional<JobKind> kindFromName(const std::string& name);

// What a job asks for, as queued.
struct JobRequest {
    JobKind kind = JobKind::Push;
    std::string file;      // Push: the bytes of the .fcd file, as queued
    std::string number;    // Add, Remove
    std::string apartment; // Add
};

// What the device holds: the 68-byte block and its 650 rows (number,
// apartment), as a complete read gives them (config_file::Decoded's form).
using DeviceContents = config_file::Decoded;

struct Plan {
    enum class Outcome {
        Write,   // `target` is to be written (CONFW, ERASE, the batches)
        Nothing, // the device already holds what the job asks for: the job is done
        Refused, // the job cannot be done on this device (`reason`): it fails, not retried
    };
    Outcome outcome = Outcome::Refused;
    DeviceContents target; // Write: the block and the 650 rows to write
    std::string reason;    // Refused, Nothing: why, in Russian
    // Write: what changes, one Russian line each, for the audit log
    // ("Номер 9161110005 добавлен в строку 5, кв. 14").
    std::vector<std::string> changes;
};

// The target of `job` for a device that holds `current`:
// - Push writes the file's configuration and list, but keeps the device's own
//   device number (offset 58) and its password (the device takes a block
//   only with its own password in it). A file whose list the device cannot
//   take (listWriteProblem) or that is no .fcd is refused.
// - Add appends the entry after the rows the device holds (the entries in
//   order, the new one in the first row after them); a number already in
//   the list or a full list is refused.
// - Remove takes the number's row out, the other entries kept in order; a
//   number the list does not hold is Nothing: the device already holds what
//   the job asks for, so the job is done without a write (`reason` says so).
Plan planJob(const JobRequest& job, const DeviceContents& current);

// What the device holds once `contents` is written: the same block, and the
// entries (rows with a number) in order from row 1 with their apartments as
// the device gives them back, the rest of the 650 rows empty.
DeviceContents asStored(const DeviceContents& contents);

// Why a request cannot be queued or run on any device (a file that is no
// .fcd or whose list the device cannot take, an empty number, an apartment
// that is no whole number from 0 to 65 535), in Russian; nothing when it can.
std::optional<std::string> requestProblem(const JobRequest& request);

// The read-back against the target: every difference named in Russian (the
// setting under its caption, the number added, removed or moved); empty when
// the device holds the target.
std::vector<std::string> compareReadBack(const DeviceContents& target,
                                         const DeviceContents& readBack);

} // namespace fleet
