// The firmware update through the device's bootloader: the page's buttons,
// the bootloader's replies and the block-by-block exchange, without widgets.
//
// The bootloader announces itself with ">" until it gets "<", then with "RT"
// and its version byte. An image that passed the check is held in memory;
// "Обновить" sends its first block, and every "!" (the last frame was taken)
// sends the next one, every "@" (refused) the same frame again. After the last
// block the end marker goes out and the link returns to the device's
// firmware. One frame is outstanding at a time, so the pace is set by the
// link controller's receive pacing; its bootloader watchdog (bootTimer,
// restarted by every frame) resets the exchange when the bootloader stays
// silent for 2 s.
//
// Everything goes to the serial port through the link controller's byte
// send; nothing of the exchange is ever sent to the Internet link.
#pragma once

#include "firmware/firmware_image.h"
#include "link/session_events.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class LinkController;

class BootloaderSession {
  public:
    // After this many rejections in one run the exchange gives up.
    static constexpr int kMaxRejections = 100;

    // What the exchange shows (the image held, the progress, the end of
    // programming, the page's controls) it reports through the link.
    explicit BootloaderSession(LinkController& link);

    // One analysed chunk of the serial port while the
    // firmware page is active. Four independent scans, each acting on its
    // first match: ">" is answered "<"; "RT" and the byte after it (0 past
    // the end of the chunk) identify the bootloader; "!" sends the next
    // block; "@" counts a rejection and sends the same frame again.
    void analyse(const std::uint8_t* bytes, std::size_t count);

    // "Открыть" once the user has chosen `path` (in the file system's
    // encoding; shown as it is): a valid image replaces the held one and
    // enables "Обновить"; a refused file changes nothing.
    void openImage(const std::string& path);
    // Holds an image that passed the check, in place of the one held before.
    void holdImage(firmware::Image image, const std::string& path);

    // "Обновить": sends the first block of the held image.
    void startProgramming();

    // The next block (or the end marker after the last one),
    // or, with `resend`, the last frame again.
    void sendBlock(bool resend);

    // The bootloader watchdog fired: the link has reset the page; the image
    // is let go.
    void watchdogReset();

    // The exchange cannot go on (another page was chosen, the port went away,
    // the window closes): nothing more is sent, the image is let go and,
    // when programming was under way, the user is told why.
    // `port` names the port for events::FirmwareStop::PortLost.
    void interrupt(events::FirmwareStop why, const std::string& port = {});

    bool programming() const { return phase_ != Phase::Idle; }
    // Empty unless programming; else what the device holds now, for the
    // question and the log line of a program that closes mid-way.
    std::optional<std::string> deviceHolds() const;
    bool holdsImage() const { return image_.has_value(); }
    std::uint32_t blockIndex() const { return blockIndex_; }
    int errorCount() const { return errorCount_; }

  private:
    enum class Phase {
        Idle,
        Programming,
        GaveUp // too many rejections: nothing more is sent, the watchdog ends it
    };

    void finish();
    void release();
    bool internetInUse() const;

    LinkController& link_;
    std::optional<firmware::Image> image_;
    std::uint32_t blockIndex_ = 0;      // blocks sent, and the number of the next
    int errorCount_ = 0;                // rejections since programming started
    firmware::BlockFrame blockFrame_{}; // the frame sent last, for a resend
    Phase phase_ = Phase::Idle;
};
