#include "session/number_writer.h"

#include "link/device_commands.h"
#include "link/link_controller.h"
#include "protocol/cp1251.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace {

// The apartment of a record: an optional sign and decimal digits (blanks
// before them are allowed), in the range of a 32-bit integer, of which the
// record keeps the low 16 bits. The empty text is 0.
std::optional<std::int32_t> apartmentValue(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    if (i == text.size()) {
        return text.empty() ? std::optional<std::int32_t>(0) : std::nullopt;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
            return std::nullopt;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

// Cells in ascending order as "3, 7-12, 40".
std::string cellRanges(const std::vector<std::int32_t>& cells) {
    std::string text;
    for (std::size_t i = 0; i < cells.size();) {
        std::size_t j = i;
        while (j + 1 < cells.size() && cells[j + 1] == cells[j] + 1) {
            ++j;
        }
        text += (text.empty() ? "" : ", ") + std::to_string(cells[i]);
        if (j > i) {
            text += "-" + std::to_string(cells[j]);
        }
        i = j + 1;
    }
    return text;
}

std::string rowText(int row) {
    return "строка " + std::to_string(row);
}

// An apartment the device stores: decimal digits only, at most 65535.
bool wholeApartment(const std::string& text) {
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) {
            return false;
        }
    }
    return !text.empty();
}

} // namespace

std::optional<std::string> listWriteProblem(const NumberGrid& grid) {
    int cell = 0; // the k-th non-empty row goes to cell k
    for (int r = 1; r <= grid.rowCount(); ++r) {
        const std::string number = grid.cell(NumberGrid::kNumberColumn, r);
        if (number.empty()) {
            continue;
        }
        const std::string row = "Строка " + std::to_string(r) + ": ";
        const std::string apartment = grid.cell(NumberGrid::kApartmentColumn, r);
        const cp1251::EncodeResult number1251 = cp1251::fromUtf8(number);
        if (!number1251.ok()) {
            return row + "номер: " + number1251.error->message();
        }
        if (!apartment.empty() && !wholeApartment(apartment)) {
            return row + "номер квартиры «" + apartment +
                   "» не является целым числом от 0 до 65 535";
        }
        const frames::TextFrame frame = frames::frameNtf(cell, number1251.bytes, apartment);
        if (!frame.ok()) {
            const std::size_t length = std::string("RT+NTF=" + std::to_string(cell) + "," +
                                                   number1251.bytes + "," + apartment + "\r")
                                           .size();
            if (number1251.bytes.size() > frames::kNumberTextSize &&
                length > frames::kMaxTextCommand) {
                return row + "номер длиннее " + std::to_string(frames::kNumberTextSize) +
                       " символов (" + std::to_string(number1251.bytes.size()) +
                       "), команда его записи не помещается в буфер отправки: " +
                       std::to_string(length) + " символов, допустимо не более " +
                       std::to_string(frames::kMaxTextCommand);
            }
            return row + frame.error;
        }
        ++cell;
    }
    return std::nullopt;
}

NumberListWriter::NumberListWriter(LinkController& link, DeviceCommands& commands,
                                   const NumberGrid& grid)
    : link_(link), commands_(commands), grid_(grid) {}

void NumberListWriter::step(device_replies::WriterStep step) {
    using device_replies::WriterStep;
    switch (step) {
    case WriterStep::Start:
        start(false, {});
        break;
    case WriterStep::Next:
        next();
        break;
    case WriterStep::Refused:
        refused();
        break;
    case WriterStep::Tick:
        tick();
        return; // the tick announces the timers itself
    default:
        return;
    }
    link_.notifyTimers();
}

void NumberListWriter::startChanges(std::vector<bool> sendCells) {
    start(true, std::move(sendCells));
    link_.notifyTimers();
}

