// A view for driving the link logic without a window: it keeps what the logic
// showed (log lines, status panels, buttons, message boxes) for the test to read.
#pragma once

#include "link/link_controller.h"

#include <map>
#include <string>
#include <vector>

struct RecordingView : LinkView {
    std::vector<std::string> log;
    std::string panels[3];
    std::map<LinkButton, bool> buttons{{LinkButton::Connect, false},
                                       {LinkButton::Disconnect, false},
                                       {LinkButton::WorkOffline, true},
                                       {LinkButton::Program, false},
                                       {LinkButton::OpenFirmware, false}};
    std::vector<std::string> messages;
    bool diagnosticVisible = false;
    int firmwareResets = 0;
    std::string numberDevice = "00000000000";
    std::string servPort = "2020";
    bool internetControlsVisible = false;
    int firmwareProgress = -1;

    void logLine(const std::string& text) override { log.push_back(text); }
    void setStatusPanel(int panel, const std::string& text) override { panels[panel] = text; }
    void setButtonEnabled(LinkButton b, bool e) override { buttons[b] = e; }
    bool isButtonEnabled(LinkButton b) const override { return buttons.at(b); }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void setDiagnosticControlsVisible(bool v) override { diagnosticVisible = v; }
    void resetFirmwarePage() override { ++firmwareResets; }
    std::string numberDeviceText() const override { return numberDevice; }
    std::string servPortText() const override { return servPort; }
    void setInternetControlsVisible(bool v) override { internetControlsVisible = v; }
    void setFirmwareProgress(int position) override { firmwareProgress = position; }
};
