// The configuration as the user sees it on the pages "Настройки" and
// "Охрана" plus the password box, and the two conversions between it and
// the 68-byte record: `Write_conf` (pages -> record, refusing whatever does
// not fit its field) and `Read_conf` (record -> pages), with `Load_data`
// for the relay timing edits.
#pragma once

#include "config/config_block.h"
#include "config/relay_timing.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

struct ConfigPages {
    // Page "Редактирование".
    std::string Password = "1234";

    // Page "Настройки", group "Общие".
    std::string Oh_num;
    std::string Num_dev = "1";

    // Page "Настройки", group "Настройки": the option boxes.
    bool All_num_ch = false;
    bool SMS_ch = false;
    bool RING_ch = false;
    bool Short_num = false; // hidden; only a received or loaded record changes it
    bool Mes_in = false;
    bool Mes_rele = false;
    bool SendToRing = false;
    bool KEYNUMBUT = false;
    std::string countryCode = "+7"; // Edit3
    std::string OUT_TOUT = "0";
    int RELE_REJ = 3; // item index, -1 for none

    // The relay timing edits and their unit lists.
    std::string act_time = "1";
    int act_mul = 0;
    std::string pause_time = "1";
    int pause_mul = 0;
    std::string povtor = "1";

    // Page "Охрана".
    bool Ohrana_en = false;
    bool Input_inv = false;
    std::string T_in = "20";
    std::string T_out = "20";
    std::string T_mem = "5";
    int inputMode = 3;                                      // 0..3 for rej_but1..rej_but4
    std::array<std::string, ConfigBlock::kKeyCount> keys{}; // rows 1..5 of iButton

    relay_timing::TimingTexts timingTexts() const { return {act_time, pause_time, povtor}; }

    friend bool operator==(const ConfigPages&, const ConfigPages&) = default;
};

// Either the record built from the pages or every reason why it cannot be.
struct WriteConfResult {
    std::optional<ConfigBlock> block;
    std::vector<std::string> errors; // Russian, each begins with the field's name
    bool ok() const { return block.has_value(); }
    // All errors, one a line.
    std::string message() const;
};

// Pages -> record. Every field comes from the pages, the timing fields too
// (from the edits and their units, as the preview computes them), so the
// record always says what the window shows. Nothing is ever stored wrapped,
// cut or padded: a value outside its field is refused and named.
WriteConfResult Write_conf(const ConfigPages& pages);

// Record -> pages, all but the password (the record's password is never
// shown). An input mode outside 0..3 leaves the radio choice as it is; a
// relay mode outside the list selects nothing. The timing edits are filled
// by `Load_data`. Durations that a four-character edit cannot show exactly
// are rounded down; `notices` (when given) gets a line for each.
void Read_conf(const ConfigBlock& block, ConfigPages& pages,
               std::vector<std::string>* notices = nullptr);

// The timing edits and units from the record's timing fields.
void Load_data(const ConfigBlock& block, ConfigPages& pages,
               std::vector<std::string>* notices = nullptr);

// Change guard of `T_in`, `T_out` and `T_mem`: the text to put in place of
// `text`, or nullopt to keep it. Empty becomes "1", above 255 becomes "255".
std::optional<std::string> Edit_val_1_255(std::string_view text);
// Change guard of `Num_dev`: empty becomes "1".
std::optional<std::string> Num_devChange(std::string_view text);
