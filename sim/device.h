// The simulated VX-RT-7 device: a pure model without any transport. Bytes the
// configurator sends go in through feed(), the device's answer comes out as the
// pieces it writes back. The serial and TCP transports only move bytes.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// Faults the tests can switch on to see how the configurator copes.
struct Faults {
    // The device takes every command and answers none.
    bool noReply = false;
    // Replies leave in pieces of this many bytes (0: in one piece), with
    // splitGap between the pieces so that they arrive as separate reads.
    std::size_t splitReplyBytes = 0;
    std::chrono::milliseconds splitGap{50};
    // Switches for the commands that carry data; they take effect in those
    // commands' handlers: a number packet with a spoiled end mark, the next
    // rejectFrames firmware frames refused, an add refused for lack of room.
    bool corruptPacket = false;
    unsigned rejectFrames = 0;
    bool memoryFull = false;
};

// One subscriber number as the device stores it.
struct NumberEntry {
    std::string number; // up to 10 characters
    std::uint16_t apartment = 0;
};

inline constexpr std::size_t kConfigBlockSize = 68;
inline constexpr std::size_t kKeyCount = 5;
inline constexpr std::size_t kDefaultNumberCapacity = 650;
inline constexpr std::uint8_t kDefaultFirmwareVersion = 30;

// What the device remembers.
struct DeviceState {
    std::array<std::uint8_t, kConfigBlockSize> configBlock{};
    std::string password = "1234"; // the factory password, as typed in text commands
    std::vector<NumberEntry> numbers;
    std::size_t numberCapacity = kDefaultNumberCapacity;
    std::array<std::array<std::uint8_t, 6>, kKeyCount> keys{}; // touch-memory key codes
    std::string accessPoint;
    std::uint8_t firmwareVersion = kDefaultFirmwareVersion;
    bool bootloaderMode = false; // after "!RST" the bootloader speaks instead of the firmware
};

class SimDevice;

// One entry of the command table. The keyword is found anywhere in the input
// (whatever stands before it is dropped as noise); the framing tells how many
// bytes after it belong to the command.
struct Command {
    enum class Framing {
        Bare,          // the keyword alone ("CONFO")
        FixedPayload,  // the keyword and payloadBytes binary bytes ("CONFR" + 2)
        CarriageReturn // the keyword and text up to "\r" ("CHPASS 1234 5678\r")
    };
    std::string keyword;
    Framing framing = Framing::Bare;
    std::size_t payloadBytes = 0; // FixedPayload only
    bool inBootloader = false;    // answered in bootloader mode instead of normal mode
    // Gets the bytes after the keyword (without the "\r" of CarriageReturn
    // framing) and returns the reply bytes, empty for none.
    std::function<std::string(SimDevice&, std::string_view payload)> handler;
};

class SimDevice {
  public:
    // A text command longer than this without its "\r" is noise; it is dropped.
    static constexpr std::size_t kMaxTextCommand = 256;

    SimDevice();
    explicit SimDevice(DeviceState state);

    // Takes bytes in the order they arrived (any split) and returns what the
    // device writes back. Input that matches no command is ignored.
    Reply feed(std::string_view bytes);

    DeviceState& state() { return state_; }
    const DeviceState& state() const { return state_; }
    Faults& faults() { return faults_; }
    const Faults& faults() const { return faults_; }

    // Adds an entry to the command table (the device's own commands are there
    // from construction).
    void addCommand(Command command);

    // The greeting the device answers "CONFO" with: "VELIRAN", a space, the
    // firmware version byte and "#".
    std::string greeting() const;

    // Bytes kept while waiting for the rest of a command; bounded.
    std::size_t pendingInput() const { return input_.size(); }

  private:
    struct Match {
        std::size_t position;
        const Command* command;
    };
    Match findCommand() const;
    Reply shape(std::string reply) const;

    DeviceState state_;
    Faults faults_;
    std::vector<Command> commands_;
    std::string input_;
    std::size_t longestKeyword_ = 0;
};

} // namespace sim
