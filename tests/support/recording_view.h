// An observer for driving a device session, or the link logic alone, without
// a window: it keeps what was reported (log lines, status texts, the controls,
// message boxes) for the test to read.
#pragma once

#include "session/device_session.h"

#include <map>
#include <string>
#include <vector>

struct RecordingView : SessionObserver {
    std::vector<std::string> log;
    std::string panels[3]; // 1: the port, 2: the link, as the status bar shows them
    LinkPhase phase;       // as last reported
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    int firmwareResets = 0;
    int progress = -1;
    std::vector<frames::ConfigBlockBytes> configs;
    std::string label7 = "untouched"; // the bad packet count as shown

    void logLine(const std::string& text) override { log.push_back(text); }
    void portStatus(const std::string& text) override { panels[1] = text; }
    void linkStatus(const std::string& text) override { panels[2] = text; }
    void phaseChanged(const LinkPhase& p) override { phase = p; }
    void message(const std::string& text) override { messages.push_back(text); }
    void error(const std::string& text) override { errors.push_back(text); }
    void firmwarePageReset() override { ++firmwareResets; }
    void firmwareProgress(int percent) override { progress = percent; }
    void configRead(const frames::ConfigBlockBytes& block) override { configs.push_back(block); }
    void badPacketCount(std::uint8_t count) override { label7 = std::to_string(count); }
};
