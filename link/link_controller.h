// The link controller: LinkState, the 20 ms tick (receive pacing and the two
// watchdogs), the 1 s port tick (open the port, greet the device), the send
// path, Connect / Disconnect / work offline and the diagnostic mode.
//
// Time is explicit: the session calls receiveTick() and watchdogTick()
// every 20 ms and tick1s() every second while the port timer is enabled;
// tests call them directly. The link reports nothing to its clients: what
// happened comes back from these calls, and the one who drives the link
// acts on it. To let an idle configurator sleep, the 20 ms tick is only
// needed while something counts (tickNeeded()); every change of that, and of
// the port timer, is announced through LinkObserver::timersChanged.
#pragma once

#include "comm/port.h"
#include "link/link_state.h"
#include "link/session_events.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where the link stands, as far as what the user can do next goes. The front
// end derives from it which of its controls can be used; nothing here names
// a control.
struct LinkPhase {
    // The port timer no longer links by itself: the user links with connect()
    // (after the first link, offline, or on the Internet link).
    bool manualConnect = false;
    // A link to the device is up or being made: there is something to end.
    bool linkHeld = false;
    // A serial port is the link chosen: neither offline nor the Internet link.
    bool serialMode = true;
    // A firmware image is held and no programming is under way.
    bool imageReady = false;
    // The bootloader has identified itself and no programming is under way.
    bool bootloaderReady = false;
};

// What the link logic reports; every report does nothing unless a front end
// takes it.
class LinkObserver {
  public:
    virtual ~LinkObserver() = default;
    // What happened; session/event_text has its texts.
    virtual void event(const SessionEvent& /*event*/) {}
    virtual void phaseChanged(const LinkPhase& /*phase*/) {}
    // tickNeeded() or portTimerEnabled() may have changed.
    virtual void timersChanged() {}
    // The firmware page set back to no image and no progress.
    virtual void firmwarePageReset() {}
};

// What a 20 ms tick of the watchdogs found: each that ran out has done what
// the link does about it; what it means for an exchange under way is for the
// one who drives the link.
struct WatchdogsFired {
    // 20 s without a reply: the device is marked as not connected.
    bool reply = false;
    // The bootloader stayed silent for 2 s: the link waits for it again.
    bool bootloader = false;
};

// The server of the Internet link, as the link uses it.
class InternetTransport {
  public:
    virtual ~InternetTransport() = default;
    // Sends to the device connected to the server: the count taken, or a
    // negative count when no device is connected (the server logs that).
    virtual int sendToClient(const std::uint8_t* bytes, std::size_t count) = 0;
    // Stops the server, at once or after the given milliseconds.
    virtual void stopServer(int afterMs) = 0;
    virtual bool serverListening() const = 0;
    // A device is connected to the server now.
    virtual bool clientLinked() const = 0;
};

class LinkController {
  public:
    LinkController(comm::Port& port, LinkObserver& observer);

    LinkState state;

    // The Internet link's server, when the one who drives the link runs one
    // (none: nothing is sent to the Internet link and no server is stopped).
    void attachInternet(InternetTransport* internet) { internet_ = internet; }
    InternetTransport* internet() const { return internet_; }

    // --- send path -------------------------------------------------------
    // Writes the bytes to the serial port; -1 when it is not open, 0 for nothing.
    int sendBytes(const std::uint8_t* bytes, std::size_t count);
    // Sends code-page-1251 text; in diagnostic mode the text also goes to the log.
    int sendText(std::string_view text);

    // --- events ----------------------------------------------------------
    // The driver calls these and then analyses every chunk the link has
    // ready: while beginChunk() says one is ready, it reads it with
    // readChunk() and ends it with endChunk().
    void bytesArrived(std::uint32_t count);
    // The first half of the 20 ms tick: the receive pacing. True when the
    // line has been quiet long enough and a chunk is ready.
    bool receiveTick();
    // The second half: the reply and the bootloader watchdogs.
    WatchdogsFired watchdogTick();
    void tick1s();
    // The port's device went away (adapter unplugged): report it once, close
    // the port and search for it again every second. True when the port was
    // open until now: whatever exchange used it is cut short.
    bool portLost();

    // A chunk is ready and no analysis is under way: the analysis starts.
    bool beginChunk();
    // The analysis of the chunk is over; `completed` is false when it
    // ended with an error. A chunk is never analysed twice.
    void endChunk(bool completed);

