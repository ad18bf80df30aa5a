// The relay's pulse train: pulse length and pause length, each a count of a
// unit ("мсек", "сек", "мин", "час"), and a number of repetitions. The
// preview (`preview`) is the one place where these edits become the
// timing fields of the configuration record, and it also gives the points of
// the little chart beside them.
#pragma once

#include "config/config_block.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace relay_timing {

inline constexpr int kUnitCount = 4;
// Milliseconds per item of `act_mul` / `pause_mul`.
inline constexpr std::array<std::int32_t, kUnitCount> kUnitMs{1, 1000, 60000, 3600000};
inline constexpr std::array<const char*, kUnitCount> kUnitNames{"мсек", "сек", "мин", "час"};
// `act_time` and `pause_time` hold at most four characters.
inline constexpr std::uint32_t kMaxCount = 9999;
inline constexpr std::int64_t kMaxRepetitions = 255;
// The chart's fixed vertical range: the pulse is drawn at 1, the pause at 0.
inline constexpr double kChartMinY = -0.5;
inline constexpr double kChartMaxY = 1.5;

// Milliseconds per unit item, or nullopt for no selection (-1) or a bad index.
std::optional<std::int32_t> unitMs(int index);

struct ChartPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const ChartPoint&, const ChartPoint&) = default;
};

// The three timing edits as the user typed them (UTF-8).
struct TimingTexts {
    std::string act_time;
    std::string pause_time;
    std::string povtor;
};

struct TimingValues {
    std::uint32_t pulseMs = 0;
    std::uint32_t pauseMs = 0;
    std::uint8_t repetitions = 0;
};

// The timing edits as field values, or every reason they cannot be stored:
// a text that is not a whole number, a negative entry, a duration beyond
// the 32-bit field (more than 1193 hours) or more than 255 repetitions.
// Nothing is ever stored wrapped.
struct TimingCheck {
    std::optional<TimingValues> values;
    std::vector<std::string> errors; // Russian, each names its edit
};
TimingCheck computeTiming(const TimingTexts& texts, std::int32_t pulseUnitMs,
                          std::int32_t pauseUnitMs);

// The pulse train of `values`: per repetition k the points (k*period, 1),
// (k*period + on, 1), (k*period + on, 0), ((k+1)*period, 0). Computed in
// 64 bits, so the points stay in ascending order however long the train.
std::vector<ChartPoint> pulseTrain(const TimingValues& values);

// Change guards of the edits: the text to put in place of `text`, or nullopt
// to leave it. An emptied pulse or pause becomes "1".
std::optional<std::string> timeTextCorrection(std::string_view text);
// An emptied `povtor` becomes "1", a value above 255 becomes "255".
std::optional<std::string> povtorCorrection(std::string_view text);

// How a stored duration is shown in a four-character edit: the smallest unit
// in which it is at most 9999 units (9999 ms, 9 999 000 ms, 599 940 000 ms),
// rounded down. Units divide one another, so when any unit
// can show a duration exactly, the smallest fitting one does: 5000 ms stays
// "5000 мсек", 7 200 000 ms is "7200 сек". Only durations with no exact
// four-digit form are rounded: 12 345 ms is "12 сек". Durations above 9999
// minutes are shown in hours (up to 1193 "час").
struct DurationDisplay {
    int unitIndex = 0;
    std::uint32_t count = 0;
    bool exact = true;
};
DurationDisplay displayDuration(std::uint32_t ms);

// The preview's state: the unit factors, changed only by the unit lists'
// change handlers, and `previewEnabled`, which Load_data clears while it
// fills the edits so that half-filled edits are never turned into fields.
class RelayTiming {
  public:
    std::int32_t pulseUnitMs = 1;
    std::int32_t pauseUnitMs = 1;
    bool previewEnabled = true;

    // A unit list changed to `index`; no selection keeps the factor.
    void act_mulChange(int index);
    void pause_mulChange(int index);

    struct Preview {
        enum class Status { Disabled, Drawn, Refused } status = Status::Disabled;
        std::vector<ChartPoint> points;  // when Drawn: the whole new train
        std::vector<std::string> errors; // when Refused
    };
    // Recomputes the timing fields of `block` from the edits and gives the
    // chart's points. Refused entries leave `block` as it was (and the chart
    // should stay as it is); while the preview is disabled nothing happens.
    Preview preview(const TimingTexts& texts, ConfigBlock& block) const;
};

} // namespace relay_timing
