// The serial port component: opens a tty, configures it (rate, framing,
// special characters), reads and writes, reports queue counts and line
// states, drives the modem lines, and runs a thread that waits for port
// events and hands each one to the window's thread.
//
// Linux mapping of the component's Windows roots:
//   - the "device handle" is a file descriptor opened O_RDWR | O_NOCTTY |
//     O_NONBLOCK | O_CLOEXEC, held exclusively with flock() and TIOCEXCL; a
//     terminal that another process already has open is given up at once
//     (root passes TIOCEXCL, and not every program takes flock);
//   - the device control block is the tty's termios (raw mode, VMIN = VTIME
//     = 0); rates without a Bnnn constant go through termios2 / BOTHER;
//   - the queue status is TIOCINQ / TIOCOUTQ; Linux has no line error flags,
//     so the error word is always 0;
//   - the event wait is epoll on the port and an eventfd. EV_RXCHAR is raised
//     whenever new bytes enter the input queue (edge-triggered, so bytes that
//     sit unread are not announced again and again), EV_TXEMPTY when the
//     output queue has drained after a Write. The tty gives no pollable
//     signal for the modem lines, breaks, line errors or the event
//     character, so EV_CTS, EV_DSR, EV_RLSD, EV_RING, EV_BREAK, EV_ERR and
//     EV_RXFLAG are never raised here;
//   - a hang-up (USB adapter unplugged, pseudo-terminal master closed) is
//     reported once through OnLineLost.
//
// Errors are raised as ECommError with an English text ending in
// "(Error: <code>)", the code being errno or -1.
#pragma once

#include "comm/dispatcher.h"
#include "comm/port.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>

// The enumerations have a fixed underlying type so that any integer (a rate
// index read from a settings file, say) is a well-defined value that the
// setters can refuse.
enum TBaudRate : int {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TParity : int { paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits : int { sb10, sb15, sb20 };
enum TDataBits : int { da4, da5, da6, da7, da8 };
enum TFlowControl : int { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : int { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType : int {
    evBreak,
    evCts,
    evDsr,
    evError,
    evRing,
    evRlsd,
    evRxChar,
    evRxFlag,
    evTxEmpty
};

// A set of the members of a small enumeration (at most 16 members), held as
// a bit word: bit n stands for the member with ordinal n.
//   TCommEventTypes events{evRxChar, evTxEmpty};
//   events.Contains(evRxChar); events.Include(evCts); events.Bits();
template <typename E, int Count> class TEnumSet {
    static_assert(Count > 0 && Count <= 16);

  public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members) {
        for (E m : members) {
            Include(m);
        }
    }
    static constexpr TEnumSet All() { return FromBits(static_cast<uint16_t>((1u << Count) - 1)); }
    static constexpr TEnumSet FromBits(uint16_t bits) {
        TEnumSet s;
        s.bits_ = static_cast<uint16_t>(bits & ((1u << Count) - 1));
        return s;
    }
    constexpr bool Contains(E m) const { return Valid(m) && (bits_ >> static_cast<int>(m)) & 1u; }
    constexpr void Include(E m) {
        if (Valid(m)) {
            bits_ = static_cast<uint16_t>(bits_ | (1u << static_cast<int>(m)));
        }
    }
    constexpr void Exclude(E m) {
        if (Valid(m)) {
            bits_ = static_cast<uint16_t>(bits_ & ~(1u << static_cast<int>(m)));
        }
    }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint16_t Bits() const { return bits_; }
    friend constexpr bool operator==(TEnumSet a, TEnumSet b) { return a.bits_ == b.bits_; }

