#include "config/operators.h"

namespace operators {

namespace {

struct AccessPoint {
    const char* name;
    const char* user; // nullptr: the operator asks for the name only
    const char* password;
};

// The operators' public GPRS settings for a data SIM card, as they publish
// them for manual set-up of a phone or modem:
//   Beeline  "internet.beeline.ru", user "beeline", password "beeline"
//   MTS      "internet.mts.ru",     user "mts",     password "mts"
//   Tele2    "internet.tele2.ru",   no user or password
//   MegaFon  "internet",            user "gdata",   password "gdata"
// All of them are plain ASCII, so they go to the device unchanged in 1251.
constexpr std::array<AccessPoint, kDeviceOperators.size()> kAccessPoints{{
    {"internet.beeline.ru", "beeline", "beeline"},
    {"internet.mts.ru", "mts", "mts"},
    {"internet.tele2.ru", nullptr, nullptr},
    {"internet", "gdata", "gdata"},
}};

} // namespace

std::optional<std::string> accessPointFor(int index) {
    if (index < 0 || index >= static_cast<int>(kAccessPoints.size())) {
        return std::nullopt;
    }
    const AccessPoint& ap = kAccessPoints[static_cast<std::size_t>(index)];
    std::string text = ap.name;
    if (ap.user != nullptr) {
        const char* separator = "\",\"";
        text += separator;
        text += ap.user;
        text += separator;
        text += ap.password;
    }
    return text;
}

void OperatorSelection::Dev_provChange(int index) {
    deviceIndex_ = deviceListIndex(index);
    if (auto apn = accessPointFor(index)) {
        deviceApn_ = std::move(*apn);
    }
}

void OperatorSelection::Modem_provChange(int index) {
    modemIndex_ = modemListIndex(index);
}

void OperatorSelection::applyStored(int modemIndex, int deviceIndex) {
    Modem_provChange(modemIndex);
    Dev_provChange(deviceIndex);
}

int OperatorSelection::deviceListIndex(int stored) {
    return stored >= 0 && stored < static_cast<int>(kDeviceOperators.size()) ? stored : -1;
}

int OperatorSelection::modemListIndex(int stored) {
    return stored >= 0 && stored < static_cast<int>(kModemOperators.size()) ? stored : -1;
}

} // namespace operators
