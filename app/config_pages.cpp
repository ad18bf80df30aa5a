#include "app/config_pages.h"

#include "config/decimal_text.h"
#include "config/touch_keys.h"
#include "protocol/cp1251.h"

#include <algorithm>

namespace {

// Names of the fields in the messages, as the pages label them.
constexpr const char* kPasswordName = "Пароль";
constexpr const char* kRelayModeName = "Режим работы реле";
constexpr const char* kDisarmName = "Время снятия с охраны";
constexpr const char* kArmName = "Время постановки на охрану";
constexpr const char* kRearmName = "Время перепостановки";
constexpr const char* kDeviceNumberName = "Номер устройства";
constexpr const char* kTimeoutName = "Таймаут реле";
constexpr const char* kOwnerNumberName = "Номер владельца";
constexpr const char* kCountryCodeName = "Код страны";

template <typename T>
std::optional<T> number(const std::string& text, const char* field, std::int64_t min,
                        std::int64_t max, std::vector<std::string>& errors) {
    std::string error;
    const auto value = decimal_text::inRange(text, field, min, max, error);
    if (!value) {
        errors.push_back(error);
        return std::nullopt;
    }
    return static_cast<T>(*value);
}

// A text field of the record: the text in 1251, at most N characters, the
// rest zero bytes.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> textField(const std::string& utf8, const char* field,
                                                     std::vector<std::string>& errors) {
    const cp1251::EncodeResult encoded = cp1251::fromUtf8(utf8);
    if (!encoded.ok()) {
        errors.push_back(std::string(field) + ": " + encoded.error->message());
        return std::nullopt;
    }
    if (encoded.bytes.size() > N) {
        errors.push_back(std::string(field) + ": не более " + std::to_string(N) +
                         " символов, введено " + std::to_string(encoded.bytes.size()));
        return std::nullopt;
    }
    if (encoded.bytes.find('\0') != std::string::npos) {
        // A zero byte would end the text early in the device.
        errors.push_back(std::string(field) + ": текст содержит нулевой символ");
        return std::nullopt;
    }
    std::array<std::uint8_t, N> bytes{};
    std::copy(encoded.bytes.begin(), encoded.bytes.end(), bytes.begin());
    return bytes;
}

// The text of a record field up to its first zero byte, as UTF-8.
template <std::size_t N> std::string fieldText(const std::array<std::uint8_t, N>& bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return cp1251::toUtf8(std::string(bytes.begin(), end));
}

void showDuration(std::uint32_t ms, const char* field, std::string& text, int& unit,
                  std::vector<std::string>* notices) {
    const relay_timing::DurationDisplay shown = relay_timing::displayDuration(ms);
    text = std::to_string(shown.count);
    unit = shown.unitIndex;
    if (!shown.exact && notices != nullptr) {
        const auto unitMs = static_cast<std::uint64_t>(
            relay_timing::kUnitMs[static_cast<std::size_t>(shown.unitIndex)]);
        const char* unitName = relay_timing::kUnitNames[static_cast<std::size_t>(shown.unitIndex)];
        notices->push_back(std::string(field) + ": " + std::to_string(ms) +
                           " мсек не помещается в поле точно и показано как " + text + " " +
                           unitName + " (" + std::to_string(shown.count * unitMs) + " мсек)");
    }
}

} // namespace

std::string WriteConfResult::message() const {
    std::string text;
    for (const std::string& error : errors) {
        if (!text.empty()) {
            text += '\n';
        }
        text += error;
    }
    return text;
}

