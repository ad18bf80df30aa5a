// The link controller: LinkState, the 20 ms tick (receive pacing and the two
// watchdogs), the 1 s port tick (open the port, greet the device), the send
// path, Connect / Disconnect / work offline and the diagnostic mode.
//
// Time is explicit: the window calls TimerTimer() every 20 ms and
// Timer_sysTimer() every second while the port timer is enabled; tests call
// them directly. To let an idle configurator sleep, the 20 ms tick is only
// needed while something counts (tickNeeded()); every change of that, and of
// the port timer, is announced through timersChanged.
#pragma once

#include "comm/port.h"
#include "link/link_state.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The buttons and controls whose state the link logic drives.
enum class LinkButton { Connect, Disconnect, WorkOffline, Program, OpenFirmware };

// What the link logic needs of the window.
class LinkView {
  public:
    virtual ~LinkView() = default;
    virtual void logLine(const std::string& text) = 0;                   // append a line to Log
    virtual void setStatusPanel(int panel, const std::string& text) = 0; // panel 1 or 2
    virtual void setButtonEnabled(LinkButton button, bool enabled) = 0;
    virtual bool isButtonEnabled(LinkButton button) const = 0;
    virtual void showMessage(const std::string& text) = 0;       // a message box
    virtual void setDiagnosticControlsVisible(bool visible) = 0; // Label12, Comand_box, Button1
    virtual void resetFirmwarePage() = 0; // FW_load 0, FW_ver "Версия:", Firmware_file emptied
    virtual std::string numberDeviceText() const = 0;          // Number_device
    virtual std::string servPortText() const = 0;              // Serv_port
    virtual void setInternetControlsVisible(bool visible) = 0; // Label29, Edit2, Start_server
    virtual void setFirmwareProgress(int position) = 0;        // FW_load
};

class LinkController {
  public:
    LinkController(comm::Port& port, LinkView& view);

    LinkState state;

    // Calls into the rest of the program, set by the window.
    std::function<void()> analyse;    // Receive_analyse: reads the chunk with readChunk()
    std::function<void()> writerStep; // WriteNumbers(3), once per tick
    std::function<bool()> writerBusy; // the number writer waits for something
    std::function<int(const std::uint8_t*, std::size_t)> sendData; // Send_data
    std::function<void()> stopServer;                              // Start_server_fun(false)
    std::function<bool()> serverListening;                         // the Internet server listens
    std::function<void()> closeFirmwareFile; // the firmware session's open image
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
    void Comm_portRxChar(std::uint32_t count);
    void TimerTimer();
    void Timer_sysTimer();
    // The port's device went away (adapter unplugged): report it once, close
    // the port and search for it again every second.
    void portLost();

    // --- buttons ---------------------------------------------------------
    void ConnectClick();
    void DisconnectClick();
    void RzToolButton6Click(); // "Работать автономно"
    void Debug_enClick(bool checked);
    // Sends the diagnostic command (UTF-8 text of Comand_box) followed by \r.
    void Button1Click(const std::string& command);
    // A port name, or "Интернет", chosen or typed in Port_Box (UTF-8).
    void Port_BoxChange(const std::string& text);
    // What selecting a page does to the link: 0..3, or -1 for no page.
    void TreeViewClick(int pageIndex);

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
    void logLine(const std::string& text) { view_.logLine(text); }
    void setStatusPanel(int panel, const std::string& text) { view_.setStatusPanel(panel, text); }
    LinkView& view() { return view_; }
    comm::Port& port() { return port_; }

    // Timer_sys.
    bool portTimerEnabled() const { return portTimerEnabled_; }
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
    // Logs why the port did not open (once for the same cause) and returns
    // the status text for panel 2.
    std::string reportOpenFailure();
    void discardInput(int count);
    // Fast exchange: moves what the port has queued into pending_, analyses
    // the complete replies at its front and sets the countdown for the rest.
    void takeInput();
    void pullInput(); // only the move, for the analysis itself
    std::size_t completeLength() const;
    void fastAnalysis();                  // the quiet time is over
    void analyseFront(std::size_t chunk); // the first `chunk` bytes of pending_

    comm::Port& port_;
    LinkView& view_;
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
