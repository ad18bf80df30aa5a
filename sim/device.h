// The simulated VX-RT-7 device: a pure model without any transport. Bytes the
// configurator sends go in through feed(), the device's answer comes out as the
// pieces it writes back. The serial and TCP transports only move bytes.
//
// How the simulated device behaves where the configurator leaves it open:
//
// Links and replies. On the serial link the device answers "CONFO" with its
// greeting and takes the serial forms below; over TCP it announces itself with
// "CONNECT" when it has connected and takes the Internet forms ("READ",
// "ERASE", "ADN", "CLOSED" without terminators) and the commands common to
// both (configuration, password, access point, "R_OK\r", "RFAIL\r"). Each
// link ignores the other's forms. Replies are the bare tokens the
// configurator looks for, with no line ends.
//
// Password. The device keeps one 16-bit password, in bytes 0-1 of its
// configuration block (factory value 1234). "CONFR" and "CONFW" carry it as
// that number; the text commands carry it as decimal text, which the device
// takes by its value: "0012" and "12" are the same password, and anything but
// one to five decimal digits (at most 65535) is a wrong password. A wrong
// password is answered "Not corr" and the command is not carried out.
//
// Configuration. "CONFR" + 2 bytes is answered "CONFR" and the 68-byte block
// (bytes 0-1 hold the current password). "CONFW" + 68 bytes is taken only when
// bytes 0-1 equal the current password, so a write never changes the
// password; it is answered "CONFW". "CHPASS <old> <new>" (ending "\r", or
// "\x1A\r" as a text message) changes the password to <new>, which must be one
// to four decimal digits (the configurator's box holds four characters);
// otherwise it answers "Not corr" and keeps the old one. "APN <password>
// "<text>"#\r" stores the text between the outer quotation marks (three
// quoted fields joined by "," stay as they are) and answers "APN"; a command
// without the quotation marks and "#" is ignored. "CONFC\r" ends a serial
// session silently; "!RST" switches to the bootloader, which does not answer
// the firmware's commands.
//
// Bootloader (serial). It sends ">" every promptPeriod until it gets "<",
// answers that with "RT" and its version byte, and from then on reads every
// byte as part of a block frame: the block number (high byte first), 128 data
// bytes and their sum modulo 256. A frame whose checksum is wrong or whose
// number runs ahead of the blocks taken so far is answered "@"; a sound one
// is programmed and answered "!" (block 0 starts a new image; a block sent
// again overwrites itself). The end marker 0xFF 0xFF ends programming and
// starts the firmware again, which then waits for "CONFO". The programmed
// blocks stay in DeviceState::programmedImage, padding included. A block
// number never has the high byte of "<" or "!" (an image has at most 120
// blocks), so "<" where a frame would start repeats the greeting and "!RST"
// restarts the bootloader.
//
// Number memory. numberCapacity cells (default 650), numbered from 0; a cell
// holds a number of at most 10 characters and an apartment number, or is
// free. Reads send the occupied cells in cell order and skip free ones.
//  - "READ <password>\r" (serial) or "READ" (TCP): the list in packets of up
//    to 21 records (a packet's length must fit in one byte: 12 * 21 + 2 =
//    254), kind "R", the last one "E"; 650 numbers are 30 packets of 21 and a
//    last of 20. On the serial link each packet follows "+IPD,<length>:", on
//    TCP it is one bare write. The next packet goes on "R_OK\r", the same one
//    again on "RFAIL\r"; after the last the device waits for the next command.
//    An empty memory answers "READOK" instead of a packet of no records (which
//    the configurator would ignore and never acknowledge). The list is taken
//    when "READ" arrives; a new "READ" starts over.
//  - "RT+NTF=<cell>,<number>,<apartment>\r" writes one cell: "+NTF:1"; a cell
//    outside the memory, an empty number or one of more than 10 characters, or
//    an apartment that is not a decimal number up to 65535 (empty means 0):
//    "+NTF:0" and nothing is written.
//  - "RT+EFA=<cell>\r" frees the cells from <cell> to the end: "+EFA:1"; a
//    cell that is not a number from 0 to the capacity: "+EFA:0".
//  - "ADD <password> <number><apartment>\r" and the text-message form
//    "ADD<number><apartment>\x1A\r" (no password: it comes from the owner's
//    phone). The format does not mark where the number ends; the device takes
//    the first 11 characters as the number (a full national number, as the
//    configurator's box holds it) and the rest, at most 5 digits, as the
//    apartment (none: 0). A number longer than 10 characters is kept by its
//    last 10 (the subscriber part without the trunk prefix). A number already
//    stored gets the new apartment; otherwise the first free cell takes it.
//    Answers "ADD", "FULL" without a free cell; a text that is not digits is
//    ignored.
//  - "DEL <password> <number>\r" and "DEL<number>\x1A\r": frees every cell
//    holding the number (read as ADD reads it): "DEL", or "NOT NUMBER".
//  - "ERASE <password>\r", "ERASE\r" and on TCP "ERASE": frees all cells,
//    answers "ERASE".
//  - "ADN" batches (TCP): "ADN", n (1 to 10), n 12-byte records, "@". Each
//    record goes to the next free cell in the order received; the batch is
//    answered "ADD". When a record finds no free cell the ones before it stay
//    stored and the answer is "FULL". A batch with a bad count or without its
//    "@" is not stored and answered "ADN", which asks for it again.
//  - "CLOSED" (TCP) closes the connection without an answer.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One write of the device. delayBefore is the pause the device makes before
// this piece leaves (after the previous piece, or after the command arrived).
struct ReplyPiece {
    std::string bytes;
    std::chrono::milliseconds delayBefore{0};

