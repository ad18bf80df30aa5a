#include "protocol/reply_analysis.h"

#include "link/link_controller.h"
#include "lists/number_grid.h"
#include "protocol/cp1251.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace {

// Tokens that the serial analyser answers with a log line and nothing else,
// in their place of the table: order, tokens, log line, whether the reply
// stops the watchdog. The greeting, "+IPD", "CONFW", "CONFR", "+NTF:",
// "+EFA:" and "+KEY" do more and are handled in between.
struct PlainReply {
    std::string_view token;
    std::string_view alternative; // empty when the test has one token
    const char* log;
    bool stopsWatchdog;
};

constexpr PlainReply kSerialPlainReplies[] = {
    {"CLOSED", "", "Соединение прервано", false},
    {"READOK", "", "Чтение номеров завершено", true},
    {"CONNECT", "", "Соединение установлено", false},
    {"Trevoga", "", "Сработал датчик охраны", false},
    {"ADD", "Dobavlen", "Номер добавлен", true},
    {"FULL", "svobo", "Номер не добавлен. Нет свободного места", true},
    {"DEL", "Ydalen", "Номер удален", true},
    {"NOT NUMBER", "ne naiden", "Номер не найден", true},
    {"ERASE", "Vse nom", "Номера удалены", true},
    {"Not corr", "", "Пароль не верный", true},
    {"CHPASS", "New pass", "Пароль изменен", true},
    {"APN", "", "APN сменен", true},
    {"TON_SET", "New Ton", "Время работы изменено", true},
    {"DISCON", "", "Устройство разъединено", false},
    {"GPRS ser", "No GPRS", "GPRS сервис не доступен", false},
    {"Ne yda", "", "Устройству не удается установить соединение", false},
    {"BUSY", "", "Устройство занято", false},
};

const char* const kReadDone = "Чтение номеров завершено";
const char* const kConfigRead = "Конфигурация считана";
const char* const kConfigWritten = "Конфигурация записана";
const char* const kLinked = "Соединение установлено";

} // namespace

ReplyAnalyser::ReplyAnalyser(LinkController& link) : link_(link), protocol_(ownProtocol_) {}

ReplyAnalyser::ReplyAnalyser(LinkController& link, ProtocolState& protocol)
    : link_(link), protocol_(protocol) {}

ReplyAnalyser::Chunk ReplyAnalyser::makeChunk(const std::uint8_t* buffer, std::size_t count) {
    const char* chars = reinterpret_cast<const char*>(buffer);
    return Chunk{buffer, count, std::string_view(chars, ::strnlen(chars, count))};
}

void ReplyAnalyser::Receive_analyse() {
    rxBuffer_.fill(0);
    const std::size_t count = link_.readChunk(rxBuffer_.data(), kRxBufferSize);
    if (count > 0) {
        analyseChunk(rxBuffer_.data(), count);
    }
    rxBuffer_.fill(0);
}

void ReplyAnalyser::analyseChunk(const std::uint8_t* bytes, std::size_t count) {
    count = std::min<std::size_t>(count, kRxBufferSize);
    if (bytes != rxBuffer_.data()) {
        rxBuffer_.fill(0);
        if (count > 0) {
            std::memcpy(rxBuffer_.data(), bytes, count);
        }
    }
    LinkState& st = link_.state;
    if (st.bootloaderMode && Bootloader_analyse) {
        Bootloader_analyse(rxBuffer_.data(), count);
    }
    const Chunk c = makeChunk(rxBuffer_.data(), count);

    if (const auto at = c.find("VELIRAN"); at != Chunk::npos) {
        greeting(c, at);
    }
    if (const auto at = c.find("+IPD"); at != Chunk::npos) {
        serialNumberPacket(c, at);
    }
    if (c.has("READOK")) {
        numberReadEnded();
    }
    for (const PlainReply& r : kSerialPlainReplies) {
        if (c.has(r.token) || (!r.alternative.empty() && c.has(r.alternative))) {
            link_.logLine(r.log);
            if (r.stopsWatchdog) {
                stopWatchdog();
            }
        }
    }
    configWrittenOrRead(c);
    if (const auto at = c.find("+NTF:"); at != Chunk::npos) {
        writeNumbers(c.at(at + 5) == '1' ? 1 : 2);
    }
    if (c.has("+EFA:")) {
        link_.logLine("Запись номеров завершена");
    }
    if (const auto at = c.find("+KEY"); at != Chunk::npos) {
        keyReport(c, at);
    }

    if (st.debugMode) {
        link_.logLine(cp1251::toUtf8(c.text));
    }
    link_.notifyTimers();
}

