// The cellular operators of the page "Настройки": the device's operator,
// whose access point the device's GSM module must use to reach the Internet
// link server, and the operator of the modem on the PC, which is only
// remembered between runs.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace operators {

// Items of `Dev_prov` and `Modem_prov`, in list order.
inline constexpr std::array<std::string_view, 4> kDeviceOperators{"Билайн", "МТС", "Теле2",
                                                                  "Мегафон"};
inline constexpr std::array<std::string_view, 3> kModemOperators{"Билайн", "МТС", "Теле2"};
// Both lists start at "Теле2", and so do the settings without a stored choice.
inline constexpr int kDefaultIndex = 2;

// The access point text the device needs for the operator at `index` of
// `Dev_prov`, or nullopt outside 0..3. The "APN" command puts the text in
// double quotes, so a name with a user and a password is joined by ","
// (quote, comma, quote) and the device receives three quoted fields.
std::optional<std::string> accessPointFor(int index);

// The two selections and the access point that follows the device's one.
class OperatorSelection {
  public:
    // A new item of `Dev_prov`; no selection (-1) or an unknown index keeps
    // the access point as it was.
    void Dev_provChange(int index);
    // A new item of `Modem_prov`; it changes no command, only the stored index.
    void Modem_provChange(int index);

    // Start-up: the indexes read from the settings file, applied as if chosen.
    // An index outside a list selects nothing there.
    void applyStored(int modemIndex, int deviceIndex);

    // The indexes to save: -1 when nothing is selected.
    int deviceIndex() const { return deviceIndex_; }
    int modemIndex() const { return modemIndex_; }
    // Empty until an operator has been chosen.
    const std::string& deviceApn() const { return deviceApn_; }

    // The index a list shows for a stored value: the value itself when it
    // names an item, else -1.
    static int deviceListIndex(int stored);
    static int modemListIndex(int stored);

  private:
    int deviceIndex_ = -1;
    int modemIndex_ = -1;
    std::string deviceApn_;
};

} // namespace operators