void NumberListWriter::start(bool changesOnly, std::vector<bool> sendCells) {
    link_.report(events::Started{events::Operation::NumberWrite});
    state.changesOnly = changesOnly;
    state.sendCells = std::move(sendCells);
    state.confirmedCells.clear();
    state.pendingCell = -1;
    state.writeRow = 1;
    state.writeCell = 0;
    state.writeLimit = NumberWriteState::kDirectLimit;
    state.batchCount = 0;
    state.active = true;
    state.internet = !link_.state.directDevice;
    state.total = 0;
    state.confirmed = 0;
    state.unconfirmed = 0;
    if (changesOnly) {
        state.total = static_cast<std::int32_t>(
            std::count(state.sendCells.begin(), state.sendCells.end(), true));
    } else {
        for (int r = 1; r <= grid_.rowCount(); ++r) {
            state.total += grid_.cell(NumberGrid::kNumberColumn, r).empty() ? 0 : 1;
        }
    }
    if (changesOnly && state.internet) {
        // The batches carry no cell numbers: only the full write can go there.
        state.active = false;
        link_.report(events::Refused{events::Refusal::ChangesSerialOnly});
        return;
    }
    if (!state.internet) {
        next();
        return;
    }
    state.writeLimit = NumberWriteState::kInternetLimit;
    // The erase is a step like the batches: a device that never answers it
    // is reported after the same 40 s instead of leaving the write waiting.
    state.writeTicks = 1;
    if (!commands_.sendInternet(frames::frameEraseAll())) {
        abandon(Reason::NotSent);
    }
}

void NumberListWriter::next() {
    if (!state.active) {
        return;
    }
    // The reply that brought us here confirms the step before.
    state.confirmed += state.unconfirmed;
    state.unconfirmed = 0;
    if (state.pendingCell >= 0) {
        state.confirmedCells.push_back(state.pendingCell);
        state.pendingCell = -1;
    }
    std::vector<frames::NumberRecordBytes> records;
    const int rows = grid_.rowCount();
    for (int r = std::max(state.writeRow, 1); r <= rows; ++r) {
        const std::string number = grid_.cell(NumberGrid::kNumberColumn, r);
        if (number.empty()) {
            continue;
        }
        const std::string apartment = grid_.cell(NumberGrid::kApartmentColumn, r);
        const cp1251::EncodeResult number1251 = cp1251::fromUtf8(number);
        if (!number1251.ok()) {
            abandon(Reason::BadRow, rowText(r) + ": " + number1251.error->message());
            return;
        }

        if (!state.internet && state.changesOnly &&
            !(static_cast<std::size_t>(state.writeCell) < state.sendCells.size() &&
              state.sendCells[static_cast<std::size_t>(state.writeCell)])) {
            // The device holds this cell as the list has it.
            ++state.writeCell;
            state.writeRow = r + 1;
            continue;
        }
        if (!state.internet) {
            const cp1251::EncodeResult apartment1251 = cp1251::fromUtf8(apartment);
            if (!apartment1251.ok()) {
                abandon(Reason::BadRow, rowText(r) + ": " + apartment1251.error->message());
                return;
            }
            const frames::TextFrame frame =
                frames::frameNtf(state.writeCell, number1251.bytes, apartment1251.bytes);
            if (!frame.ok()) {
                abandon(Reason::BadRow, rowText(r) + ": " + frame.error);
                return;
            }
            link_.sendText(frame.bytes);
            state.unconfirmed = 1;
            state.pendingCell = state.writeCell;
            ++state.writeCell;
            state.writeRow = r + 1;
            state.writeTicks = 1;
            link_.report(events::NumberSent{r});
            return;
        }

        if (records.size() == frames::kMaxBatchRecords) {
            // Row r opens the next batch.
            sendBatch(frames::frameNumberBatch(records));
            return;
        }
        const std::optional<std::int32_t> value = apartmentValue(apartment);
        if (!value) {
            // What was gathered in this call is not sent.
            abandon(Reason::BadApartment, rowText(r), apartment);
            return;
        }
        records.push_back(frames::encodeNumberRecord(
            number1251.bytes, static_cast<std::uint16_t>(static_cast<std::uint32_t>(*value))));
        state.writeRow = r + 1;
        state.writeTicks = 1;
        link_.report(events::NumberSent{r});
    }

    // The rows are used up.
    if (!state.internet) {
        link_.report(events::FreeingRest{});
        state.writeTicks = 0;
        state.active = false;
        const frames::TextFrame frame = frames::frameEfa(state.writeCell);
        link_.sendText(frame.bytes);
        return;
    }
    if (!records.empty()) {
        sendBatch(frames::frameNumberBatch(records));
        return;
    }
    state.writeTicks = 0;
    state.active = false;
    link_.report(events::NumbersWritten{state.confirmed});
}

