// One device session: the serial port, the link logic, the reply handling,
// the command operations, the number list's reading and writing, the
// firmware exchange and the guard of writes that closing would cut, made and
// wired together once. A front end (the window, a command-line tool) builds
// one per device, calls the operations below with what the user typed, drives
// the two ticks and learns everything through its SessionObserver. Several
// sessions can live in one process: nothing here is global.
//
// Each operation catches a port error, reports it through error() (the
// operation ends there, the session goes on) and then says whether the ticks
// are needed now (timersChanged()).
#pragma once

#include "comm/tcomm.h"
#include "files/number_grid.h"
#include "firmware/bootloader_session.h"
#include "link/device_commands.h"
#include "link/link_controller.h"
#include "protocol/frames.h"
#include "protocol/protocol_state.h"
#include "session/device_writes.h"
#include "session/number_transfer.h"
#include "session/number_writer.h"
#include "session/reply_handling.h"
#include "session/server_transport.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace comm {
class TMainThreadDispatcher;
}

// Everything a session reports: what happened comes as events (event(),
// session/event_text has their texts); the rest is the state a front end
// shows. Every report does nothing unless taken.
class SessionObserver : public LinkObserver {};

class DeviceSession : private LinkObserver {
  public:
    // The dispatcher runs the port's events on the caller's thread (none:
    // the port does not open); the grid holds the number list. Both,
    // and the observer, must outlive the session.
    DeviceSession(comm::TMainThreadDispatcher* dispatcher, NumberGrid& grid,
                  SessionObserver& observer);
    ~DeviceSession() override;

    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // --- the link ----------------------------------------------------------
    // A serial port by name ("ttyUSB0", a full path) or "Интернет"
    // chosen by the user.
    void choosePort(const std::string& name);
    // The line speed as an index into the baud-rate list.
    void setBaudIndex(int index);
    // Greets the device, or on the Internet link calls the modem.
    void connect(const std::string& deviceNumber, const std::string& serverPortText);
    void disconnect();
    void goOffline(); // "Работать автономно"
    // Diagnostic mode: sent and received text go to the log.
    void setDiagnostics(bool on);
    void sendDiagnostic(const std::string& command);
    // The firmware page came to the front: the line is the bootloader's.
    void enterBootloader();
    // Any other page (or none) is in front: a firmware exchange under way
    // ends, and on a serial link the line is the device's again.
    void leaveBootloader();
    void setFastExchange(bool on);

    // The stored settings of the link, checked: a speed or server port that
    // cannot be is reported in the log and replaced by its default. Returns
    // the values taken.
    struct LinkSettings {
        std::string portName;
        int baudIndex = 12;
        std::int64_t serverPort = 2020;
        bool fastExchange = false;
    };
    LinkSettings restoreSettings(const LinkSettings& stored);

    // --- the device ----------------------------------------------------------
    void readConfig(const std::string& password);
    // Sends the block `buildBlock` makes once the link is known;
    // nullopt from it sends nothing, and so does a number list with a row
    // the writer could not send (listWriteProblem), which is reported.
    void writeConfig(const std::string& password,
                     const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock);
    // "Записать изменения": sends the block as writeConfig does; once the
    // device has taken it, reads the device's list into memory (the list
    // shown stays as it is) and writes only the cells that differ from what
    // the device holds, then "RT+EFA" as the full write ends, which leaves
    // the device as a full write would. Serial link only: on the Internet
    // link the batches carry no cell numbers, so nothing is sent there.
    // `check`: the list is read back after "+EFA:" (into memory too); a list
    // other than the one written (a cell the owner freed in the middle, which
    // no read shows, moved the later ones) is then written whole.
    void writeChanges(const std::string& password,
                      const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock,
                      bool check = false);
    void changePassword(const std::string& password, const std::string& newPassword);
    void sendApn(const std::string& password, const std::string& apn);
    void restartDevice();
    // Empties the list and asks the device for its list.
    void readNumbers(const std::string& password);
    void addNumber(const std::string& password, const std::string& number,
                   const std::string& apartment);
    void deleteNumber(const std::string& password, const std::string& number);
    void eraseNumbers(const std::string& password);
    // Whether writing the list would replace the device's list with one whose
    // read was cut short.
    bool numberListIncomplete() const;
    // A key the device reported for the list: added unless it is listed.
    void addReportedKey(const std::string& utf8);
    // Whether the number list is in front of the user (the window says so
    // whenever its page changes): keys the device reports are added to the
    // list only then. A session starts with no list shown.
    void setNumberListShown(bool shown) { numberListShown_ = shown; }
    // Keeps the complete read just ended (events::DeviceRead: its block and
    // the number list) as a backup in `folder` and reports how that went
    // (BackupKept, BackupFailed). Returns the backup's path; none when it
    // failed, or when another read started since.
    std::optional<std::string> keepBackup(const std::string& folder);

