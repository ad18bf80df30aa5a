#include "lists/number_writer.h"

#include "link/device_commands.h"
#include "link/link_controller.h"
#include "protocol/cp1251.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace {

const char* const kStarted = "Идет запись номеров. Ждите...";
const char* const kWritingRow = "Запись номера ";
const char* const kInitFree = "Инициализация свободной памяти";
const char* const kDone = "Запись номеров завершена";
const char* const kRefused = "Неверное значение ячейки памяти";
const char* const kNoAnswer = "Нет ответа от прибора !";
const char* const kAbandoned = "Запись номеров прервана";

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

std::string rowText(int row) {
    return "строка " + std::to_string(row);
}

} // namespace

NumberListWriter::NumberListWriter(LinkController& link, DeviceCommands& commands,
                                   const NumberGrid& grid)
    : link_(link), commands_(commands), grid_(grid) {}

void NumberListWriter::WriteNumbers(int step) {
    switch (step) {
    case 0:
        start();
        break;
    case 1:
        next();
        break;
    case 2:
        refused();
        break;
    case 3:
        tick();
        return; // the tick announces the timers itself
    default:
        return;
    }
    link_.notifyTimers();
}

void NumberListWriter::start() {
    link_.logLine(kStarted);
    writer.writeRow = 1;
    writer.writeCell = 0;
    writer.writeLimit = NumberWriter::kDirectLimit;
    writer.batchCount = 0;
    writer.active = true;
    writer.internet = !link_.state.directDevice;
    writer.total = 0;
    writer.confirmed = 0;
    writer.unconfirmed = 0;
    for (int r = 1; r <= grid_.rowCount(); ++r) {
        writer.total += grid_.cell(NumberGrid::kNumberColumn, r).empty() ? 0 : 1;
    }
    if (!writer.internet) {
        next();
        return;
    }
    writer.writeLimit = NumberWriter::kInternetLimit;
    // The erase is a step like the batches: a device that never answers it
    // is reported after the same 40 s instead of leaving the write waiting.
    writer.writeTicks = 1;
    if (!commands_.sendInternet(frames::frameEraseAll())) {
        abandon(kAbandoned);
    }
}

void NumberListWriter::next() {
    if (!writer.active) {
        return;
    }
    // The reply that brought us here confirms the step before.
    writer.confirmed += writer.unconfirmed;
    writer.unconfirmed = 0;
    std::vector<frames::NumberRecordBytes> records;
    const int rows = grid_.rowCount();
    for (int r = std::max(writer.writeRow, 1); r <= rows; ++r) {
        const std::string number = grid_.cell(NumberGrid::kNumberColumn, r);
        if (number.empty()) {
            continue;
        }
        const std::string apartment = grid_.cell(NumberGrid::kApartmentColumn, r);
        const cp1251::EncodeResult number1251 = cp1251::fromUtf8(number);
        if (!number1251.ok()) {
            abandon(std::string(kAbandoned) + ": " + rowText(r) + ": " +
                    number1251.error->message());
            return;
        }

        if (!writer.internet) {
            const cp1251::EncodeResult apartment1251 = cp1251::fromUtf8(apartment);
            if (!apartment1251.ok()) {
                abandon(std::string(kAbandoned) + ": " + rowText(r) + ": " +
                        apartment1251.error->message());
                return;
            }
            const frames::TextFrame frame =
                frames::frameNtf(writer.writeCell, number1251.bytes, apartment1251.bytes);
            if (!frame.ok()) {
                abandon(std::string(kAbandoned) + ": " + rowText(r) + ": " + frame.error);
                return;
            }
            link_.SendStr(frame.bytes);
            writer.unconfirmed = 1;
            ++writer.writeCell;
            writer.writeRow = r + 1;
            writer.writeTicks = 1;
            link_.logLine(kWritingRow + std::to_string(r));
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
            const std::string message = "'" + apartment + "' is not a valid integer value";
            link_.message(message);
            abandon(std::string(kAbandoned) + ": " + rowText(r) + ": " + message);
            return;
        }
        records.push_back(frames::encodeNumberRecord(
            number1251.bytes, static_cast<std::uint16_t>(static_cast<std::uint32_t>(*value))));
        writer.writeRow = r + 1;
        writer.writeTicks = 1;
        link_.logLine(kWritingRow + std::to_string(r));
    }

    // The rows are used up.
    if (!writer.internet) {
        link_.logLine(kInitFree);
        writer.writeTicks = 0;
        writer.active = false;
        const frames::TextFrame frame = frames::frameEfa(writer.writeCell);
        link_.SendStr(frame.bytes);
        return;
    }
    if (!records.empty()) {
        sendBatch(frames::frameNumberBatch(records));
        return;
    }
    writer.writeTicks = 0;
    writer.active = false;
    link_.logLine(kDone);
}

bool NumberListWriter::sendBatch(const std::string& batch) {
    writer.batchBuffer.fill(0);
    std::copy(batch.begin(), batch.end(), writer.batchBuffer.begin());
    writer.batchCount = static_cast<std::uint8_t>(batch[3]);
    writer.unconfirmed = writer.batchCount;
    if (!commands_.sendInternet(batch)) {
        abandon(kAbandoned);
        return false;
    }
    return true;
}

void NumberListWriter::refused() {
    link_.logLine(kRefused);
    writer.writeTicks = 0;
    writer.unconfirmed = 0; // not stored
}

std::optional<std::string> NumberListWriter::deviceHolds() const {
    if (!writer.active) {
        return std::nullopt;
    }
    std::string text = "в приборе записано " + std::to_string(writer.confirmed) + " из " +
                       std::to_string(writer.total) + " номеров";
    if (writer.unconfirmed > 0) {
        text += ", еще " + std::to_string(writer.unconfirmed) + " отправлено без подтверждения";
    }
    // The serial write overwrites cell by cell; the Internet write erased the list first.
    text += writer.internet ? "; прежний список прибора стерт"
                            : "; в остальных ячейках прибора прежние номера";
    return text;
}

void NumberListWriter::stop() {
    writer.active = false;
    writer.writeTicks = 0;
}

void NumberListWriter::tick() {
    if (writer.writeTicks == 0) {
        return;
    }
    ++writer.writeTicks;
    if (writer.writeTicks > writer.writeLimit) {
        writer.writeRow = 1;
        writer.writeCell = 0;
        writer.writeTicks = 0;
        // A late "+NTF:1" on the serial link writes the list again from cell
        // 0, which leaves the device with the whole list. On the Internet link
        // the same would add the first numbers a second time behind the ones
        // already stored, so there the write is over.
        if (writer.internet) {
            writer.active = false;
        }
        link_.logLine(kNoAnswer);
    }
}

void NumberListWriter::abandon(const std::string& reason) {
    writer.writeRow = 1;
    writer.writeCell = 0;
    writer.writeTicks = 0;
    writer.active = false;
    link_.logLine(reason);
}

void NumberListWriter::resendLastBatch() {
    if (writer.batchCount == 0) {
        link_.logLine("Повтор пакета номеров не выполнен: пакет еще не отправлялся");
        return;
    }
    const std::size_t size = frames::kNumberRecordSize * writer.batchCount + 5;
    commands_.sendInternet(
        std::string_view(reinterpret_cast<const char*>(writer.batchBuffer.data()), size));
}
