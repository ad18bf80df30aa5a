// The texts of the session's events, the one place they are written: the log
// lines, the two status panels (1: the port, 2: the link), an information box
// and an error box, exactly as the window shows them. A front end with a
// window shows what eventText gives; one without (the command-line tool)
// decides from the events and needs none of it.
#pragma once

#include "link/session_events.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct EventText {
    std::vector<std::string> log;
    std::optional<std::string> port; // panel 1
    std::optional<std::string> link; // panel 2
    std::optional<std::string> box;  // an information box
    // A port error: shown in an error box; the window keeps it in the log too.
    std::optional<std::string> alarm;
};

EventText eventText(const SessionEvent& event);

// Where the texts of an event go; each does nothing unless taken.
class EventTextSink {
  public:
    virtual ~EventTextSink() = default;
    virtual void logLine(const std::string& /*text*/) {}
    virtual void portStatus(const std::string& /*text*/) {}
    virtual void linkStatus(const std::string& /*text*/) {}
    virtual void message(const std::string& /*text*/) {}
    virtual void error(const std::string& /*text*/) {}
};

// Hands the event's texts to the sink: log lines, panels, then the boxes.
void showEventText(const SessionEvent& event, EventTextSink& sink);

// What the firmware page says of the image held (events::FirmwareImage):
// "Версия: N", or "Версия:" when none is held.
std::string firmwareVersionText(std::optional<std::uint8_t> version);