    bool operator==(const ReplyPiece&) const = default;
};
using Reply = std::vector<ReplyPiece>;

// All bytes of a reply in order, without the pauses.
std::string joined(const Reply& reply);

// A fault that strikes one command of a kind, counted from the moment the
// fault is set (a changed fault starts counting again).
struct StepFault {
    enum class Mode {
        Off,
        SkipOne,  // the step-th such command gets no answer; later ones do
        GoSilent, // from the step-th such command on the device answers nothing at all
    };
    Mode mode = Mode::Off;
    std::string keyword; // "RT+NTF", "RT+EFA", "ADN", "READ", "R_OK", "CONFW", ...
    unsigned step = 0;   // 1 for the first such command

    bool operator==(const StepFault&) const = default;
};

// Faults the tests can switch on to see how the configurator copes. The
// commands are still carried out when their answer is swallowed.
struct Faults {
    // The device takes every command and answers none, and says nothing
    // unasked (the "CONNECT" announcement of a new connection excepted).
    bool noReply = false;
    // Replies leave in pieces of this many bytes (0: in one piece), with
    // splitGap between the pieces so that they arrive as separate reads.
    std::size_t splitReplyBytes = 0;
    std::chrono::milliseconds splitGap{50};
    // Replies leave in random pieces of 1 to 16 bytes, each 0 to splitGap
    // after the one before; the seed makes a run repeatable (0: off).
    std::uint32_t randomSplitSeed = 0;
    // No answer to one command, or silence from one command on.
    StepFault silence;
    // The k-th number packet of every read (1 for the first; 0: off) leaves
    // with a spoiled end mark the first time; the resend on "RFAIL" is sound.
    unsigned corruptPacketAt = 0;
    // Every number read stops after its k-th packet (0: off): the device
    // takes the acknowledgement of that packet and sends no more of its list,
    // as a device that loses its way in the middle of the list. Other
    // commands are still answered; a new "READ" starts over.
    unsigned readStopsAfter = 0;
    // The k-th "RT+NTF" since this was set is refused with "+NTF:0" (0: off).
    unsigned refuseNtfAt = 0;
    // The k-th "ADN" batch since this was set is answered "ADN" and not
    // stored, as if it had arrived spoiled (0: off).
    unsigned repeatBatchAt = 0;
    // Every number write finds the memory full, whatever is stored.
    bool memoryFull = false;
    // The connection drops (the device closes it without answering) when the
    // k-th "ADN" batch of a connection has been stored (0: off), as a GPRS
    // link that dies in the middle of a write; `drops` times in all
    // (0: on every connection). A drop counts down `drops` by one.
    unsigned dropAfterBatches = 0;
    unsigned drops = 1;
    // The next rejectFrames firmware frames are refused with "@", whatever
    // they hold; counts down as they come.
    unsigned rejectFrames = 0;
    // The k-th frame the bootloader receives (counted from the start) hangs
    // it: it answers that frame and everything after it with nothing until
    // "!RST" restarts it (0: off).
    unsigned muteLoaderAt = 0;
};

// One memory cell; an empty number is a free cell.
struct NumberEntry {
    std::string number; // up to 10 characters
    std::uint16_t apartment = 0;

    bool free() const { return number.empty(); }
    bool operator==(const NumberEntry&) const = default;
};

