#include "config/relay_timing.h"

#include "config/decimal_text.h"

#include <limits>

namespace relay_timing {

namespace {

constexpr std::int64_t kFieldMax = std::numeric_limits<std::uint32_t>::max();

std::optional<std::uint32_t> duration(std::string_view text, std::int32_t unit,
                                      std::string_view field, std::vector<std::string>& errors) {
    const std::string name(field);
    const decimal_text::Number n = decimal_text::parse(text);
    if (n.kind == decimal_text::Number::Kind::Empty) {
        errors.push_back(name + ": поле не заполнено");
        return std::nullopt;
    }
    if (n.kind == decimal_text::Number::Kind::NotNumber) {
        errors.push_back(name + ": \"" + std::string(text) + "\" не является целым числом");
        return std::nullopt;
    }
    if (n.value < 0) {
        errors.push_back(name + ": отрицательная длительность " + std::string(text) +
                         " недопустима");
        return std::nullopt;
    }
    if (unit <= 0) {
        errors.push_back(name + ": не выбрана единица времени");
        return std::nullopt;
    }
    const std::int64_t limit = kFieldMax / unit;
    if (n.value > limit) {
        std::string unitName = "мсек";
        for (int i = 0; i < kUnitCount; ++i) {
            if (kUnitMs[i] == unit) {
                unitName = kUnitNames[i];
            }
        }
        errors.push_back(name + ": " + std::string(text) + " " + unitName +
                         " — больше наибольшей длительности " + std::to_string(kFieldMax) +
                         " мсек (не более " + std::to_string(limit) + " " + unitName + ")");
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(n.value * unit);
}

} // namespace

std::optional<std::int32_t> unitMs(int index) {
    if (index < 0 || index >= kUnitCount) {
        return std::nullopt;
    }
    return kUnitMs[static_cast<std::size_t>(index)];
}

TimingCheck computeTiming(const TimingTexts& texts, std::int32_t pulseUnitMs,
                          std::int32_t pauseUnitMs) {
    TimingCheck check;
    const auto pulse = duration(texts.act_time, pulseUnitMs, "Импульс", check.errors);
    const auto pause = duration(texts.pause_time, pauseUnitMs, "Пауза", check.errors);
    std::string error;
    const auto repetitions =
        decimal_text::inRange(texts.povtor, "Повторять", 0, kMaxRepetitions, error);
    if (!repetitions) {
        check.errors.push_back(error);
    }
    if (pulse && pause && repetitions) {
        check.values = TimingValues{*pulse, *pause, static_cast<std::uint8_t>(*repetitions)};
    }
    return check;
}

std::vector<ChartPoint> pulseTrain(const TimingValues& v) {
    std::vector<ChartPoint> points;
    points.reserve(4u * v.repetitions);
    const std::uint64_t on = v.pulseMs;
    const std::uint64_t period = on + v.pauseMs;
    for (std::uint64_t k = 0; k < v.repetitions; ++k) {
        const std::uint64_t start = k * period;
        points.push_back({double(start), 1});
        points.push_back({double(start + on), 1});
        points.push_back({double(start + on), 0});
        points.push_back({double(start + period), 0});
    }
    return points;
}

std::optional<std::string> timeTextCorrection(std::string_view text) {
    if (text.empty()) {
        return std::string("1");
    }
    return std::nullopt;
}

std::optional<std::string> povtorCorrection(std::string_view text) {
    if (text.empty()) {
        return std::string("1");
    }
    const decimal_text::Number n = decimal_text::parse(text);
    if (n.kind == decimal_text::Number::Kind::Value && n.value > kMaxRepetitions) {
        return std::to_string(kMaxRepetitions);
    }
    return std::nullopt;
}

DurationDisplay displayDuration(std::uint32_t ms) {
    for (int i = 0; i < kUnitCount; ++i) {
        const auto unit = static_cast<std::uint32_t>(kUnitMs[static_cast<std::size_t>(i)]);
        if (std::uint64_t{ms} <= std::uint64_t{kMaxCount} * unit || i == kUnitCount - 1) {
            return DurationDisplay{i, ms / unit, ms % unit == 0};
        }
    }
    return {};
}

void RelayTiming::act_mulChange(int index) {
    if (const auto unit = unitMs(index)) {
        pulseUnitMs = *unit;
    }
}

void RelayTiming::pause_mulChange(int index) {
    if (const auto unit = unitMs(index)) {
        pauseUnitMs = *unit;
    }
}

RelayTiming::Preview RelayTiming::preview(const TimingTexts& texts, ConfigBlock& block) const {
    Preview preview;
    if (!previewEnabled) {
        return preview;
    }
    TimingCheck check = computeTiming(texts, pulseUnitMs, pauseUnitMs);
    if (!check.values) {
        preview.status = Preview::Status::Refused;
        preview.errors = std::move(check.errors);
        return preview;
    }
    block.pulseMs = check.values->pulseMs;
    block.pauseMs = check.values->pauseMs;
    block.repetitions = check.values->repetitions;
    preview.status = Preview::Status::Drawn;
    preview.points = pulseTrain(*check.values);
    return preview;
}

} // namespace relay_timing