    // --- buttons ---------------------------------------------------------
    // The device number and the server port as typed; both only matter for a
    // modem call.
    void connect(const std::string& deviceNumber, const std::string& serverPortText);
    void disconnect();
    void goOffline(); // "Работать автономно"
    void setDiagnostics(bool on);
    // Sends the diagnostic command (UTF-8, as typed) followed by \r.
    void sendDiagnostic(const std::string& command);
    // A port name, or "Интернет", chosen or typed by the user (UTF-8).
    void choosePort(const std::string& text);
    // Whether "Интернет" is the link chosen (the server's controls are shown).
    bool internetChosen() const { return internetChosen_; }
    // The line is handed to the bootloader (the firmware page is in front):
    // the port is opened now when it is closed, the port timer stops.
    void enterBootloader();
    // The user is at anything but the firmware page: on a serial link the
    // line is the device's again and the port timer looks for it unless it is
    // linked; the status bar says which link is in use.
    void leaveBootloader();

    // The fast exchange: a reply that is complete (reply_end) is analysed as
    // soon as the receive event that brought its last byte is handled,
    // instead of after the quiet time; bytes after it stay for the next
    // analysis. Off, the receive pacing is the quiet time alone.
    void setFastExchange(bool on);
    bool fastExchange() const { return fastExchange_; }

    // --- helpers for the other parts -------------------------------------
    bool openPort(const std::string& devicePath);
    std::string devicePath() const; // the device behind state.portName
    void startReplyWatchdog();      // replyTimer := 1
    void startBootWatchdog();       // bootTimer := 1
    // Reads the announced chunk (at most rxCount bytes, at most capacity).
    std::size_t readChunk(std::uint8_t* buffer, std::size_t capacity);
    void report(const SessionEvent& event) { observer_.event(event); }
    LinkObserver& observer() { return observer_; }
    const LinkPhase& phase() const { return phase_; }
    // Sets one flag of the phase; a change is reported.
    void setPhase(bool LinkPhase::*flag, bool on);
    comm::Port& port() { return port_; }

    // The port timer: tick1s() is needed while it is enabled.
    bool portTimerEnabled() const { return portTimerEnabled_; }
    // How the last try to open the port went.
    const comm::OpenResult& lastOpen() const { return lastOpen_; }
    void setPortTimerEnabled(bool enabled);
    // Whether the 20 ms tick has anything to count.
    bool tickNeeded() const;
    // True while the port is searched for again after it went away.
    bool searchingLostPort() const { return lostPortSearch_; }
    void clearLostPortSearch() { lostPortSearch_ = false; }
    // Announces timer needs after a change made from outside (a command that
    // started the watchdog, a receive event).
    void notifyTimers();

  private:
    bool serverUp() const { return internet_ != nullptr && internet_->serverListening(); }
    void awaitBootloaderAgain();
    // Ends the link with the device (Disconnect).
    void hangUp();
    // Reports that the port did not open; its cause is news only once.
    void reportOpenFailure(bool searching);
    void discardInput(int count);
    // Fast exchange: moves what the port has queued into pending_ and makes
    // the complete reply at its front the ready chunk, or sets the countdown
    // for what is left.
    void takeInput();
    void pullInput(); // only the move
    std::size_t completeLength() const;

    // The chunk ready for the analysis, and how it was cut.
    enum class Chunk {
        None,
        Quiet, // the quiet time: everything announced
        Front  // fast exchange: the first chunkSize_ bytes of pending_
    };

    comm::Port& port_;
    LinkObserver& observer_;
    InternetTransport* internet_ = nullptr;
    LinkPhase phase_;
    bool internetChosen_ = false;
    bool portTimerEnabled_ = true;
    bool lostPortSearch_ = false;
    std::string lastOpenFailure_; // the last cause logged
    comm::OpenResult lastOpen_;   // how the last open went
    bool lastTickNeeded_ = false;
    std::size_t chunkRead_ = 0; // bytes the analysis read of the current chunk
    bool fastExchange_ = false;
    // Fast exchange: bytes taken from the port, not yet analysed; the
    // analysis reads from here first.
    std::vector<std::uint8_t> pending_;
    Chunk chunk_ = Chunk::None;
    std::size_t chunkSize_ = 0; // Chunk::Front
    int queuedBefore_ = 0;      // Chunk::Quiet: bytes queued when the chunk was cut
    bool analysing_ = false;    // an analysis of the ready chunk is under way
};
