#include "protocol/reply_analysis.h"

#include "link/link_controller.h"
#include "protocol/cp1251.h"

#include <cstring>
#include <string>

ReplyAnalyser::ReplyAnalyser(LinkController& link) : link_(link) {}

void ReplyAnalyser::Receive_analyse() {
    rxBuffer_.fill(0);
    const std::size_t count = link_.readChunk(rxBuffer_.data(), kRxBufferSize);
    if (count > 0) {
        analyseChunk(rxBuffer_.data(), count);
    }
    rxBuffer_.fill(0);
}

void ReplyAnalyser::analyseChunk(const std::uint8_t* bytes, std::size_t count) {
    count = std::min<std::size_t>(count, kRxBufferSize);
    if (bytes != rxBuffer_.data()) {
        rxBuffer_.fill(0);
        std::memcpy(rxBuffer_.data(), bytes, count);
    }
    LinkState& st = link_.state;
    if (st.bootloaderMode && Bootloader_analyse) {
        Bootloader_analyse(rxBuffer_.data(), count);
    }
    // The token tests see the chunk up to its first zero byte.
    const char* chars = reinterpret_cast<const char*>(rxBuffer_.data());
    const std::string_view text(chars, ::strnlen(chars, count));

    if (const auto at = text.find("VELIRAN"); at != std::string_view::npos) {
        greeting(text, at);
    }

    if (st.debugMode) {
        link_.logLine(cp1251::toUtf8(text));
    }
}

void ReplyAnalyser::greeting(std::string_view, std::size_t at) {
    // "VELIRAN", one byte, the firmware version, "#".
    const std::uint8_t version = rxBuffer_[at + 9] == '#' ? rxBuffer_[at + 8] : 0;
    LinkState& st = link_.state;
    st.linkUp = true;
    st.directDevice = true;
    st.remoteConnected = true;
    link_.setStatusPanel(2, "Coeдинение установлено: " + st.deviceName +
                                ", версия ПО: " + std::to_string(version));
    link_.logLine("Соединение установлено");
}