bool NumberListWriter::sendBatch(const std::string& batch) {
    state.batchBuffer.fill(0);
    std::copy(batch.begin(), batch.end(), state.batchBuffer.begin());
    state.batchCount = static_cast<std::uint8_t>(batch[3]);
    state.unconfirmed = state.batchCount;
    if (!commands_.sendInternet(batch)) {
        abandon(Reason::NotSent);
        return false;
    }
    return true;
}

void NumberListWriter::refused() {
    link_.report(events::NumberRefused{});
    state.writeTicks = 0;
    state.unconfirmed = 0; // not stored
    state.pendingCell = -1;
}

std::optional<std::string> NumberListWriter::deviceHolds() const {
    if (!state.active) {
        return std::nullopt;
    }
    if (state.changesOnly) {
        return changesHeld();
    }
    std::string text = "в приборе записано " + std::to_string(state.confirmed) + " из " +
                       std::to_string(state.total) + " номеров";
    if (state.unconfirmed > 0) {
        text += ", еще " + std::to_string(state.unconfirmed) + " отправлено без подтверждения";
    }
    // The serial write overwrites cell by cell; the Internet write erased the list first.
    text += state.internet ? "; прежний список прибора стерт"
                           : "; в остальных ячейках прибора прежние номера";
    return text;
}

std::string NumberListWriter::changesHeld() const {
    std::string text = "в приборе записано " + std::to_string(state.confirmed) + " из " +
                       std::to_string(state.total) + " измененных ячеек";
    if (!state.confirmedCells.empty()) {
        text += " (подтверждены ячейки " + cellRanges(state.confirmedCells) + ")";
    }
    if (state.pendingCell >= 0) {
        text += ", ячейка " + std::to_string(state.pendingCell) + " отправлена без подтверждения";
    }
    return text + "; в остальных ячейках прибора прежние номера";
}

void NumberListWriter::stop() {
    state.active = false;
    state.writeTicks = 0;
}

void NumberListWriter::tick() {
    if (state.writeTicks == 0) {
        return;
    }
    ++state.writeTicks;
    if (state.writeTicks > state.writeLimit) {
        // The cell that waited stays unconfirmed: the device may hold it.
        state.writeRow = 1;
        state.writeCell = 0;
        state.writeTicks = 0;
        // A late "+NTF:1" on the serial link writes the list again from cell
        // 0, which leaves the device with the whole list. On the Internet link
        // the same would add the first numbers a second time behind the ones
        // already stored, so there the write is over.
        if (state.internet) {
            state.active = false;
        }
        link_.report(events::NumberWriteStopped{Reason::NoAnswer, {}, {}, state.confirmed});
    }
}

void NumberListWriter::abandon(Reason reason, const std::string& detail, const std::string& value) {
    state.pendingCell = -1;
    state.writeRow = 1;
    state.writeCell = 0;
    state.writeTicks = 0;
    state.active = false;
    link_.report(events::NumberWriteStopped{reason, detail, value, state.confirmed});
}

void NumberListWriter::resendLastBatch() {
    if (state.batchCount == 0) {
        link_.report(events::Refused{events::Refusal::NoBatchToResend});
        return;
    }
    const std::size_t size = frames::kNumberRecordSize * state.batchCount + 5;
    commands_.sendInternet(
        std::string_view(reinterpret_cast<const char*>(state.batchBuffer.data()), size));
}
