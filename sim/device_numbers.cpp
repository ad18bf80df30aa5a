// The device's number memory: reading it out in packets, writing cells,
// single adds and deletes, erasing, and the record batches of the Internet link.
#include "sim/device.h"

#include <algorithm>

namespace sim {
namespace {

constexpr const char* kWrongPassword = "Not corr";
// The longest number the add and delete commands take before the apartment.
constexpr std::size_t kTypedNumberLength = 11;

// " <password>" as the serial forms carry it after their keyword.
bool passwordArgument(std::string_view payload, std::uint16_t password) {
    return payload.size() > 1 && payload[0] == ' ' &&
           wire::passwordMatches(payload.substr(1), password);
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A number as the add and delete commands give it, in the form the memory
// keeps: at most 10 characters, the subscriber part of a longer one.
std::string storedForm(std::string_view number) {
    if (number.size() > kNumberTextSize) {
        number.remove_prefix(number.size() - kNumberTextSize);
    }
    return std::string(number);
}

// The add and delete commands come in two forms: "<keyword> <password>
// <text>\r" from the configurator on the serial link, and "<keyword><text>\x1A\r"
// as a text message from the owner's phone. Gives the text, or false with
// *reply set when the command must not be carried out.
bool commandText(std::string_view payload, std::uint16_t password, std::string_view* text,
                 std::string* reply) {
    if (!payload.empty() && payload.back() == '\x1A') {
        *text = payload.substr(0, payload.size() - 1);
        return true;
    }
    if (payload.size() < 2 || payload[0] != ' ') {
        *reply = {};
        return false;
    }
    const auto blank = payload.find(' ', 1);
    const std::string_view given =
        payload.substr(1, blank == std::string_view::npos ? std::string_view::npos : blank - 1);
    if (!wire::passwordMatches(given, password)) {
        *reply = kWrongPassword;
        return false;
    }
    if (blank == std::string_view::npos) {
        *reply = {};
        return false;
    }
    *text = payload.substr(blank + 1);
    return true;
}

} // namespace

std::string SimDevice::onRead(std::string_view payload) {
    if (carrier_ == Carrier::Serial && !passwordArgument(payload, state_.password())) {
        read_ = ReadSession{};
        return kWrongPassword;
    }
    read_ = ReadSession{};
    const auto stored = state_.storedNumbers();
    if (stored.empty()) {
        return "READOK";
    }
    for (std::size_t first = 0; first < stored.size(); first += kRecordsPerPacket) {
        const std::size_t end = std::min(stored.size(), first + kRecordsPerPacket);
        std::vector<NumberEntry> records;
        for (std::size_t i = first; i < end; ++i) {
            records.push_back(stored[i].second);
        }
        read_.packets.push_back(wire::numberPacket(records, end == stored.size()));
    }
    read_.active = true;
    return sendPacket(true);
}

std::string SimDevice::sendPacket(bool spoilAllowed) {
    std::string packet = read_.packets[read_.next];
    if (spoilAllowed && !read_.spoiledSent && faults_.corruptPacketAt == read_.next + 1) {
        packet.back() = '#';
        read_.spoiledSent = true;
    }
    return carrier_ == Carrier::Serial ? wire::ipdFrame(packet) : packet;
}

std::string SimDevice::onReceiveOk() {
    if (!read_.active) {
        return {};
    }
    if (++read_.next >= read_.packets.size()) {
        read_ = ReadSession{}; // the last packet is taken; the read is over
        return {};
    }
    if (faults_.readStopsAfter != 0 && read_.next >= faults_.readStopsAfter) {
        read_ = ReadSession{}; // the rest of the list is never sent
        return {};
    }
    return sendPacket(true);
}

std::string SimDevice::onReceiveFail() {
    return read_.active ? sendPacket(false) : std::string();
}

bool SimDevice::storeInFreeCell(const NumberEntry& entry) {
    auto& cells = state_.numbers;
    const auto free =
        std::find_if(cells.begin(), cells.end(), [](const NumberEntry& e) { return e.free(); });
    if (free != cells.end() &&
        static_cast<std::size_t>(free - cells.begin()) < state_.numberCapacity) {
        *free = entry;
        return true;
    }
    if (cells.size() < state_.numberCapacity) {
        cells.push_back(entry);
        return true;
    }
    return false;
}

std::string SimDevice::onWriteCell(std::string_view payload) {
    if (faults_.refuseNtfAt != armedRefuse_) {
        armedRefuse_ = faults_.refuseNtfAt;
        refuseCount_ = 0;
    }
    const bool refused = armedRefuse_ != 0 && ++refuseCount_ == armedRefuse_;

    // "=<cell>,<number>,<apartment>"
    if (payload.empty() || payload[0] != '=') {
        return "+NTF:0";
    }
    payload.remove_prefix(1);
    const auto comma1 = payload.find(',');
    const auto comma2 = comma1 == std::string_view::npos ? comma1 : payload.find(',', comma1 + 1);
    if (comma2 == std::string_view::npos ||
        payload.find(',', comma2 + 1) != std::string_view::npos) {
        return "+NTF:0";
    }
    const std::string_view cellText = payload.substr(0, comma1);
    const std::string_view number = payload.substr(comma1 + 1, comma2 - comma1 - 1);
    const std::string_view apartmentText = payload.substr(comma2 + 1);
    unsigned long cell = 0;
    unsigned long apartment = 0;
    if (!wire::decimal(cellText, 5, &cell) || cell >= state_.numberCapacity || number.empty() ||
        number.size() > kNumberTextSize ||
        (!apartmentText.empty() &&
         (!wire::decimal(apartmentText, 5, &apartment) || apartment > 0xFFFF))) {
        return "+NTF:0";
    }
    if (refused || faults_.memoryFull) {
        return "+NTF:0";
    }
    auto& cells = state_.numbers;
    if (cells.size() <= cell) {
        cells.resize(cell + 1);
    }
    cells[cell] = {std::string(number), static_cast<std::uint16_t>(apartment)};
    return "+NTF:1";
}

std::string SimDevice::onFreeFrom(std::string_view payload) {
    unsigned long cell = 0;
    if (payload.empty() || payload[0] != '=' || !wire::decimal(payload.substr(1), 5, &cell) ||
        cell > state_.numberCapacity) {
        return "+EFA:0";
    }
    if (state_.numbers.size() > cell) {
        state_.numbers.resize(cell);
    }
    return "+EFA:1";
}

std::string SimDevice::onAdd(std::string_view payload) {
    std::string_view text;
    std::string reply;
    if (!commandText(payload, state_.password(), &text, &reply)) {
        return reply;
    }
    if (!allDigits(text)) {
        return {};
    }
    const std::string_view number = text.substr(0, kTypedNumberLength);
    const std::string_view apartmentText =
        text.size() > kTypedNumberLength ? text.substr(kTypedNumberLength) : std::string_view();
    unsigned long apartment = 0;
    if (!apartmentText.empty() &&
        (!wire::decimal(apartmentText, 5, &apartment) || apartment > 0xFFFF)) {
        return {};
    }
    if (faults_.memoryFull) {
        return "FULL";
    }
    const NumberEntry entry{storedForm(number), static_cast<std::uint16_t>(apartment)};
    for (auto& cell : state_.numbers) {
        if (cell.number == entry.number) {
            cell.apartment = entry.apartment;
            return "ADD";
        }
    }
    return storeInFreeCell(entry) ? "ADD" : "FULL";
}

std::string SimDevice::onDelete(std::string_view payload) {
    std::string_view text;
    std::string reply;
    if (!commandText(payload, state_.password(), &text, &reply)) {
        return reply;
    }
    if (!allDigits(text)) {
        return {};
    }
    const std::string number = storedForm(text);
    bool found = false;
    for (auto& cell : state_.numbers) {
        if (cell.number == number) {
            cell = NumberEntry{};
            found = true;
        }
    }
    while (!state_.numbers.empty() && state_.numbers.back().free()) {
        state_.numbers.pop_back();
    }
    return found ? "DEL" : "NOT NUMBER";
}

std::string SimDevice::onErase(std::string_view payload) {
    // "ERASE\r" (a text message) and the Internet form carry no password.
    if (!payload.empty() && !passwordArgument(payload, state_.password())) {
        return kWrongPassword;
    }
    state_.numbers.clear();
    read_ = ReadSession{};
    return "ERASE";
}

std::string SimDevice::onBatch(std::string_view payload) {
    if (faults_.repeatBatchAt != armedRepeat_) {
        armedRepeat_ = faults_.repeatBatchAt;
        repeatCount_ = 0;
    }
    if (armedRepeat_ != 0 && ++repeatCount_ == armedRepeat_) {
        return "ADN";
    }
    // n, n records, "@"
    const std::size_t n = payload.empty() ? 0 : static_cast<unsigned char>(payload[0]);
    if (n == 0 || n > kMaxBatchRecords || payload.size() != 1 + n * kNumberRecordSize + 1 ||
        payload.back() != '@') {
        return "ADN";
    }
    if (faults_.memoryFull) {
        return "FULL";
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::string_view record =
            payload.substr(1 + i * kNumberRecordSize, kNumberRecordSize);
        std::string_view text = record.substr(0, kNumberTextSize);
        text = text.substr(0, std::min(text.find('\0'), text.find('\r')));
        if (text.empty()) {
            continue; // nothing to keep in a record without a number
        }
        const auto apartment = static_cast<std::uint16_t>(
            static_cast<unsigned char>(record[10]) | (static_cast<unsigned char>(record[11]) << 8));
        if (!storeInFreeCell({std::string(text), apartment})) {
            return "FULL";
        }
    }
    if (faults_.dropAfterBatches != 0 && ++batchesThisLink_ == faults_.dropAfterBatches &&
        (faults_.drops == 0 || dropsMade_ < faults_.drops)) {
        // The batch is kept, its answer never leaves: the link is gone.
        ++dropsMade_;
        closeRequested_ = true;
        return {};
    }
    return "ADD";
}

} // namespace sim