void ReplyAnalyser::ServerSocket1ClientRead(const std::uint8_t* bytes, std::size_t count) {
    count = std::min<std::size_t>(count, kRxBufferSize);
    if (bytes == nullptr || count == 0) {
        return;
    }
    tcpBuffer_.fill(0);
    std::memcpy(tcpBuffer_.data(), bytes, count);
    const Chunk c = makeChunk(tcpBuffer_.data(), count);
    LinkState& st = link_.state;

    if (c.has("CONNECT")) {
        st.remoteConnected = true;
        st.directDevice = false;
        link_.view().setButtonEnabled(LinkButton::Disconnect, true);
        link_.logLine(kLinked);
    }
    if (c.has("READOK")) {
        link_.logLine(kReadDone);
        numberReadEnded();
        stopWatchdog();
    }
    // One number packet is one whole read, without a header.
    const std::uint8_t first = c.at(0);
    if (c.at(count - 1) == '@' && (first == 'R' || first == 'E')) {
        if (count > kMaxPacket) {
            // Several packets run together, or something else that merely
            // looks like one: its records cannot be told apart.
            link_.logLine("Пакет номеров длиннее " + std::to_string(kMaxPacket) + " байт пропущен");
        } else {
            storePacket(c, 0, count);
            const std::string ok = frames::frameReceiveOk();
            if (link_.sendData) {
                link_.sendData(reinterpret_cast<const std::uint8_t*>(ok.data()), ok.size());
            }
            stopWatchdog();
        }
    }
    if (c.has("ADD") || c.has("Dobavlen")) {
        link_.logLine("Номер добавлен");
        stopWatchdog();
        writeNumbers(1);
    }
    if (c.has("ADN")) {
        stopWatchdog();
        if (resendLastBatch) {
            resendLastBatch();
        }
    }
    if (c.has("ERASE")) {
        writeNumbers(1);
    }
    if (c.has("FULL") || c.has("svobo")) {
        link_.logLine("Номер не добавлен. Нет свободного места");
        stopWatchdog();
        writeNumbers(2);
    }
    if (c.has("Not corr")) {
        link_.logLine("Пароль не верный");
        stopWatchdog();
    }
    if (c.has("CHPASS") || c.has("New pass")) {
        link_.logLine("Пароль изменен");
        stopWatchdog();
    }
    configWrittenOrRead(c);
    link_.notifyTimers();
}

void ReplyAnalyser::greeting(const Chunk& c, std::size_t at) {
    // "VELIRAN", one byte, the firmware version, "#".
    const std::uint8_t version = c.at(at + 9) == '#' ? c.at(at + 8) : 0;
    LinkState& st = link_.state;
    st.linkUp = true;
    st.directDevice = true;
    st.remoteConnected = true;
    link_.setStatusPanel(2, "Coeдинение установлено: " + st.deviceName +
                                ", версия ПО: " + std::to_string(version));
    link_.logLine(kLinked);
}

void ReplyAnalyser::serialNumberPacket(const Chunk& c, std::size_t at) {
    stopWatchdog();
    if (protocol_.configReadPending) {
        // A configuration reply may come inside a "+IPD" header; "CONFR" takes it.
        return;
    }
    // "+IPD", one separator, the packet length in decimal digits, ":".
    std::size_t length = 0;
    for (std::size_t i = at + 5; i < c.text.size() && c.text[i] >= '0' && c.text[i] <= '9'; ++i) {
        if (length <= kMaxPacket) { // past that it only has to stay too long
            length = length * 10 + static_cast<std::size_t>(c.text[i] - '0');
        }
    }
    const std::size_t colon = c.text.find(':', at);
    if (colon == std::string_view::npos || length <= 11) {
        return;
    }
    const std::size_t start = colon + 1;
    // The end mark sits at the last byte of the packet; a packet that ends
    // past the received bytes finds a zero there and is refused.
    if (length <= kMaxPacket && c.at(start + length - 1) == '@') {
        storePacket(c, start, length);
        link_.SendStr(frames::frameReceiveOk());
        return;
    }
    link_.SendStr(frames::frameReceiveFail());
    ++protocol_.badPacketCount;
    if (setLabel7Caption) {
        setLabel7Caption(std::to_string(protocol_.badPacketCount));
    }
}

