#include "firmware/bootloader_session.h"

#include "link/link_controller.h"
#include "protocol/frames.h"

#include <algorithm>

namespace {

bool contains(const std::uint8_t* bytes, std::size_t count, std::uint8_t what) {
    return std::find(bytes, bytes + count, what) != bytes + count;
}

} // namespace

BootloaderSession::BootloaderSession(LinkController& link) : link_(link) {}

void BootloaderSession::analyse(const std::uint8_t* bytes, std::size_t count) {
    if (bytes == nullptr) {
        return;
    }
    if (contains(bytes, count, '>')) {
        link_.sendText(frames::frameBootPrompt());
    }
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (bytes[i] == 'R' && bytes[i + 1] == 'T') {
            const unsigned version = i + 2 < count ? bytes[i + 2] : 0;
            link_.report(events::BootloaderReady{static_cast<int>(version)});
            // While an image is being programmed it must stay the one chosen.
            if (phase_ == Phase::Idle) {
                link_.setPhase(&LinkPhase::bootloaderReady, true);
            }
            break;
        }
    }
    // An acknowledgement or rejection only means something while a frame is
    // outstanding; outside programming there is nothing to send.
    if (contains(bytes, count, '!') && phase_ == Phase::Programming) {
        sendBlock(false);
    }
    if (contains(bytes, count, '@') && phase_ == Phase::Programming) {
        ++errorCount_;
        if (errorCount_ >= kMaxRejections) {
            link_.report(events::FirmwareRejected{});
            phase_ = Phase::GaveUp;
        } else {
            sendBlock(true);
        }
    }
}

void BootloaderSession::openImage(const std::string& path) {
    if (phase_ != Phase::Idle) {
        link_.report(events::Refused{events::Refusal::ImageInUse});
        return;
    }
    firmware::ImageFile file = firmware::readImageFile(path);
    switch (file.status) {
    case firmware::ImageFile::Status::CannotOpen:
        link_.report(events::FirmwareFileUnreadable{});
        return;
    case firmware::ImageFile::Status::Invalid:
        // The image held before stays held, and "Обновить" as it was.
        link_.report(events::FirmwareFileInvalid{});
        return;
    case firmware::ImageFile::Status::Ok:
        break;
    }
    holdImage(std::move(file.image), path);
}

void BootloaderSession::holdImage(firmware::Image image, const std::string& path) {
    if (phase_ != Phase::Idle) {
        return;
    }
    image_ = std::move(image);
    link_.report(events::FirmwareImage{path, image_->version});
    link_.setPhase(&LinkPhase::imageReady, true);
}

bool BootloaderSession::internetInUse() const {
    // Only the server as it is now: the link flags of an Internet session
    // left long ago say nothing about the serial port in front of us.
    const InternetTransport* internet = link_.internet();
    return internet != nullptr && (internet->serverListening() || internet->clientLinked());
}

void BootloaderSession::startProgramming() {
    if (phase_ != Phase::Idle || !image_) {
        return;
    }
    if (internetInUse()) {
        // The bootloader speaks only on the device's own serial interface.
        link_.report(events::Refused{events::Refusal::FirmwareNotOnline});
        return;
    }
    link_.setPhase(&LinkPhase::imageReady, false);
    link_.setPhase(&LinkPhase::bootloaderReady, false);
    link_.report(events::Started{events::Operation::Programming});
    blockIndex_ = 0;
    errorCount_ = 0;
    phase_ = Phase::Programming;
    sendBlock(false);
}

void BootloaderSession::sendBlock(bool resend) {
    if (!image_) {
        return;
    }
    link_.startBootWatchdog();
    if (resend) {
        link_.sendBytes(blockFrame_.data(), blockFrame_.size());
        return;
    }
    if (std::size_t{blockIndex_} * firmware::kBlockSize >= image_->body.size()) {
        finish();
        return;
    }
    blockFrame_ = firmware::blockFrame(image_->body, static_cast<std::uint16_t>(blockIndex_));
    ++blockIndex_;
    link_.sendBytes(blockFrame_.data(), blockFrame_.size());
    link_.report(events::FirmwareProgress{blockIndex_, image_->blockCount(),
                                          firmware::progress(blockIndex_, image_->fileSize())});
}

std::optional<std::string> BootloaderSession::deviceHolds() const {
    if (phase_ == Phase::Idle || !image_) {
        return std::nullopt;
    }
    // The frame sent last waits for its "!".
    const std::uint32_t confirmed = blockIndex_ > 0 ? blockIndex_ - 1 : 0;
    std::string text = "в прибор записано " + std::to_string(confirmed) + " из " +
                       std::to_string(image_->blockCount()) + " блоков прошивки";
    if (blockIndex_ > 0) {
        text += ", еще 1 отправлен без подтверждения";
    }
    return text + "; прибор остается в загрузчике, прошивку нужно записать заново";
}

void BootloaderSession::finish() {
    blockFrame_[0] = firmware::kEndMarker[0];
    blockFrame_[1] = firmware::kEndMarker[1];
    link_.sendBytes(blockFrame_.data(), 2);
    phase_ = Phase::Idle;
    // The device runs its new firmware now: greet it again.
    link_.state.bootloaderMode = false;
    image_.reset();
    link_.state.linkUp = false;
    link_.setPortTimerEnabled(true);
    link_.setPhase(&LinkPhase::bootloaderReady, false);
    link_.state.bootTimer = 0;
    link_.report(events::FirmwareDone{});
    link_.report(events::FirmwareImage{});
    link_.notifyTimers();
}

void BootloaderSession::release() {
    image_.reset();
    phase_ = Phase::Idle;
}

void BootloaderSession::watchdogReset() {
    release();
}

void BootloaderSession::interrupt(events::FirmwareStop why, const std::string& port) {
    const bool wasProgramming = phase_ != Phase::Idle;
    if (!wasProgramming && !image_) {
        return;
    }
    release();
    link_.setPhase(&LinkPhase::imageReady, false);
    if (!wasProgramming) {
        // Nothing was sent yet: the page simply lets the image go.
        link_.report(events::FirmwareImage{});
        return;
    }
    link_.state.bootTimer = 0;
    link_.setPhase(&LinkPhase::bootloaderReady, false);
    link_.observer().firmwarePageReset();
    link_.report(events::FirmwareFailed{why, why == events::FirmwareStop::PortLost ? port : ""});
    link_.notifyTimers();
}
