// The serial link as the rest of the program sees it: open a device, write,
// read, be told when bytes arrive or the device goes away. Nothing here
// throws; an open that fails says why in an OpenResult.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace comm {

// Why a port did not open.
enum class OpenError {
    None,                // it is open
    NotFound,            // no such device (ENOENT)
    NoPermission,        // the user may not open it (EACCES, EPERM)
    Busy,                // another program holds it (EWOULDBLOCK)
    Gone,                // the device vanished or hung up while opening (ENXIO, ENODEV, EIO)
    NotSerial,           // the name is not a terminal (ENOTTY)
    LineSettingsRefused, // the device took none of the rate, framing or time-outs
    Failed,              // anything else: see code
};

struct OpenResult {
    OpenError error = OpenError::None;
    int code = 0;       // the system's error number of the step that failed
    std::string device; // the device path that was tried
    std::string holder; // Busy: the program seen holding it, "name (pid N)", when known

    bool ok() const { return error == OpenError::None; }

    // The reason for a system error number of the device open itself.
    static OpenResult fromErrno(int code, const std::string& device);
};

// A short, stable name of the reason for scripts: "missing", "no-permission",
// "busy", "gone", "not-serial", "line-settings-refused", "failed"; empty for
// None. A state the list of ports names too has the same name there
// (comm/port_state.h accessKey).
const char* openErrorName(OpenError error);

// What the user is told about a failed open, in Russian.
struct OpenFailureText {
    std::string status; // one short line: "Порт COM1 занят", "Порт COM1: нет доступа"
    std::string log; // the cause, and the fix where there is one
};

// `portName` is the name the user chose. No permission names the group that
// owns the device and the fix; a busy port names the program that holds it
// when procDir shows it.
OpenFailureText describeOpenFailure(const OpenResult& result, const std::string& portName,
                                    const std::string& procDir = "/proc");

// The program (other than this one) that holds the device: the one with a
// lock on it, else one that has it open (otherHolder), as "name (pid N)", or
// empty when none can be seen.
std::string portHolder(const std::string& devicePath, const std::string& procDir = "/proc");

// A process other than this one that has the device node open, as "name
// (pid N)", or empty when none can be seen (the node is missing or no
// character device, or only other users' processes could hold it). The other
// end of a pseudo-terminal does not count: a process that holds the master
// of the pair keeps the slave open only so that the pair outlives our
// closing it. One pass over procDir (the process last found holding a
// device first), one readlink a descriptor.
std::string otherHolder(const std::string& devicePath, const std::string& procDir = "/proc");
// The same for several devices in one pass, one entry a device.
std::vector<std::string> otherHolders(const std::vector<std::string>& devicePaths,
                                      const std::string& procDir = "/proc");

// A serial port. Handlers run on the thread the port was given to deliver
// events on (the window's thread), one at a time.
class Port {
  public:
    virtual ~Port() = default;

    // Opens the device (closing the port first when it is open) and sets up
    // the line. A port that fails to open stays closed.
    virtual OpenResult open(const std::string& devicePath) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Bytes written, or -1 when closed.
    virtual int write(const std::uint8_t* bytes, std::size_t count) = 0;
    // Bytes read (what is queued, at most capacity; waits up to a second
    // when nothing is), or -1 when closed.
    virtual int read(std::uint8_t* buffer, std::size_t capacity) = 0;
    // Bytes waiting in the input queue, or -1 when closed.
    virtual int queuedInput() = 0;
    // Throws away what is queued for reading.
    virtual void discardInput() = 0;

    // New bytes are waiting: `queued` is everything unread so far.
    virtual void setReceivedHandler(std::function<void(std::uint32_t queued)> handler) = 0;
    // The device went away; the port stays open until close().
    virtual void setLostHandler(std::function<void()> handler) = 0;
};

} // namespace comm