  private:
    static constexpr bool Valid(E m) {
        return static_cast<int>(m) >= 0 && static_cast<int>(m) < Count;
    }
    uint16_t bits_ = 0;
};

using TCommEventTypes = TEnumSet<TCommEventType, 9>;
using TCommOptions = TEnumSet<TCommOption, 5>;

// The platform event bits of the port's event mask.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;

// The modem line bits of GetModemState's platform status.
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

// Codes of EscapeComm.
inline constexpr int32_t SETXOFF = 1;
inline constexpr int32_t SETXON = 2;
inline constexpr int32_t SETRTS = 3;
inline constexpr int32_t CLRRTS = 4;
inline constexpr int32_t SETDTR = 5;
inline constexpr int32_t CLRDTR = 6;
inline constexpr int32_t SETBREAK = 8;
inline constexpr int32_t CLRBREAK = 9;

// The rate in bits per second of a TBaudRate member; 0 for a value outside
// the fifteen members.
uint32_t BaudRateValue(TBaudRate rate);

// An error of the serial port component. what() is the text followed by
// " (Error: <code>)", e.g. ECommError("Port not open", -1).what() is
// "Port not open (Error: -1)".
class ECommError : public std::runtime_error {
  public:
    ECommError(std::string text, int code);
    int code() const { return code_; }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
    int code_;
};

// Queue counts and hold flags of the port. On Linux the counts come from
// TIOCINQ / TIOCOUTQ; fXoffHold is set while output is suspended by
// EscapeComm(SETXOFF); the other hold flags have no Linux source and stay
// false.
struct TComStat {
    bool fCtsHold = false;
    bool fDsrHold = false;
    bool fRlsdHold = false;
    bool fXoffHold = false;
    bool fXoffSent = false;
    bool fEof = false;
    bool fTxim = false;
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};

// The device control block as the component last wrote it: the values it
// puts on the line. BaudRate, ByteSize, Parity, StopBits, the XON/XOFF
// characters and fParity (input parity check) reach the tty; the others are
// kept because the tty has nothing to hold them.
struct TDcb {
    uint32_t BaudRate = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    bool fParity = false;
    bool fDsrSensitivity = false;
    bool fTXContinueOnXoff = false;
    bool fErrorChar = false;
    bool fNull = false;
};

// The time-outs set at Open. Reads return at once with what is queued and
// otherwise wait up to ReadTotalTimeoutConstant ms; a write gives up after
// WriteTotalTimeoutMultiplier ms per byte when that is not 0 (slow rates
// only), and otherwise waits until the driver has taken every byte.
struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

class TThreadComm;

// The five special characters of the device control block. Index 1 XOnChar,
// 2 XOffChar, 3 ErrorChar, 4 EofChar, 5 EvtChar.
class TCommEventChars {
  public:
    explicit TCommEventChars(TThreadComm* owner);

    char XOnChar() const { return xOnChar_; }
    char XOffChar() const { return xOffChar_; }
    char ErrorChar() const { return errorChar_; }
    char EofChar() const { return eofChar_; }
    char EvtChar() const { return evtChar_; }

    // Stores the character chosen by the index (any other index stores
    // nothing), then has the owner rewrite its control block; that raises
    // the owner's DataControlBlock error when the open port refuses it.
    void SetEventChar(int index, char value);
    // Copies the five characters without touching the control block.
    void Assign(const TCommEventChars& source);

  private:
    TThreadComm* owner_;
    char xOnChar_ = 17;
    char xOffChar_ = 19;
    char errorChar_ = 0;
    char eofChar_ = 0;
    char evtChar_ = 0;
};

// The thread that waits for port events (comm/comm_event_thread.h); a port
// has one while it is open.
class TCommEventThread;

class TThreadComm {
  public:
    // A port without a dispatcher cannot open (Open raises): it is for
    // callers that never open it.
    TThreadComm();
    // Events are delivered through the dispatcher, which must outlive every
    // Open of this port.
    explicit TThreadComm(comm::TMainThreadDispatcher& dispatcher);
    virtual ~TThreadComm();
    TThreadComm(const TThreadComm&) = delete;
    TThreadComm& operator=(const TThreadComm&) = delete;

    // Event handlers; Sender is the component. They run on the window's
    // thread, one event at a time.
    std::function<void(TThreadComm* sender)> OnBreak;
    std::function<void(TThreadComm* sender)> OnCts;
    std::function<void(TThreadComm* sender)> OnDsr;
    std::function<void(TThreadComm* sender, int32_t errors)> OnError;
    std::function<void(TThreadComm* sender)> OnRing;
    std::function<void(TThreadComm* sender)> OnRlsd;
    std::function<void(TThreadComm* sender, uint32_t count)> OnRxChar;
    std::function<void(TThreadComm* sender)> OnRxFlag;
    std::function<void(TThreadComm* sender)> OnTxEmpty;
    std::function<void(TThreadComm* sender, uint32_t status, TComStat stat)> OnComStatEvent;
    // The device went away (USB adapter unplugged, pseudo-terminal master
    // closed). Delivered once, on the window's thread, after which the event
    // thread stops waiting on the port. The port stays open until Close.
    std::function<void(TThreadComm* sender)> OnLineLost;

    void Open();
    void Close();
    bool Enabled() const;
    int32_t Write(const void* buf, uint32_t count);
    int32_t Read(void* buf, uint32_t count);
    void PurgeIn();
    void PurgeOut();
    int32_t InQueCount();
    int32_t OutQueCount();
    void CheckOpen();

    void EscapeComm(int32_t code);
    void SetDTRState(bool state);
    void SetRTSState(bool state);
    void SetBREAKState(bool state);
    void SetXONState(bool state);
    bool GetModemState(int32_t which);
    bool GetComState(int32_t which);

    void UpdateDataControlBlock();
    void UpdateDataControlBlockLock();
    void UpdateCommTimeouts();

    virtual void CreateHandle();
    void DestroyHandle();
    void HandleCommEvent(void* sender, uint32_t mask);

