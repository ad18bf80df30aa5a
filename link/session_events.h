// What a device session reports, in the device's and the link's terms: one
// plain struct per happening, carried as one SessionEvent. The link, the reply
// handling, the commands, the number read and writer and the firmware exchange
// report through it; session/event_text turns an event into the log line, the
// status texts and the message box a window shows, and a front end without a
// window (the command-line tool) decides from the events themselves.
#pragma once

#include "comm/port.h"
#include "protocol/device_replies.h"
#include "protocol/frames.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace events {

// An exchange with the device that the user started.
enum class Operation {
    ConfigRead,
    ConfigWrite,
    PasswordChange,
    ApnChange,
    NumberRead,
    NumberAdd,
    NumberDelete,
    NumberErase,
    NumberWrite,
    Programming,
};

// --- the port -----------------------------------------------------------------
struct PortOpened {
    std::string port;
};
// The port did not open. `newCause`: the cause differs from the one reported
// last (the same cause found again is not news). `searching`: the port went
// away and is looked for every second.
struct PortNotOpened {
    std::string port;
    comm::OpenResult open;
    bool newCause = true;
    bool searching = false;
};
// The port's device went away (adapter unplugged); it is searched for.
struct PortLost {
    std::string port;
};
// A port error ended an operation; the session goes on.
struct PortFailed {
    std::string what;
};

// --- the link -------------------------------------------------------------------
enum class Via { Serial, Internet };
// The device greeted: its name and firmware version.
struct Linked {
    Via via = Via::Serial;
    std::string deviceName;
    int firmwareVersion = 0;
};
// The greeting went out; the device has not answered yet.
struct Searching {};
// The link as it stands, shown again (back from another page): the device
// itself on the serial port, or the modem in front of it.
struct LinkShown {
    bool direct = true;
    std::string deviceName;
};
struct Offline {};
struct InternetChosen {};
// Back on a page while the Internet server listens.
struct InternetWaiting {
    bool deviceLinked = false;
};
// The device stopped answering: 20 s without a reply.
struct ReplyTimedOut {};
// Sent or received text in the diagnostic mode.
struct DiagnosticText {
    std::string text;
};

// Something the user asked for that is not done, and why.
enum class Refusal {
    NoLink,            // no device linked
    AlreadyLinked,     // Connect while linked
    Dialing,           // Connect while the modem calls
    NoDeviceNumber,    // Connect with the empty device number
    ApnSerialOnly,     // the access point only over the serial port
    NoServer,          // an Internet command without a server
    NoBatchToResend,   // "ADN" before any batch
    ImageInUse,        // another image while programming
    FirmwareNotOnline, // programming while the Internet server is in use
    ChangesSerialOnly, // a write of the changed cells while the device is on the Internet link
};
struct Refused {
    Refusal why;
};
struct BadServerPort {
    std::string typed;
};
// The operation's password is no number from 0 to 65535.
struct BadPassword {
    Operation op;
    std::string typed;
};
// The text cannot go to the device in its code page; `why` names the character.
struct CommandNotEncoded {
    std::string why;
};
// A frame that could not be built; `text` is the frame's own complaint.
struct CommandNotBuilt {
    std::string text;
};
struct CommandPartlySent {
    std::size_t sent = 0;
    std::size_t of = 0;
};
// A stored setting that cannot be, replaced by its default.
struct StoredBaudRefused {
    int index = 0;
};
struct StoredServerPortRefused {
    std::int64_t port = 0;
};

// --- the device's answers ---------------------------------------------------------
struct Started {
    Operation op;
};
// A reply whose meaning is a log line and nothing more for a front end
// (an alarm, "BUSY", a number added or deleted, ...).
struct DeviceSaid {
    device_replies::ReplyKind kind;
};
struct WrongPassword {};
struct PasswordChanged {};
struct ApnSent {};
struct ConfigRead {
    frames::ConfigBlockBytes block{};
};
struct ConfigWritten {};
// The number list has ended (its last packet, or "READOK").
struct NumberListEnded {};
// A configuration read and the number read after it both ended complete:
// `block` and the number list are all the device held.
struct DeviceRead {
    frames::ConfigBlockBytes block{};
};
// The number read was cut short with `rows` rows filled; no backup is made.
struct NumberReadCut {
    int rows = 0;
};
struct BadPackets {
    std::uint8_t count = 0;
};
struct PacketTooLong {
    std::size_t limit = 0;
};
struct NumbersOutsideList {
    int rows = 0;
    std::size_t dropped = 0;
};
// A key the device reported is in the list already.
struct KeyListed {};
// The backup of a complete read.
struct BackupKept {
    std::string path;
};
struct BackupFailed {
    std::string reason;
};

// --- the number write ---------------------------------------------------------------
// The list holds a row the writer could not send: nothing goes out.
struct ListNotWritable {
    std::string problem;
};
struct NumberSent {
    int row = 0;
};
// The serial write's last step: the cells behind the list are freed.
struct FreeingRest {};
struct NumbersWritten {
    int count = 0;
};
// A write of the changed cells ended with the device's "+EFA:": `cells`
// "RT+NTF" commands went out and were confirmed.
struct ChangesWritten {
    int cells = 0;
};
// The list read back after a write of the changes is not the list: a cell
// the owner freed in the middle (which no read shows) moved the later ones.
// The whole list is written next.
struct ChangesNotHeld {};
// The device refused a cell ("+NTF:" without 1).
struct NumberRefused {};
struct NumberWriteStopped {
    enum class Reason {
        NoAnswer,     // 40 s without an answer to a step
        NotSent,      // a step could not be sent
        BadRow,       // a row that cannot be sent; `detail` says which and why
        BadApartment, // an apartment that is no whole number; `detail`: the row, `value`: it
        ListNotRead,  // the device's list, read to find the changed cells, did not come whole
        CheckNotRead, // the read back after a write of the changes did not come whole
    };
    Reason reason = Reason::NoAnswer;
    std::string detail;
    std::string value;
    int confirmed = 0; // numbers the device confirmed before
};