inline constexpr std::size_t kConfigBlockSize = 68;
inline constexpr std::size_t kDefaultNumberCapacity = 650;
inline constexpr std::uint8_t kDefaultFirmwareVersion = 30;
inline constexpr std::uint8_t kDefaultLoaderVersion = 2;
inline constexpr std::size_t kLoaderBlockSize = 128;
inline constexpr std::size_t kLoaderFrameSize = 2 + kLoaderBlockSize + 1;
inline constexpr std::size_t kLoaderMaxBlocks = 120;
inline constexpr std::uint16_t kFactoryPassword = 1234;
inline constexpr std::size_t kNumberTextSize = 10;
inline constexpr std::size_t kNumberRecordSize = 12;
inline constexpr std::size_t kRecordsPerPacket = 21;
inline constexpr std::size_t kMaxBatchRecords = 10;

using ConfigBlockBytes = std::array<std::uint8_t, kConfigBlockSize>;

// The block a new device holds: password 1234, relay pulse mode with 5000 ms
// pulse, 50 ms pause and one repetition, 20 s disarm and arm times, 5 min
// re-arm time, input mode 3, device number 1, country code "+7".
ConfigBlockBytes factoryConfigBlock();

// What the device remembers.
struct DeviceState {
    // The settings record; bytes 0-1 are the password, bytes 28-57 the keys.
    ConfigBlockBytes configBlock = factoryConfigBlock();
    // Memory cells from 0; cells at and beyond the end of the vector are
    // free. Never longer than numberCapacity.
    std::vector<NumberEntry> numbers;
    std::size_t numberCapacity = kDefaultNumberCapacity;
    std::string accessPoint;
    std::uint8_t firmwareVersion = kDefaultFirmwareVersion;
    bool bootloaderMode = false; // after "!RST" the bootloader speaks instead of the firmware
    std::uint8_t loaderVersion = kDefaultLoaderVersion; // sent after "RT"
    // The blocks the bootloader has programmed, 128 bytes each, in block order.
    std::vector<std::uint8_t> programmedImage;

    std::uint16_t password() const;
    void setPassword(std::uint16_t value);
    // The occupied cells in cell order, with their cell numbers.
    std::vector<std::pair<std::size_t, NumberEntry>> storedNumbers() const;
};

class SimDevice;

// One entry of the command table. The keyword is found anywhere in the input
// (whatever stands before it is dropped as noise); the framing tells how many
// bytes after it belong to the command.
struct Command {
    enum class Framing {
        Bare,           // the keyword alone ("CONFO")
        FixedPayload,   // the keyword and payloadBytes binary bytes ("CONFR" + 2)
        CarriageReturn, // the keyword and text up to "\r" ("CHPASS 1234 5678\r")
        Measured        // the keyword and as many bytes as `measure` says ("ADN" batches)
    };
    // measure's answer while the bytes so far do not tell the length yet.
    static constexpr std::size_t kNeedMore = static_cast<std::size_t>(-1);

    std::string keyword;
    Framing framing = Framing::Bare;
    std::size_t payloadBytes = 0; // FixedPayload only
    // Measured only: gets the bytes after the keyword received so far and
    // returns how many of them belong to the command, or kNeedMore.
    std::function<std::size_t(std::string_view rest)> measure{};
    bool inBootloader = false; // answered in bootloader mode instead of normal mode
    // Gets the bytes after the keyword (without the "\r" of CarriageReturn
    // framing) and returns the reply bytes, empty for none.
    std::function<std::string(SimDevice&, std::string_view payload)> handler{};
};

// Which link the device is on decides which forms of the commands it takes.
enum class Carrier {
    Serial, // the device's own serial interface
    Tcp     // a GPRS connection to the configurator's server
};

class SimDevice {
  public:
    // A text command longer than this without its "\r" is noise; it is dropped.
    static constexpr std::size_t kMaxTextCommand = 256;

    SimDevice();
    explicit SimDevice(DeviceState state, Carrier carrier = Carrier::Serial);

    // Takes bytes in the order they arrived (any split) and returns what the
    // device writes back. Input that matches no command is ignored.
    Reply feed(std::string_view bytes);

    DeviceState& state() { return state_; }
    const DeviceState& state() const { return state_; }
    Faults& faults() { return faults_; }
    const Faults& faults() const { return faults_; }
    Carrier carrier() const { return carrier_; }

    // Adds an entry to the command table (the device's own commands are there
    // from construction).
    void addCommand(Command command);

    // The greeting the device answers "CONFO" with: "VELIRAN", a space, the
    // firmware version byte and "#".
    std::string greeting() const;