    // Properties.
    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& name);
    int32_t ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int32_t value) { readTimeout_ = value; }
    int32_t WriteTimeout() const { return writeTimeout_; }
    void SetWriteTimeout(int32_t value) { writeTimeout_ = value; }
    uint16_t ReadBufSize() const { return readBufSize_; }
    void SetReadBufSize(uint16_t size);
    uint16_t WriteBufSize() const { return writeBufSize_; }
    void SetWriteBufSize(uint16_t size);
    uint32_t SuspendTime() const { return suspendTime_; }
    void SetSuspendTime(uint32_t time);
    TCommEventTypes MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TCommEventTypes events);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudRate rate);
    TParity Parity() const { return parity_; }
    void SetParity(TParity parity);
    TStopBits StopBits() const { return stopBits_; }
    void SetStopBits(TStopBits bits);
    TDataBits DataBits() const { return dataBits_; }
    void SetDataBits(TDataBits bits);
    TCommEventChars& EventChars() { return *eventChars_; }
    const TCommEventChars& EventChars() const { return *eventChars_; }
    TCommOptions Options() const { return options_; }
    void SetOptions(TCommOptions options);
    TFlowControl FlowControl() const { return flowControl_; }
    void SetFlowControl(TFlowControl flow);

    // State the component keeps for the port. The handle is the file
    // descriptor on Linux, the HANDLE on Windows; -1 when closed.
    std::intptr_t PortHandle() const { return portHandle_; }
    const TDcb& PortDcb() const { return portDcb_; }
    const TCommTimeouts& CommTimeouts() const { return commTimeouts_; }
    // The port's event mask: all nine events after CreateHandle, the
    // monitored ones once the event thread is watching.
    uint32_t CommMask() const { return commMask_; }
    // The running event thread, or none.
    TCommEventThread* EventThread() const;

  protected:
    // Why the last Open left the port closed: the system's error number
    // (EACCES no permission, EWOULDBLOCK another program holds it, ENOENT
    // no such device, ENOTTY not a terminal); 0 after a successful Open.
    int LastOpenError() const { return lastOpenError_; }
    // The program seen holding the device when the last Open found one
    // ("name (pid N)"), else empty.
    const std::string& LastOpenHolder() const { return lastOpenHolder_; }

  private:
    // The lock, the event thread and the flags it reads (tcomm.cpp).
    struct Shared;

    bool ClearCommError(int32_t* errors, TComStat* stat);
    int SetupComm();
    void Raise(const char* text, int code);
    // The platform's part (tcomm_posix.cpp, tcomm_win.cpp): each returns 0
    // or the system's error code.
    int ApplyCommTimeouts(const TCommTimeouts& timeouts);
    // Write and Read with the lock held on an open port (Read: count > 0).
    int32_t WriteLocked(const void* buf, uint32_t count);
    int32_t ReadLocked(void* buf, uint32_t count);
    int ApplyDcb(const TDcb& dcb);
    int EscapeFunction(int32_t code);
    // The MS_* bits of the modem lines; false when the port cannot tell.
    bool ModemStatus(uint32_t* lines);
    // Both queues discarded, pending transfers aborted.
    void PurgeAll();
    void ReleasePortEvents();

    comm::TMainThreadDispatcher* dispatcher_ = nullptr;
    std::string deviceName_ = "Com2";
    int32_t readTimeout_ = 1000;
    int32_t writeTimeout_ = 1000;
    uint16_t readBufSize_ = 4096;
    uint16_t writeBufSize_ = 2048;
    uint32_t suspendTime_ = 5;
    TCommEventTypes monitorEvents_ = TCommEventTypes::All();
    TBaudRate baudRate_ = br9600;
    TParity parity_ = paNone;
    TStopBits stopBits_ = sb10;
    TDataBits dataBits_ = da8;
    std::unique_ptr<TCommEventChars> eventChars_;
    TCommOptions options_;
    TFlowControl flowControl_ = fcDefault;

    std::intptr_t portHandle_ = -1;
    TDcb portDcb_;
    TCommTimeouts commTimeouts_;
    uint32_t commMask_ = 0;
    bool exclusiveSet_ = false;
    int lastOpenError_ = 0;
    std::string lastOpenHolder_;
    bool breakOn_ = false;
    std::unique_ptr<Shared> shared_;
};

// The component placed in windows. It is also the program's serial
// comm::Port: the port's operations never raise, and an open that fails
// keeps the reason.
class TComm : public TThreadComm, public comm::Port {
  public:
    TComm() = default;
    explicit TComm(comm::TMainThreadDispatcher& dispatcher) : TThreadComm(dispatcher) {}
    ~TComm() override = default;

    // A port whose line cannot be set up is closed again: the component's
    // Open leaves it open without an event thread.
    comm::OpenResult open(const std::string& devicePath) override;
    void close() override;
    bool isOpen() const override;
    int write(const std::uint8_t* bytes, std::size_t count) override;
    int read(std::uint8_t* buffer, std::size_t capacity) override;
    int queuedInput() override;
    void discardInput() override;
    void setReceivedHandler(std::function<void(std::uint32_t queued)> handler) override;
    void setLostHandler(std::function<void()> handler) override;
};
