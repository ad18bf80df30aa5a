#include "config/config_fields.h"

#include "config/touch_keys.h"
#include "protocol/cp1251.h"

#include <algorithm>
#include <cstdio>

namespace config_fields {

namespace {

std::string yesNo(bool on) {
    return on ? "да" : "нет";
}

template <std::size_t N> std::string fieldText(const std::array<std::uint8_t, N>& bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return cp1251::toUtf8(std::string(bytes.begin(), end));
}

std::string milliseconds(std::uint32_t ms) {
    return std::to_string(ms) + " мсек";
}

template <std::size_t N>
std::string itemText(unsigned index, const std::array<const char*, N>& items) {
    return index < N ? items[index] : "значение " + std::to_string(index);
}

constexpr std::array<const char*, 4> kRelayModes{"Выключить", "Включить", "Инвертировать",
                                                 "Импульс"};
constexpr std::array<const char*, 4> kInputModes{
    "Смена режима ОХРАНА/НАБЛЮДЕНИЕ - импульс",
    "Активный уровень - ОХРАНА, неактивный - НАБЛЮДЕНИЕ",
    "Переход в режим ОХРАНА - импульс или touch memory, в режим НАБЛЮДЕНИЕ - touch memory",
    "Смена режима ОХРАНА/НАБЛЮДЕНИЕ - touch memory"};

template <std::uint8_t Bit> std::string option(const ConfigBlock& b) {
    return yesNo((b.options & Bit) != 0);
}
template <std::uint8_t Bit> std::string relayOption(const ConfigBlock& b) {
    return yesNo((b.relayOptions & Bit) != 0);
}
template <int Row> std::string key(const ConfigBlock& b) {
    const std::string text = touch_keys::bytesToKeyText(b.keys[Row - 1]);
    return text.empty() ? "пусто" : text;
}

constexpr const char* kInformOwner = "Информировать владельца о изменении состояния";
constexpr const char* kKeys = "Ключи touch memory";

} // namespace

const std::vector<Field>& fields() {
    static const std::vector<Field> table{
        {"Пароль", nullptr, 0, [](const ConfigBlock& b) { return std::to_string(b.password); }},
        {"Номер владельца", nullptr, 0,
         [](const ConfigBlock& b) { return fieldText(b.ownerNumber); }},
        {"Номер устройства", nullptr, 0,
         [](const ConfigBlock& b) { return std::to_string(b.deviceNumber); }},
        {"Принимать звонки с любого номера", nullptr, 0, option<ConfigOption::All_num_ch>},
        {"СМС только с первого номера в памяти", nullptr, 0, option<ConfigOption::SMS_ch>},
        {"Ответ в виде звонка", nullptr, 0, option<ConfigOption::RING_ch>},
        {"Управление реле по ключам i-button", nullptr, 0, relayOption<RelayOption::KEYNUMBUT>},
        {"Информировать звонящего о изменении состония входа", nullptr, 0,
         relayOption<RelayOption::SendToRing>},
        {"Входа", kInformOwner, 0, option<ConfigOption::Mes_in>},
        {"Реле", kInformOwner, 0, option<ConfigOption::Mes_rele>},
        {"Короткий номер: без \"8\"", nullptr, 0, option<ConfigOption::Short_num>},
        {"Код страны", nullptr, 0, [](const ConfigBlock& b) { return fieldText(b.countryCode); }},
        {"Таймаум, сек", nullptr, 0,
         [](const ConfigBlock& b) { return std::to_string(b.relayTimeout); }},
        {"Режим работы реле", nullptr, 0,
         [](const ConfigBlock& b) { return itemText(b.relayMode, kRelayModes); }},
        {"Импульс", nullptr, 0, [](const ConfigBlock& b) { return milliseconds(b.pulseMs); }},
        {"Пауза", nullptr, 0, [](const ConfigBlock& b) { return milliseconds(b.pauseMs); }},
        {"Повторять", nullptr, 0,
         [](const ConfigBlock& b) { return std::to_string(b.repetitions); }},
        {"Режим охраны", nullptr, 0, option<ConfigOption::Ohrana_en>},
        {"Инверсия входа датчика", nullptr, 0, option<ConfigOption::Input_inv>},
        {"Время снятия с охраны, сек", nullptr, 0,
         [](const ConfigBlock& b) { return std::to_string(b.disarmTime); }},
        {"Время постановки на охрану, сек", nullptr, 0,
         [](const ConfigBlock& b) { return std::to_string(b.armTime); }},
        {"Время перепостановки, мин", nullptr, 0,
         [](const ConfigBlock& b) { return std::to_string(b.rearmTime); }},
        {"Режим работы входа ПОСТАНОВКА/СНЯТИЕ", nullptr, 0,
         [](const ConfigBlock& b) { return itemText(b.inputMode, kInputModes); }},
        {kKeys, nullptr, 1, key<1>},
        {kKeys, nullptr, 2, key<2>},
        {kKeys, nullptr, 3, key<3>},
        {kKeys, nullptr, 4, key<4>},
        {kKeys, nullptr, 5, key<5>},
    };
    return table;
}

std::string displayName(const Field& field) {
    std::string name = field.context != nullptr ? std::string(field.context) + " — " + field.caption
                                                : std::string(field.caption);
    if (field.keyRow != 0) {
        name += ", ключ " + std::to_string(field.keyRow);
    }
    return name;
}

std::vector<Difference> differences(const ConfigBlock::Bytes& first,
                                    const ConfigBlock::Bytes& second) {
    std::vector<Difference> found;
    const ConfigBlock a = ConfigBlock::decode(first);
    const ConfigBlock b = ConfigBlock::decode(second);
    for (const Field& field : fields()) {
        std::string textA = field.text(a);
        std::string textB = field.text(b);
        if (textA != textB) {
            found.push_back({displayName(field), std::move(textA), std::move(textB)});
        }
    }
    if (found.empty() && first != second) {
        // Listed as "offset: byte" for each byte that differs.
        std::string bytesA, bytesB;
        for (std::size_t i = 0; i < first.size(); ++i) {
            if (first[i] != second[i]) {
                char hex[32];
                const char* comma = bytesA.empty() ? "" : ", ";
                std::snprintf(hex, sizeof hex, "%s%zu: %02X", comma, i, first[i]);
                bytesA += hex;
                std::snprintf(hex, sizeof hex, "%s%zu: %02X", comma, i, second[i]);
                bytesB += hex;
            }
        }
        found.push_back({"Байты блока настроек, которых нет на страницах окна", std::move(bytesA),
                         std::move(bytesB)});
    }
    return found;
}

} // namespace config_fields
