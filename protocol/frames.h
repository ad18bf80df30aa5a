// Every byte sequence the configurator sends to the device, each made by one
// pure function. All texts are code page 1251: callers convert what the user
// typed (cp1251::fromUtf8) and refuse what the code page cannot hold before
// they get here.
//
// Text commands are formatted the way the window formats them into its
// 100-byte send buffer: at most 99 characters and a terminating zero. A
// command that would not fit is refused with a message for the log, never
// cut. An argument that holds a zero byte, a carriage return or a line feed
// is refused too: the zero byte would end the text early, and the other two
// would end the command at the device in the middle of an argument.
//
// Forms: "direct" means the device is attached to the serial port
// (LinkState::directDevice set), the other form is the one used after a
// device connected over the Internet link.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace frames {

// The send buffer holds this many characters before its terminating zero.
inline constexpr std::size_t kMaxTextCommand = 99;

inline constexpr std::size_t kConfigBlockSize = 68;
using ConfigBlockBytes = std::array<std::uint8_t, kConfigBlockSize>;

// A formatted text command, or why it was not formatted.
struct TextFrame {
    std::string bytes; // the command in 1251 bytes when ok()
    std::string error; // a Russian message for the log when refused
    bool ok() const { return error.empty(); }
};

// --- link control ---------------------------------------------------------
std::string frameGreeting();   // "CONFO", no terminator
std::string frameClose();      // "CONFC\r"
std::string frameClosed();     // "CLOSED", no terminator (Internet link)
std::string frameModemCall();  // "AT\r"
std::string frameReset();      // "!RST", no terminator
std::string frameBootPrompt(); // "<", the answer to the bootloader's prompt

// The diagnostic command: the text the user typed followed by "\r". An empty
// text sends "\r" alone.
TextFrame frameDiagnostic(std::string_view command);

// --- configuration --------------------------------------------------------
// "CONFR" and the password as a 16-bit little-endian number: 7 bytes, the
// same on both links.
std::string frameConfigRead(std::uint16_t password);
// "CONFW" and the 68-byte configuration block: 73 bytes on both links.
std::string frameConfigWrite(const ConfigBlockBytes& block);

// The numeric value of the Password text as it travels in "CONFR" and in the
// configuration block: decimal digits only, leading zeros allowed, value up
// to 65535. Anything else (empty, signs, blanks, letters) gives nullopt.
std::optional<std::uint16_t> passwordValue(std::string_view text);

// --- text commands with arguments -----------------------------------------
// "CHPASS %s %s\r" (direct) or "CHPASS %s %s\x1A\r" (Internet link).
TextFrame frameChangePassword(std::string_view password, std::string_view newPassword, bool direct);
// "APN %s \"%s\"#\r": the access point text is enclosed in double quotes by
// the format, so a text of the form name","user","password carries three
// quoted fields. Serial only; the command has no Internet form.
TextFrame frameApn(std::string_view password, std::string_view apn);

// --- number list ------------------------------------------------------------
// "ADD %s %s%s\r" (password, number, apartment) or "ADD%s%s\x1A\r".
TextFrame frameNumberAdd(std::string_view password, std::string_view number,
                         std::string_view apartment, bool direct);
// "DEL %s %s\r" (password, number) or "DEL%s\x1A\r".
TextFrame frameNumberDel(std::string_view password, std::string_view number, bool direct);
// "ERASE %s\r" (password) or "ERASE\r"; both go to the serial port.
TextFrame frameErase(std::string_view password, bool direct);
// "READ %s\r" (password, serial) or "READ" (4 bytes, Internet link).
TextFrame frameRead(std::string_view password, bool direct);
// The bulk writer on the serial link: "RT+NTF=%d,%s,%s\r" (memory cell,
// number, apartment) and "RT+EFA=%d\r" (the number of entries written).
TextFrame frameNtf(int cell, std::string_view number, std::string_view apartment);
TextFrame frameEfa(int cell);
// The bulk writer on the Internet link: "ERASE", 5 bytes, no terminator.
std::string frameEraseAll();

// --- acknowledgements of number packets -------------------------------------
std::string frameReceiveOk();   // "R_OK\r", both links
std::string frameReceiveFail(); // "RFAIL\r", serial only

// --- number records -----------------------------------------------------------
inline constexpr std::size_t kNumberRecordSize = 12;
inline constexpr std::size_t kNumberTextSize = 10;
inline constexpr std::size_t kMaxBatchRecords = 10;
using NumberRecordBytes = std::array<std::uint8_t, kNumberRecordSize>;

// One subscriber entry on the wire: the number text in its first 10 bytes
// (cut to 10, or followed by zero bytes up to 10), then the apartment number
// as 16 bits, low byte first.
NumberRecordBytes encodeNumberRecord(std::string_view number, std::uint16_t apartment);

struct NumberRecord {
    std::string number; // 1251 bytes, up to the first byte 13 or 0 of the ten
    std::uint16_t apartment = 0;
};
// Reads one record from 12 bytes.
NumberRecord decodeNumberRecord(const std::uint8_t* record);

// A batch for the Internet link: "ADN", the record count as one byte, the
// records and "@": 12 * n + 5 bytes. Takes 1 to 10 records; an empty list or
// more than ten gives an empty string (nothing to send).
std::string frameNumberBatch(const std::vector<NumberRecordBytes>& records);

} // namespace frames