    // Text the device sends on its own once it is linked (the serial greeting
    // was answered, or "CONNECT" was announced), after `delay`; for tests that
    // need "BUSY", "Trevoga", "+KEY..." and the like. Empty: nothing.
    void setSayAfterLink(std::string text, std::chrono::milliseconds delay);
    // Queues text to be sent at once, unasked.
    void say(std::string text);
    // A TCP connection was made: the device announces itself with "CONNECT".
    void linkOpened();
    // The connection or the session ended: a read in progress is dropped.
    void linkClosed();
    // What the device has to send unasked; taken once.
    Reply takeUnsolicited();
    // How often the device says something unasked on its own clock: the
    // bootloader's prompt while it waits for "<"; zero while nothing is due.
    std::chrono::milliseconds promptPeriod() const;
    // The prompt (">") when one is due by promptPeriod, else nothing.
    Reply prompt() const;
    static constexpr std::chrono::milliseconds kPromptPeriod{100};
    // The configurator sent "CLOSED": the device closes the connection once
    // its answers are out.
    bool closeRequested() const { return closeRequested_; }

    // Bytes kept while waiting for the rest of a command; bounded.
    std::size_t pendingInput() const { return input_.size(); }
    // True while a number read waits for "R_OK" or "RFAIL".
    bool readInProgress() const { return read_.active; }

  private:
    struct Match {
        std::size_t position;
        const Command* command;
    };
    struct ReadSession {
        bool active = false;
        std::vector<std::string> packets; // without the "+IPD" header
        std::size_t next = 0;             // the packet sent last and awaiting an answer
        bool spoiledSent = false;
    };

    struct LoaderSession {
        bool greeted = false; // "<" has come
        std::string frame;    // bytes of the frame being received
        std::size_t nextBlock = 0;
        bool hung = false; // see Faults::muteLoaderAt
    };

    Reply feedBootloader(std::string_view bytes);
    std::string onLoaderFrame();

    void installSerialCommands();
    void installTcpCommands();
    void installSharedCommands();
    Match findCommand() const;
    // How many bytes at the end of the input could be the start of a keyword.
    std::size_t keywordStartAtEnd() const;
    Reply shape(std::string reply) const;
    // Counts the command for the step faults; false when its answer must be swallowed.
    bool answerAllowed(std::string_view keyword);

    // Handlers (device_config.cpp).
    std::string onConfigRead(std::string_view payload);
    std::string onConfigWrite(std::string_view payload);
    std::string onChangePassword(std::string_view payload);
    std::string onAccessPoint(std::string_view payload);
    // Handlers (device_numbers.cpp).
    std::string onRead(std::string_view payload);
    std::string onReceiveOk();
    std::string onReceiveFail();
    std::string sendPacket(bool spoilAllowed);
    std::string onWriteCell(std::string_view payload);
    std::string onFreeFrom(std::string_view payload);
    std::string onAdd(std::string_view payload);
    std::string onDelete(std::string_view payload);
    std::string onErase(std::string_view payload);
    std::string onBatch(std::string_view payload);
    bool storeInFreeCell(const NumberEntry& entry);

    DeviceState state_;
    Faults faults_;
    mutable std::mt19937 splitRandom_; // seeded on the first random split
    mutable bool splitRandomSeeded_ = false;
    Carrier carrier_;
    std::vector<Command> commands_;
    std::string input_;

    ReadSession read_;
    LoaderSession loader_;
    unsigned loaderFrames_ = 0; // frames the bootloader has received in all
    Reply unsolicited_;
    std::string sayAfterLink_;
    std::chrono::milliseconds sayDelay_{0};
    bool linked_ = false;
    bool announcePending_ = false;
    bool closeRequested_ = false;

    // Step fault bookkeeping: what was armed, and the counts since.
    StepFault armedSilence_;
    unsigned silenceCount_ = 0;
    unsigned armedRefuse_ = 0;
    unsigned refuseCount_ = 0;
    unsigned armedRepeat_ = 0;
    unsigned repeatCount_ = 0;
    unsigned batchesThisLink_ = 0; // batches stored since the connection was made
    unsigned dropsMade_ = 0;
};

// The device's view of the texts it is sent.
namespace wire {
// A password argument: one to five decimal digits, at most 65535.
bool passwordMatches(std::string_view text, std::uint16_t password);
// A whole decimal number of at most `maxDigits` digits, no sign or blanks.
bool decimal(std::string_view text, std::size_t maxDigits, unsigned long* value);
// The "+IPD" header and packet of the serial link, or the bare packet.
std::string numberPacket(const std::vector<NumberEntry>& records, bool last);
std::string ipdFrame(std::string_view packet);
} // namespace wire

} // namespace sim