// --- the firmware ----------------------------------------------------------------------
struct AwaitingBootloader {};
struct BootloaderReady {
    int version = 0;
};
// The bootloader stayed silent for 2 s: the page waits for it again.
struct BootloaderSilent {};
struct FirmwareFileUnreadable {};
struct FirmwareFileInvalid {};
struct FirmwareProgress {
    std::size_t blocks = 0;
    std::size_t of = 0;
    int percent = 0;
};
struct FirmwareDone {};
// Why programming stopped before the end.
enum class FirmwareStop : std::uint8_t {
    PageLeft,      // another page was chosen
    PortLost,      // the port went away
    ProgramClosed, // the program closes
};
// Programming stopped before the end.
struct FirmwareFailed {
    FirmwareStop cause = FirmwareStop::PageLeft;
    std::string port; // PortLost: the port's name
};
// The firmware image held now: its path (in the file system's encoding) and
// version; none when no image is held.
struct FirmwareImage {
    std::string path;
    std::optional<std::uint8_t> version;
};
// The bootloader refused the same block too often.
struct FirmwareRejected {};

// --- the Internet server ------------------------------------------------------------------
// The server listens on `port` (on `address`, or on every address when empty).
struct ServerStarted {
    int port = 0;
    std::string address;
};
struct ServerStopped {};
// The typed port is not a number from 0 to 65535.
struct ServerPortRefused {
    std::string typed;
};
// The transport module `module` could not be loaded: `error` says why.
struct ServerModuleMissing {
    std::string module;
    std::string error;
};
struct ServerListenFailed {
    int port = 0;
    std::string error;
};
// A socket error on a connection: the system's error number.
struct ServerSocketError {
    int code = 0;
};
// Out of descriptors: accepting pauses (`code` the system's error number)
// and is tried again every second, until it resumes.
struct AcceptPaused {
    int code = 0;
};
struct AcceptResumed {};
// A command for the Internet link with no device connected to the server.
struct NoDeviceOnServer {};
// Panel 2 follows the clients: a device is connected to the server (or a
// client that may be one), or none is.
struct InternetClient {
    bool connected = false;
};
// Why a connection that is not the device was closed.
enum class ClientRefusal : std::uint8_t {
    NotAllowed,   // its address is not in the allowed list
    NotTheDevice, // it showed it is something else
    Silent,       // it did not announce itself within waitedMs
};
// The first refusal of a spell; those that follow are counted.
struct ClientRefused {
    ClientRefusal why = ClientRefusal::NotTheDevice;
    std::string address;
    std::int64_t waitedMs = 0; // Silent
};
// Refusals counted and not logged: `count` within `periodMs`, or, with a
// period of 0, those left when the server stopped.
struct RefusalsCounted {
    int count = 0;
    std::int64_t periodMs = 0;
};
// The server holds `count` connections and no more: the oldest without
// "CONNECT" are closed.
struct ConnectionsCapped {
    int count = 0;
};
// A client announced itself: it is the device (`peer`: address and port).
struct DeviceConnected {
    std::string peer;
};
// The device announced itself again from `newer`; its connection from
// `older` is closed.
struct DeviceReplaced {
    std::string older;
    std::string newer;
};
// A number packet split over reads is lost: a read came that is not its
// rest (`bytes` held), or it did not come whole within `afterMs`.
struct PacketCut {
    std::size_t bytes = 0;
};
struct PacketTimedOut {
    std::int64_t afterMs = 0;
    std::size_t bytes = 0;
};

} // namespace events

using SessionEvent = std::variant<
    events::PortOpened, events::PortNotOpened, events::PortLost, events::PortFailed, events::Linked,
    events::Searching, events::LinkShown, events::Offline, events::InternetChosen,
    events::InternetWaiting, events::ReplyTimedOut, events::DiagnosticText, events::Refused,
    events::BadServerPort, events::BadPassword, events::CommandNotEncoded, events::CommandNotBuilt,
    events::CommandPartlySent, events::StoredBaudRefused, events::StoredServerPortRefused,
    events::Started, events::DeviceSaid, events::WrongPassword, events::PasswordChanged,
    events::ApnSent, events::ConfigRead, events::ConfigWritten, events::NumberListEnded,
    events::DeviceRead, events::NumberReadCut, events::BadPackets, events::PacketTooLong,
    events::NumbersOutsideList, events::KeyListed, events::BackupKept, events::BackupFailed,
    events::ListNotWritable, events::NumberSent, events::FreeingRest, events::NumbersWritten,
    events::ChangesWritten, events::ChangesNotHeld, events::NumberRefused,
    events::NumberWriteStopped, events::AwaitingBootloader, events::BootloaderReady,
    events::BootloaderSilent, events::FirmwareFileUnreadable, events::FirmwareFileInvalid,
    events::FirmwareProgress, events::FirmwareDone, events::FirmwareFailed,
    events::FirmwareRejected, events::FirmwareImage, events::ServerStarted, events::ServerStopped,
    events::ServerPortRefused, events::ServerModuleMissing, events::ServerListenFailed,
    events::ServerSocketError, events::AcceptPaused, events::AcceptResumed,
    events::NoDeviceOnServer, events::InternetClient, events::ClientRefused,
    events::RefusalsCounted, events::ConnectionsCapped, events::DeviceConnected,
    events::DeviceReplaced, events::PacketCut, events::PacketTimedOut>;
