#include "link/device_commands.h"

#include "link/link_controller.h"
#include "protocol/cp1251.h"

DeviceCommands::DeviceCommands(LinkController& link, ProtocolState& protocol)
    : link_(link), protocol_(protocol) {}

void DeviceCommands::readConfig(const std::string& passwordText) {
    link_.state.quietTicks = 15;
    if (!link_.state.remoteConnected) {
        link_.report(events::Refused{events::Refusal::NoLink});
        return;
    }
    link_.report(events::Started{events::Operation::ConfigRead});
    std::uint16_t password = 0;
    if (!passwordOrRefuse(passwordText, events::Operation::ConfigRead, password)) {
        return;
    }
    protocol_.configReadPending = true;
    if (!sendBinary(frames::frameConfigRead(password))) {
        protocol_.configReadPending = false;
        return;
    }
    link_.startReplyWatchdog();
}

void DeviceCommands::writeConfig(const std::string& passwordText,
                                 const frames::ConfigBlockBytes& block) {
    startConfigWrite(passwordText,
                     [&block] { return std::optional<frames::ConfigBlockBytes>(block); });
}

void DeviceCommands::writeConfig(
    const std::string& passwordText,
    const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock) {
    startConfigWrite(passwordText, buildBlock);
}

void DeviceCommands::startConfigWrite(
    const std::string& passwordText,
    const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock) {
    link_.state.quietTicks = 5;
    if (!link_.state.remoteConnected) {
        link_.report(events::Refused{events::Refusal::NoLink});
        return;
    }
    link_.report(events::Started{events::Operation::ConfigWrite});
    // The password is the block's first field: checked before the rest is built.
    std::uint16_t password = 0;
    if (!passwordOrRefuse(passwordText, events::Operation::ConfigWrite, password)) {
        return;
    }
    const std::optional<frames::ConfigBlockBytes> block = buildBlock ? buildBlock() : std::nullopt;
    if (!block) {
        return;
    }
    if (!sendBinary(frames::frameConfigWrite(*block))) {
        return;
    }
    protocol_.configWritePending = true;
    link_.startReplyWatchdog();
}

void DeviceCommands::changePassword(const std::string& passwordText,
                                    const std::string& newPassText) {
    if (!link_.state.remoteConnected) {
        link_.report(events::Refused{events::Refusal::NoLink});
        return;
    }
    std::string password;
    std::string newPassword;
    if (!toDeviceText(passwordText, password) || !toDeviceText(newPassText, newPassword)) {
        return;
    }
    const bool direct = link_.state.directDevice;
    if (!sendText(frames::frameChangePassword(password, newPassword, direct), !direct)) {
        return;
    }
    link_.startReplyWatchdog();
    link_.report(events::Started{events::Operation::PasswordChange});
}

void DeviceCommands::sendApn(const std::string& passwordText, const std::string& deviceApn) {
    if (!link_.state.remoteConnected) {
        link_.report(events::Refused{events::Refusal::NoLink});
        return;
    }
    if (!link_.state.directDevice) {
        // The device takes its access point only on its serial interface.
        link_.report(events::Refused{events::Refusal::ApnSerialOnly});
        return;
    }
    std::string password;
    std::string apn;
    if (!toDeviceText(passwordText, password) || !toDeviceText(deviceApn, apn)) {
        return;
    }
    if (!sendText(frames::frameApn(password, apn), false)) {
        return;
    }
    link_.startReplyWatchdog();
    link_.report(events::Started{events::Operation::ApnChange});
}

void DeviceCommands::restartDevice() {
    const std::string reset = frames::frameReset();
    link_.sendBytes(reinterpret_cast<const std::uint8_t*>(reset.data()), reset.size());
}

bool DeviceCommands::toDeviceText(const std::string& utf8, std::string& out) {
    auto encoded = cp1251::fromUtf8(utf8);
    if (!encoded.ok()) {
        link_.report(events::CommandNotEncoded{encoded.error->message()});
        return false;
    }
    out = std::move(encoded.bytes);
    return true;
}

bool DeviceCommands::sendText(const frames::TextFrame& frame, bool internet) {
    if (!frame.ok()) {
        link_.report(events::CommandNotBuilt{frame.error});
        return false;
    }
    if (internet) {
        return sendInternet(frame.bytes);
    }
    link_.sendText(frame.bytes);
    return true;
}

bool DeviceCommands::sendInternet(std::string_view bytes) {
    InternetTransport* internet = link_.internet();
    if (internet == nullptr) {
        link_.report(events::Refused{events::Refusal::NoServer});
        return false;
    }
    const int sent =
        internet->sendToClient(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (sent < 0) {
        // No device connected to the server; the server has said so in the log.
        return false;
    }
    if (static_cast<std::size_t>(sent) < bytes.size()) {
        link_.report(events::CommandPartlySent{static_cast<std::size_t>(sent), bytes.size()});
        return false;
    }
    return true;
}

bool DeviceCommands::passwordOrRefuse(const std::string& passwordText, events::Operation op,
                                      std::uint16_t& value) {
    const auto parsed = frames::passwordValue(passwordText);
    if (!parsed) {
        link_.report(events::BadPassword{op, passwordText});
        return false;
    }
    value = *parsed;
    return true;
}

bool DeviceCommands::sendBinary(const std::string& bytes) {
    if (!link_.state.directDevice) {
        return sendInternet(bytes);
    }
    link_.sendBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}
