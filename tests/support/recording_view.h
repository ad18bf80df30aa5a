// An observer for driving a device session, or the link logic alone, without
// a window: it keeps what was reported (the events, and their log lines,
// status texts and message boxes as the window shows them, the phase) for
// the test to read.
#pragma once

#include "session/device_session.h"
#include "session/event_text.h"

#include <string>
#include <vector>

struct RecordingView : SessionObserver, EventTextSink {
    std::vector<SessionEvent> events;
    std::vector<std::string> log;
    std::string panels[3]; // 1: the port, 2: the link, as the status bar shows them
    LinkPhase phase;       // as last reported
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    int firmwareResets = 0;
    int progress = -1;
    std::vector<frames::ConfigBlockBytes> configs;
    std::string label7 = "untouched"; // the bad packet count as shown

    void event(const SessionEvent& e) override {
        events.push_back(e);
        if (const auto* read = std::get_if<events::ConfigRead>(&e)) {
            configs.push_back(read->block);
        } else if (const auto* bad = std::get_if<events::BadPackets>(&e)) {
            label7 = std::to_string(bad->count);
        } else if (std::holds_alternative<events::AwaitingBootloader>(e)) {
            progress = 0;
        } else if (const auto* p = std::get_if<events::FirmwareProgress>(&e)) {
            progress = p->percent;
        }
        showEventText(e, *this);
    }
    void logLine(const std::string& text) override { log.push_back(text); }
    void portStatus(const std::string& text) override { panels[1] = text; }
    void linkStatus(const std::string& text) override { panels[2] = text; }
    void phaseChanged(const LinkPhase& p) override { phase = p; }
    void message(const std::string& text) override { messages.push_back(text); }
    void error(const std::string& text) override { errors.push_back(text); }
    void firmwarePageReset() override { ++firmwareResets; }
};
