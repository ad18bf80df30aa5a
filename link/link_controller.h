// The link controller: LinkState, the 20 ms tick (receive pacing and the two
// watchdogs), the 1 s port tick (open the port, greet the device), the send
// path, Connect / Disconnect / work offline and the diagnostic mode.
//
// Time is explicit: the session calls tick20ms() every 20 ms and
// tick1s() every second while the port timer is enabled; tests call
// them directly. To let an idle configurator sleep, the 20 ms tick is only
// needed while something counts (tickNeeded()); every change of that, and of
// the port timer, is announced through timersChanged.
#pragma once

#include "comm/port.h"
#include "link/link_state.h"
#include "link/session_events.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The controls whose state follows from the link: which of them can be used
// now. A front end enables its buttons from these, never the other way round.
enum class LinkButton { Connect, Disconnect, WorkOffline, Program, OpenFirmware };
struct LinkControls {
    bool connect = false;
    bool disconnect = false;
    bool workOffline = true; // "Работать автономно"
    bool program = false;    // "Обновить" on the firmware page
    bool openFirmware = false;
};

// What the link logic reports; every report does nothing unless a front end
// takes it.
class LinkObserver {
  public:
    virtual ~LinkObserver() = default;
    // What happened; session/event_text has its texts.
    virtual void event(const SessionEvent& /*event*/) {}
    virtual void controlsChanged(const LinkControls& /*controls*/) {}
    // The firmware page set back to no image and no progress.
    virtual void firmwarePageReset() {}
};

class LinkController {
  public:
    LinkController(comm::Port& port, LinkObserver& observer);

    LinkState state;

    // Calls into the rest of the program, set by the window.
    std::function<void()> analyse;    // Receive_analyse: reads the chunk with readChunk()
    std::function<void()> writerStep; // the number writer's tick, once per tick
    std::function<bool()> writerBusy; // the number writer waits for something
    std::function<int(const std::uint8_t*, std::size_t)> sendData; // Send_data
    std::function<void()> stopServer;                              // Start_server_fun(false)
    std::function<bool()> serverListening;                         // the Internet server listens
    std::function<bool()> internetDeviceLinked; // a device is connected to the server now
    std::function<void()> closeFirmwareFile;    // the firmware session's open image
    // The firmware exchange must end now (another page, the port lost): the
    // text says why.
    std::function<void(const std::string& why)> stopFirmware;
    // Runs a call after the given milliseconds without blocking the window.
    std::function<void(int ms, std::function<void()> call)> defer;
    std::function<void()> timersChanged; // tickNeeded() or portTimerEnabled() changed
    // The device stopped answering (reply watchdog) or went away (unplug):
    // whatever exchange was under way is cut short.
    std::function<void()> exchangeCut;

    // --- send path -------------------------------------------------------
    // Writes the bytes to the serial port; -1 when it is not open, 0 for nothing.
    int Send(const std::uint8_t* bytes, std::size_t count);
    // Sends code-page-1251 text; in diagnostic mode the text also goes to the log.
    int SendStr(std::string_view text);

    // --- events ----------------------------------------------------------
    void bytesArrived(std::uint32_t count); // Comm_portRxChar
    void tick20ms();                        // TimerTimer
    void tick1s();                          // Timer_sysTimer
    // The port's device went away (adapter unplugged): report it once, close
    // the port and search for it again every second.
    void portLost();

    // --- buttons ---------------------------------------------------------
    // The device number and the server port as typed; both only matter for a
    // modem call.
    void connect(const std::string& deviceNumber,
                 const std::string& serverPortText); // ConnectClick
    void disconnect();                               // DisconnectClick
    void goOffline();             // RzToolButton6Click, "Работать автономно"
    void setDiagnostics(bool on); // Debug_enClick
    // Sends the diagnostic command (UTF-8 text of Comand_box) followed by \r.
    void sendDiagnostic(const std::string& command); // Button1Click
    // A port name, or "Интернет", chosen or typed in Port_Box (UTF-8).
    void choosePort(const std::string& text); // Port_BoxChange
    // Whether "Интернет" is the link chosen (the server's controls are shown).
    bool internetChosen() const { return internetChosen_; }
    // What selecting a page does to the link: 0..3, or -1 for no page.
    void selectPage(int pageIndex); // TreeViewClick

    // The fast exchange: a reply that is complete (reply_end) is analysed as
    // soon as the receive event that brought its last byte is handled,
    // instead of after the quiet time; bytes after it stay for the next
    // analysis. Off, the receive pacing is the quiet time alone.
    void setFastExchange(bool on);
    bool fastExchange() const { return fastExchange_; }

    // --- helpers for the other parts -------------------------------------
    bool Open_port(const std::string& devicePath);
    std::string devicePath() const; // the device behind state.portName
    void startReplyWatchdog();      // replyTimer := 1
    void startBootWatchdog();       // bootTimer := 1
    // Reads the announced chunk (at most rxCount bytes, at most capacity).
    std::size_t readChunk(std::uint8_t* buffer, std::size_t capacity);
    void report(const SessionEvent& event) { observer_.event(event); }
    LinkObserver& observer() { return observer_; }
    const LinkControls& controls() const { return controls_; }
    bool controlEnabled(LinkButton button) const;
    void setControl(LinkButton button, bool enabled);
    comm::Port& port() { return port_; }

    // Timer_sys.
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
    void bootWatchdogFired();
    // Reports that the port did not open; its cause is news only once.
    void reportOpenFailure(bool searching);
    void discardInput(int count);
    // Fast exchange: moves what the port has queued into pending_, analyses
    // the complete replies at its front and sets the countdown for the rest.
    void takeInput();
    void pullInput(); // only the move, for the analysis itself
    std::size_t completeLength() const;
    void fastAnalysis();                  // the quiet time is over
    void analyseFront(std::size_t chunk); // the first `chunk` bytes of pending_

    comm::Port& port_;
    LinkObserver& observer_;
    LinkControls controls_;
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
    bool analysing_ = false; // fast exchange: an analysis of pending_ is under way
};