    // --- what a front end shows of the exchanges ----------------------------
    // Rows of the list the number read under way (or the last one) filled.
    int numbersRead() const;
    // Whether the device has yet to say that its list is over.
    bool numberReadPending() const { return protocol_.numberReadPending; }
    // Numbers the device confirmed in the number write under way or the last one.
    int numbersConfirmed() const { return writer_.state.confirmed; }
    // Whether the number write under way (or the last one) sends only the changed cells.
    bool changesOnly() const { return writer_.state.changesOnly; }
    bool holdsFirmwareImage() const { return firmware_.holdsImage(); }
    // Image blocks sent to the bootloader in the programming under way or the last one.
    std::size_t firmwareBlocksSent() const { return firmware_.blockIndex(); }
    bool fastExchange() const { return link_.fastExchange(); }
    // Whether "Интернет" is the link chosen.
    bool internetChosen() const { return link_.internetChosen(); }

    // --- the firmware --------------------------------------------------------
    void openFirmware(const std::string& path); // once the user has chosen a file
    void programFirmware();

    // --- the Internet link ---------------------------------------------------
    // The server a front end runs: how to send to its device, stop it, and
    // whether it listens. Without one the Internet link sends nothing.
    using InternetServer = ServerTransport::Server;
    void attachInternet(InternetServer server);
    // One read of the Internet device.
    void internetRead(const std::uint8_t* bytes, std::size_t count);
    // A chunk of the serial port already read, acted on as one the port
    // delivered (at most 1024 bytes are looked at).
    void serialChunk(const std::uint8_t* bytes, std::size_t count);
    // Runs `call` after `ms` milliseconds; without one, at once.
    void setDeferral(std::function<void(int ms, std::function<void()> call)> defer);

    // --- time ---------------------------------------------------------------
    void tick20ms();
    void tick1s();
    // Starts the reply watchdog for a wait that nothing else supervises: the
    // device has 20 s to answer what it was sent last.
    void expectReply();
    // Whether the 20 ms tick, and the 1 s tick, are needed now.
    bool tickNeeded() const { return link_.tickNeeded() || writer_.busy(); }
    bool portTickNeeded() const { return link_.portTimerEnabled(); }

    // --- the end ---------------------------------------------------------------
    // Empty when no write to the device is under way; else what it holds now.
    std::optional<std::string> writeUnderWay() const { return deviceWrites_.underWay(); }
    // Stops every write and returns what the device holds then.
    std::optional<std::string> stopWrites() { return deviceWrites_.stopAll(); }
    // Tells a device linked on the serial port that the configurator goes.
    void sayGoodbye();
    void closePort() { port_.close(); }

    // Runs an operation: a port error is reported, and the ticks adjusted.
    template <typename F> void run(F&& operation) {
        try {
            operation();
        } catch (const std::exception& e) {
            observer_.event(events::PortFailed{e.what()});
        }
        observer_.timersChanged();
    }

