// The bulk number writer: sends every non-empty row of the number list to the
// device once the device has taken the configuration ("CONFW").
//
// On the direct serial link each step is one "RT+NTF=cell,number,apartment\r"
// command, sent only after the device's "+NTF:1" for the previous one, and the
// write ends with "RT+EFA=count\r", which initialises the rest of the device's
// memory. On the Internet link the device's list is erased first ("ERASE") and
// the entries follow in NumberBatches of up to ten records, each after the
// reply to the previous step.
//
// The writer keeps no timer of its own: the 20 ms tick calls step(WriterStep::Tick),
// which counts the ticks since the last step went out and abandons the write
// when the device has been silent for writeLimit ticks (1 s on the serial
// link, 40 s on the Internet link).
#pragma once

#include "files/number_grid.h"
#include "link/session_events.h"
#include "protocol/device_replies.h"
#include "protocol/frames.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class LinkController;
class DeviceCommands;

// The writer's state. Only step() changes it; the Internet reply
// "ADN" reads batchBuffer and batchCount to send the last batch again.
struct NumberWriteState {
    static constexpr std::uint32_t kDirectLimit = 50;     // ticks: 1 s
    static constexpr std::uint32_t kInternetLimit = 2000; // ticks: 40 s
    static constexpr std::size_t kBatchBytes =
        frames::kMaxBatchRecords * frames::kNumberRecordSize + 5;

    std::int32_t writeRow = 1;    // the next grid row to examine
    std::int32_t writeCell = 0;   // serial link: the memory cell of the next "RT+NTF"
    std::uint32_t writeTicks = 0; // 0: no step outstanding; else 1 + ticks since it went out
    std::uint32_t writeLimit = kDirectLimit;
    // Internet link: the last NumberBatch sent and its record count (0 while
    // none has been sent in this write).
    std::uint8_t batchCount = 0;
    std::array<std::uint8_t, kBatchBytes> batchBuffer{};

    // A write started by "CONFW" that the device's replies may still drive.
    // Replies that arrive while no write is under way (before the first one,
    // after the end, after a failure) start nothing.
    bool active = false;
    // The link the write runs on, chosen when it starts.
    bool internet = false;
    // Progress, for telling what the device holds when the write is cut:
    // the numbers to write, those the device confirmed, and those of the
    // step that waits for its reply.
    std::int32_t total = 0;
    std::int32_t confirmed = 0;
    std::int32_t unconfirmed = 0;

    // A write of the changed cells only (serial link): sendCells[k] says
    // whether cell k goes; the cells between are counted but not sent, and
    // the write ends with the same "RT+EFA" as the full write. Empty and
    // false for a full write.
    bool changesOnly = false;
    std::vector<bool> sendCells;
    // The cells the device confirmed in this write, in the order sent, and
    // the one that waits for its reply (-1: none).
    std::vector<std::int32_t> confirmedCells;
    std::int32_t pendingCell = -1;
};

// Whether every row of the list can be written, checked before anything is
// sent (before "CONFW"): the "RT+NTF" command of each non-empty row, with the
// cell it would get, must fit the 100-byte send buffer and hold nothing that
// breaks a command apart, its texts must be code page 1251, and its
// apartment must be empty (0) or a whole number from 0 to 65 535. The same
// rows are refused on the Internet link, whose records could only keep a
// part of such a number. Gives the message naming the first row that cannot
// be written ("Строка 17: ..."), or nothing.
std::optional<std::string> listWriteProblem(const NumberGrid& grid);

class NumberListWriter {
  public:
    // The grid, link and commands must outlive the writer.
    NumberListWriter(LinkController& link, DeviceCommands& commands, const NumberGrid& grid);

    NumberWriteState state;

    // Start the write, send the next step after a success, stop after a
    // refusal, or count one 20 ms tick (WriteNumbers with the codes 0 to 3).
    void step(device_replies::WriterStep step);
    // Starts a write of the cells `sendCells` marks (serial link only; the
    // device took the configuration and its list was read for this write):
    // the rows are walked as a full write walks them, so cell k is the k-th
    // non-empty row, and only the marked cells are sent.
    void startChanges(std::vector<bool> sendCells);

    // The Internet reply "ADN": sends the last batch again, unchanged.
    void resendLastBatch();

    // Whether a step waits for its reply (the 20 ms tick must keep running).
    bool busy() const { return state.writeTicks != 0; }

    // While a write is under way, what the device holds now ("в приборе
    // записано 52 из 650 номеров, ..."); empty otherwise.
    std::optional<std::string> deviceHolds() const;
    // Ends the write at once: nothing more is sent, late replies start nothing.
    void stop();

  private:
    void start(bool changesOnly, std::vector<bool> sendCells);
    void next();
    void refused();
    void tick();
    // deviceHolds() of a write of the changed cells: which cells the device confirmed.
    std::string changesHeld() const;
    // Ends the write at once and reports why; nothing more is sent and late
    // replies start nothing.
    using Reason = events::NumberWriteStopped::Reason;
    void abandon(Reason reason, const std::string& detail = {}, const std::string& value = {});
    bool sendBatch(const std::string& batch);

    LinkController& link_;
    DeviceCommands& commands_;
    const NumberGrid& grid_;
};
