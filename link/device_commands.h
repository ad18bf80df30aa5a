// The command operations that need the device: read and write the
// configuration, change the password and the access point, restart into the
// bootloader. Each follows the same pattern: without a link it only logs
// "Установите соединение"; otherwise it picks the form by directDevice,
// sends, starts the reply watchdog and logs what it waits for.
//
// Texts come in as the user typed them (UTF-8) and go out as code page 1251;
// a text that 1251 cannot hold, or a command too long for the send buffer,
// is refused with a log line and nothing is sent.
//
// On the Internet link a command goes to the first connected client through
// the link's InternetTransport. When no client is connected (remoteConnected
// may outlive the connection) the server logs that and returns a negative count;
// the operation then neither starts the watchdog nor marks a configuration
// read as pending. A send that took only part of the bytes is reported too.
#pragma once

#include "link/session_events.h"
#include "protocol/frames.h"
#include "protocol/protocol_state.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class LinkController;

class DeviceCommands {
  public:
    DeviceCommands(LinkController& link, ProtocolState& protocol);

    // "Считать с устройства": asks for the configuration block. The password
    // text must be a decimal number up to 65535.
    void readConfig(const std::string& passwordText);
    // "Записать в устройство": sends the block the window has just built from
    // its pages. The password text is checked as for readConfig.
    void writeConfig(const std::string& passwordText, const frames::ConfigBlockBytes& block);
    // The same, with the block built only once the link is known and the
    // waiting line is in the log: buildBlock makes the block from what the
    // user entered and returns it, or nullopt when a value did not convert
    // (it has reported that itself); then nothing is sent.
    void writeConfig(const std::string& passwordText,
                     const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock);
    // "Сменить" beside the new password.
    void changePassword(const std::string& passwordText, const std::string& newPassText);
    // "Сменить" beside the device's operator: sends deviceApn. The command exists only on
    // the serial link; on the Internet link the button is refused with a log
    // line.
    void sendApn(const std::string& passwordText, const std::string& deviceApn);
    // "Перезагрузить": "!RST" to the serial port, whatever the link state.
    void restartDevice();

    // --- the send path, for the other command operations ------------------
    // Converts a UTF-8 text to 1251; on failure logs why the command was not
    // sent and returns false.
    bool toDeviceText(const std::string& utf8, std::string& out);
    // Sends a formatted text command on the serial port (the link's sendText) or, when
    // internet is true, to the Internet client. A refused frame is logged and
    // nothing is sent. Returns whether the bytes went out.
    bool sendText(const frames::TextFrame& frame, bool internet);
    // Sends bytes (zero bytes included) to the Internet client; false when
    // no client took them (the server reports that) or not all of them.
    bool sendInternet(std::string_view bytes);

  private:
    void
    startConfigWrite(const std::string& passwordText,
                     const std::function<std::optional<frames::ConfigBlockBytes>()>& buildBlock);
    // The numeric password of the configuration read and write; a text that
    // is not one is refused with a log line and a message box.
    bool passwordOrRefuse(const std::string& passwordText, events::Operation op,
                          std::uint16_t& value);
    // Sends a binary frame in the form directDevice selects.
    bool sendBinary(const std::string& bytes);

    LinkController& link_;
    ProtocolState& protocol_;
};
