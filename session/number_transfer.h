// The number commands that are not the bulk writer: reading the device's list
// into the grid, and the single-number commands (add, delete, erase all) of
// the hidden buttons. Each follows the common pattern: without a link only
// "Установите соединение" in the log; otherwise the form that directDevice
// selects is sent, the waiting line goes to the log and the reply watchdog
// starts. Texts come in as UTF-8 and go out as code page 1251.
//
// The single-number commands go to the link the device is on: the serial port
// when it is attached directly, the Internet client otherwise (the serial
// port is closed then, so it could not carry them).
#pragma once

#include "files/number_grid.h"
#include "protocol/protocol_state.h"

#include <optional>
#include <string>

class LinkController;
class DeviceCommands;

class NumberTransfer {
  public:
    // All four must outlive the transfer.
    NumberTransfer(LinkController& link, DeviceCommands& commands, ProtocolState& protocol,
                   NumberGrid& grid);

    // Empties the number and apartment columns, starts the read position at
    // row 1 with no bad packets, then asks the device for its list ("READ"
    // with the password on the serial link, "READ" alone on the Internet
    // link). The columns are emptied even without a link.
    void readNumbers(const std::string& password);
    // The read was cut short (no answer, unplug): the grid is marked as not
    // the device's whole list, and the log says how many rows it holds. Gives
    // that count, or nothing when no read was under way.
    std::optional<int> readCut();
    // Whether writing the grid would replace the device's list with one whose
    // read was cut short; the caller asks the user first. (A read still under
    // way is not cut: the device goes on sending its list.)
    bool listIncomplete() const {
        return !protocol_.numberListComplete && !protocol_.numberReadPending;
    }
    // "ADD" of one number with its apartment.
    void addNumber(const std::string& password, const std::string& number,
                   const std::string& apartment);
    // "DEL" of one number.
    void deleteNumber(const std::string& password, const std::string& number);
    // "ERASE": the device forgets its whole list.
    void eraseNumbers(const std::string& password);

  private:
    // Whether a device is linked; logs "Установите соединение" when not.
    bool linked();

    LinkController& link_;
    DeviceCommands& commands_;
    ProtocolState& protocol_;
    NumberGrid& grid_;
};
