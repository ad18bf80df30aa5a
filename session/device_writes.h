// The one question asked before the program ends: is a write to the device
// under way, and what does the device hold now? Each writer (the
// configuration, the number list, and any later one such as the firmware
// exchange) joins with a source that answers it and a way to stop.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class DeviceWrites {
  public:
    struct Source {
        // Empty while this writer is idle; else what the device holds now.
        std::function<std::optional<std::string>()> deviceHolds;
        // Sends nothing more; late replies start nothing.
        std::function<void()> stop;
    };

    void add(Source source) { sources_.push_back(std::move(source)); }

    // Empty when no write is under way; else what the device holds now,
    // for the log and the user (several writers joined by "; ").
    std::optional<std::string> underWay() const {
        std::optional<std::string> text;
        for (const Source& s : sources_) {
            if (const auto holds = s.deviceHolds ? s.deviceHolds() : std::nullopt) {
                text = text ? *text + "; " + *holds : *holds;
            }
        }
        return text;
    }

    // Stops every writer and returns what the device holds then (as
    // underWay() said just before).
    std::optional<std::string> stopAll() {
        const std::optional<std::string> holds = underWay();
        for (const Source& s : sources_) {
            if (s.stop) {
                s.stop();
            }
        }
        return holds;
    }

  private:
    std::vector<Source> sources_;
};