    // --- the parts, for front ends and tests that look closer -----------------
    TComm& port() { return port_; }
    LinkController& link() { return link_; }
    const LinkState& state() const { return link_.state; }
    // Why the port did not open, when it did not.
    const comm::OpenResult& lastOpen() const { return link_.lastOpen(); }
    // Where the link stands: the front end enables its controls from it.
    const LinkPhase& phase() const { return link_.phase(); }
    ProtocolState& protocol() { return protocol_; }
    DeviceCommands& commands() { return commands_; }
    NumberListWriter& numberWriter() { return writer_; }
    NumberTransfer& numberTransfer() { return transfer_; }
    BootloaderSession& firmware() { return firmware_; }
    DeviceWrites& deviceWrites() { return deviceWrites_; }

  private:
    // The port with the front end's dispatcher, or none.
    static TComm makePort(comm::TMainThreadDispatcher* dispatcher);

    // Empties the list and asks the device for its list.
    void startNumberRead(const std::string& password);
    // The configuration and the list check, for both writes.
    void sendConfig(const std::string& password,
                    const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock);
    // The device took the configuration of a write of the changed cells
    // (Reading), or "+EFA:" ended it (Checking): its list is read into heldGrid_.
    enum class Changes { None, ConfigSent, Reading, Checking };
    void readHeldList(Changes phase);
    // A step of the writer that a reply asks for; the device's "CONFW" of a
    // write of the changes starts the read of its list instead.
    void writerStep(device_replies::WriterStep step);
    // That read is over: whole (the changed cells go) or cut (nothing goes).
    void heldListRead();
    void heldListCut();
    // After the chunk that ended that read: the plan of the changed cells and its write.
    void writePlannedChanges();
    // Analyses every chunk the link has ready.
    void analyseChunks();
    // Acts on a serial chunk taken by the reply handling.
    void analyseSerial(std::span<const std::uint8_t> chunk);
    // Acts on the replies of the chunk taken, carrying out what each asks.
    void actOnReplies();
    // What the link's events and ticks leave: the port went away, a
    // watchdog ran out.
    void portWentAway();
    void watchdogsFired(const WatchdogsFired& fired);
    // A read cut short (no answer, the port lost) leaves a list that must not
    // silently replace the device's.
    void cutExchange();

    // LinkObserver: the parts report to the session, which passes it on.
    void event(const SessionEvent& event) override;
    void phaseChanged(const LinkPhase& phase) override;
    void timersChanged() override;
    void firmwarePageReset() override;

    SessionObserver& observer_;
    NumberGrid& grid_;
    TComm port_;
    LinkController link_{port_, *this};
    ServerTransport internet_;
    ProtocolState protocol_;
    ReplyHandler replies_{link_, protocol_, &grid_};
    DeviceCommands commands_{link_, protocol_};
    NumberListWriter writer_{link_, commands_, grid_};
    NumberTransfer transfer_{link_, commands_, protocol_, grid_};
    BootloaderSession firmware_{link_};
    DeviceWrites deviceWrites_;
    // The password of the last configuration read: its reply reads the
    // number list with it.
    std::string readPassword_;
    // The block of the last complete read, for its backup.
    std::optional<frames::ConfigBlockBytes> deviceRead_;
    bool numberListShown_ = false;
    // A write of the changed cells: its configuration is on the way, or
    // the device's list is being read for it (or read back after it) into
    // heldGrid_ (the list the user edits stays as it is). The list's
    // completeness, as it stood before that read, comes back when it ends.
    Changes changes_ = Changes::None;
    bool checkChanges_ = false; // read back after "+EFA:"
    bool listCompleteBefore_ = true;
    // After the chunk that ended a list read: the changed cells go, or
    // (the read back differed) the whole list.
    bool changesPlanned_ = false;
    bool fullPlanned_ = false;
    MemoryNumberGrid heldGrid_;
    NumberTransfer heldTransfer_{link_, commands_, protocol_, heldGrid_};
};