WriteConfResult Write_conf(const ConfigPages& p) {
    WriteConfResult result;
    std::vector<std::string>& errors = result.errors;
    ConfigBlock b;

    if (auto v = number<std::uint16_t>(p.Password, kPasswordName, 0, 65535, errors)) {
        b.password = *v;
    }

    b.options = static_cast<std::uint8_t>(
        (p.All_num_ch ? ConfigOption::All_num_ch : 0) | (p.SMS_ch ? ConfigOption::SMS_ch : 0) |
        (p.RING_ch ? ConfigOption::RING_ch : 0) | (p.Ohrana_en ? ConfigOption::Ohrana_en : 0) |
        (p.Input_inv ? ConfigOption::Input_inv : 0) | (p.Short_num ? ConfigOption::Short_num : 0) |
        (p.Mes_in ? ConfigOption::Mes_in : 0) | (p.Mes_rele ? ConfigOption::Mes_rele : 0));

    if (p.RELE_REJ >= 0 && p.RELE_REJ <= 3) {
        b.relayMode = static_cast<std::uint8_t>(p.RELE_REJ);
    } else {
        errors.push_back(std::string(kRelayModeName) + ": режим не выбран");
    }

    const relay_timing::TimingCheck timing =
        relay_timing::computeTiming(p.timingTexts(), relay_timing::unitMs(p.act_mul).value_or(0),
                                    relay_timing::unitMs(p.pause_mul).value_or(0));
    if (timing.values) {
        b.pulseMs = timing.values->pulseMs;
        b.pauseMs = timing.values->pauseMs;
        b.repetitions = timing.values->repetitions;
    } else {
        errors.insert(errors.end(), timing.errors.begin(), timing.errors.end());
    }

    if (auto v = number<std::uint8_t>(p.T_in, kDisarmName, 0, 255, errors)) {
        b.disarmTime = *v;
    }
    if (auto v = number<std::uint8_t>(p.T_out, kArmName, 0, 255, errors)) {
        b.armTime = *v;
    }
    if (auto v = number<std::uint8_t>(p.T_mem, kRearmName, 0, 255, errors)) {
        b.rearmTime = *v;
    }
    if (auto v = number<std::uint16_t>(p.Num_dev, kDeviceNumberName, 0, 65535, errors)) {
        b.deviceNumber = *v;
    }
    b.relayOptions = static_cast<std::uint8_t>((p.SendToRing ? RelayOption::SendToRing : 0) |
                                               (p.KEYNUMBUT ? RelayOption::KEYNUMBUT : 0));
    if (auto v = number<std::uint8_t>(p.OUT_TOUT, kTimeoutName, 0, 255, errors)) {
        b.relayTimeout = *v;
    }

    for (std::size_t k = 0; k < ConfigBlock::kKeyCount; ++k) {
        const touch_keys::KeyConversion key =
            touch_keys::keyTextToBytes(p.keys[k], static_cast<int>(k) + 1);
        if (key.ok()) {
            b.keys[k] = key.bytes;
        } else {
            errors.push_back(*key.error);
        }
    }

    // The radio group always has a choice; without one the device's default,
    // the last mode, is meant.
    b.inputMode = static_cast<std::uint8_t>(p.inputMode >= 0 && p.inputMode <= 2 ? p.inputMode : 3);

    if (auto v = textField<ConfigBlock::kOwnerNumberLength>(p.Oh_num, kOwnerNumberName, errors)) {
        b.ownerNumber = *v;
    }
    if (auto v =
            textField<ConfigBlock::kCountryCodeLength>(p.countryCode, kCountryCodeName, errors)) {
        b.countryCode = *v;
    }

    if (errors.empty()) {
        result.block = b;
    }
    return result;
}

void Read_conf(const ConfigBlock& b, ConfigPages& p, std::vector<std::string>* notices) {
    p.All_num_ch = (b.options & ConfigOption::All_num_ch) != 0;
    p.SMS_ch = (b.options & ConfigOption::SMS_ch) != 0;
    p.RING_ch = (b.options & ConfigOption::RING_ch) != 0;
    p.Ohrana_en = (b.options & ConfigOption::Ohrana_en) != 0;
    p.Input_inv = (b.options & ConfigOption::Input_inv) != 0;
    p.Short_num = (b.options & ConfigOption::Short_num) != 0;
    p.Mes_in = (b.options & ConfigOption::Mes_in) != 0;
    p.Mes_rele = (b.options & ConfigOption::Mes_rele) != 0;
    p.RELE_REJ = b.relayMode <= 3 ? b.relayMode : -1;
    p.T_in = std::to_string(b.disarmTime);
    p.T_out = std::to_string(b.armTime);
    p.T_mem = std::to_string(b.rearmTime);
    p.Num_dev = std::to_string(b.deviceNumber);
    p.SendToRing = (b.relayOptions & RelayOption::SendToRing) != 0;
    p.KEYNUMBUT = (b.relayOptions & RelayOption::KEYNUMBUT) != 0;
    p.OUT_TOUT = std::to_string(b.relayTimeout);
    for (std::size_t k = 0; k < ConfigBlock::kKeyCount; ++k) {
        p.keys[k] = touch_keys::bytesToKeyText(b.keys[k]);
    }
    if (b.inputMode <= 3) {
        p.inputMode = b.inputMode;
    }
    p.Oh_num = fieldText(b.ownerNumber);
    p.countryCode = fieldText(b.countryCode);
    Load_data(b, p, notices);
}

void Load_data(const ConfigBlock& b, ConfigPages& p, std::vector<std::string>* notices) {
    showDuration(b.pulseMs, "Импульс", p.act_time, p.act_mul, notices);
    showDuration(b.pauseMs, "Пауза", p.pause_time, p.pause_mul, notices);
    p.povtor = std::to_string(b.repetitions);
}

std::optional<std::string> Edit_val_1_255(std::string_view text) {
    if (text.empty()) {
        return std::string("1");
    }
    const decimal_text::Number n = decimal_text::parse(text);
    if (n.kind == decimal_text::Number::Kind::Value && n.value > 255) {
        return std::string("255");
    }
    return std::nullopt;
}

std::optional<std::string> Num_devChange(std::string_view text) {
    if (text.empty()) {
        return std::string("1");
    }
    return std::nullopt;
}
