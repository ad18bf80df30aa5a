#include "session/number_transfer.h"

#include "link/device_commands.h"
#include "link/link_controller.h"
#include "protocol/frames.h"
#include "session/number_list.h"

#include <algorithm>

NumberTransfer::NumberTransfer(LinkController& link, DeviceCommands& commands,
                               ProtocolState& protocol, NumberGrid& grid)
    : link_(link), commands_(commands), protocol_(protocol), grid_(grid) {}

bool NumberTransfer::linked() {
    if (!link_.state.remoteConnected) {
        link_.report(events::Refused{events::Refusal::NoLink});
        return false;
    }
    return true;
}

void NumberTransfer::readNumbers(const std::string& password) {
    number_list::clearNumbers(grid_);
    protocol_.numberReadPending = false;
    protocol_.numberListComplete = true; // the user's own (empty) list, until a read starts
    protocol_.nextNumberRow = 1;
    protocol_.badPacketCount = 0;
    if (!linked()) {
        return;
    }
    const bool direct = link_.state.directDevice;
    std::string password1251;
    if (direct && !commands_.toDeviceText(password, password1251)) {
        return;
    }
    if (!commands_.sendText(frames::frameRead(password1251, direct), !direct)) {
        return;
    }
    // Until the device says its list is over, the grid is not its whole list.
    protocol_.numberReadPending = true;
    protocol_.numberListComplete = false;
    link_.report(events::Started{events::Operation::NumberRead});
    link_.startReplyWatchdog();
}

std::optional<int> NumberTransfer::readCut() {
    if (!protocol_.numberReadPending) {
        return std::nullopt;
    }
    protocol_.numberReadPending = false;
    protocol_.numberListComplete = false;
    const int rows = std::clamp(protocol_.nextNumberRow - 1, 0, grid_.rowCount());
    link_.report(events::NumberReadCut{rows});
    return rows;
}

void NumberTransfer::addNumber(const std::string& password, const std::string& number,
                               const std::string& apartment) {
    if (!linked()) {
        return;
    }
    const bool direct = link_.state.directDevice;
    std::string password1251;
    std::string number1251;
    std::string apartment1251;
    if (!commands_.toDeviceText(password, password1251) ||
        !commands_.toDeviceText(number, number1251) ||
        !commands_.toDeviceText(apartment, apartment1251)) {
        return;
    }
    if (!commands_.sendText(frames::frameNumberAdd(password1251, number1251, apartment1251, direct),
                            !direct)) {
        return;
    }
    link_.startReplyWatchdog();
    link_.report(events::Started{events::Operation::NumberAdd});
}

void NumberTransfer::deleteNumber(const std::string& password, const std::string& number) {
    if (!linked()) {
        return;
    }
    const bool direct = link_.state.directDevice;
    std::string password1251;
    std::string number1251;
    if (!commands_.toDeviceText(password, password1251) ||
        !commands_.toDeviceText(number, number1251)) {
        return;
    }
    if (!commands_.sendText(frames::frameNumberDel(password1251, number1251, direct), !direct)) {
        return;
    }
    link_.startReplyWatchdog();
    link_.report(events::Started{events::Operation::NumberDelete});
}

void NumberTransfer::eraseNumbers(const std::string& password) {
    if (!linked()) {
        return;
    }
    const bool direct = link_.state.directDevice;
    std::string password1251;
    if (!commands_.toDeviceText(password, password1251)) {
        return;
    }
    if (!commands_.sendText(frames::frameErase(password1251, direct), !direct)) {
        return;
    }
    link_.startReplyWatchdog();
    link_.report(events::Started{events::Operation::NumberErase});
}