void ReplyAnalyser::numberReadEnded() {
    if (protocol_.numberReadPending) {
        protocol_.numberReadPending = false;
        protocol_.numberListComplete = true;
    }
}

void ReplyAnalyser::storePacket(const Chunk& c, std::size_t start, std::size_t length) {
    if (c.at(start) == 'E') {
        link_.logLine(kReadDone);
        numberReadEnded();
    }
    const std::size_t records = (length - 2) / frames::kNumberRecordSize;
    const int rows = numberGrid != nullptr ? numberGrid->rowCount() : 0;
    std::size_t dropped = 0;
    for (std::size_t i = 0; i < records; ++i) {
        frames::NumberRecordBytes bytes{};
        const std::size_t from = start + 1 + i * frames::kNumberRecordSize;
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            bytes[k] = c.at(from + k);
        }
        const frames::NumberRecord record = frames::decodeNumberRecord(bytes.data());
        const std::int64_t row = std::int64_t{protocol_.nextNumberRow} + std::int64_t(i);
        if (row < 1 || row > rows) {
            ++dropped;
            continue;
        }
        numberGrid->setCell(NumberGrid::kNumberColumn, static_cast<int>(row),
                            cp1251::toUtf8(record.number));
        numberGrid->setCell(NumberGrid::kApartmentColumn, static_cast<int>(row),
                            std::to_string(record.apartment));
    }
    const std::int64_t next = std::int64_t{protocol_.nextNumberRow} + std::int64_t(records);
    protocol_.nextNumberRow = static_cast<std::int32_t>(
        std::min<std::int64_t>(next, std::numeric_limits<std::int32_t>::max()));
    if (dropped > 0) {
        link_.logLine("Номера за пределами списка (строки 1-" + std::to_string(rows) +
                      ") не записаны: " + std::to_string(dropped));
        // The grid does not hold what the device sent.
        protocol_.numberReadPending = false;
        protocol_.numberListComplete = false;
    }
}

// Both links answer a configuration write with "CONFW" and a read with
// "CONFR" and the block.
void ReplyAnalyser::configWrittenOrRead(const Chunk& c) {
    if (c.has("CONFW")) {
        protocol_.configWritePending = false;
        link_.logLine(kConfigWritten);
        stopWatchdog();
        writeNumbers(0);
    }
    if (const auto at = c.find("CONFR"); at != Chunk::npos) {
        configReply(c, at);
    }
}

void ReplyAnalyser::configReply(const Chunk& c, std::size_t at) {
    // The 68 bytes after "CONFR", zero bytes included; missing ones read as zero.
    frames::ConfigBlockBytes block{};
    for (std::size_t k = 0; k < block.size(); ++k) {
        block[k] = c.at(at + 5 + k);
    }
    if (Read_conf) {
        Read_conf(block);
    }
    link_.logLine(kConfigRead);
    protocol_.configReadPending = false;
    stopWatchdog();
    if (Read_numbersClick) {
        Read_numbersClick();
    }
}

void ReplyAnalyser::keyReport(const Chunk& c, std::size_t at) {
    // "+KEY", two more characters, then up to 10 characters of the key.
    std::string key;
    for (std::size_t k = 0; k < 10; ++k) {
        const std::uint8_t b = c.at(at + 6 + k);
        if (b == 0) {
            break;
        }
        key.push_back(static_cast<char>(b));
    }
    const int page = currentPage ? currentPage() : 0;
    // A report without a key has nothing to add.
    if (page == 0 && !key.empty() && AddToNumListString) {
        AddToNumListString(cp1251::toUtf8(key));
    }
}

void ReplyAnalyser::stopWatchdog() {
    link_.state.replyTimer = 0;
}

void ReplyAnalyser::writeNumbers(int step) {
    if (WriteNumbers) {
        WriteNumbers(step);
    }
}
