// The relay timing preview: the record fields it keeps, the pulse train it
// draws, and the entries it refuses.
#include "config/relay_timing.h"

#include <gtest/gtest.h>

namespace {

using relay_timing::ChartPoint;
using relay_timing::RelayTiming;
using Status = RelayTiming::Preview::Status;

RelayTiming::Preview draw(RelayTiming& timing, ConfigBlock& block, const char* pulse,
                          const char* pause, const char* repetitions) {
    return timing.preview({pulse, pause, repetitions}, block);
}

TEST(RelayPreview, StartValuesDrawOnePulse) {
    RelayTiming timing;
    ConfigBlock block;
    const auto preview = draw(timing, block, "5000", "50", "1");
    ASSERT_EQ(preview.status, Status::Drawn);
    EXPECT_EQ(preview.points, (std::vector<ChartPoint>{{0, 1}, {5000, 1}, {5000, 0}, {5050, 0}}));
    EXPECT_EQ(block.pulseMs, 5000u);
    EXPECT_EQ(block.pauseMs, 50u);
    EXPECT_EQ(block.repetitions, 1);
}

TEST(RelayPreview, ThreeOneSecondPulses) {
    RelayTiming timing;
    timing.act_mulChange(1);
    timing.pause_mulChange(1);
    ConfigBlock block;
    const auto preview = draw(timing, block, "1", "1", "3");
    ASSERT_EQ(preview.status, Status::Drawn);
    ASSERT_EQ(preview.points.size(), 12u);
    EXPECT_EQ(preview.points[0], (ChartPoint{0, 1}));
    EXPECT_EQ(preview.points[4], (ChartPoint{2000, 1}));
    EXPECT_EQ(preview.points[8], (ChartPoint{4000, 1}));
    EXPECT_EQ(preview.points[9], (ChartPoint{5000, 1}));
    EXPECT_EQ(preview.points[10], (ChartPoint{5000, 0}));
    EXPECT_EQ(preview.points.back(), (ChartPoint{6000, 0}));
    EXPECT_EQ(block.pulseMs, 1000u);
    EXPECT_EQ(block.pauseMs, 1000u);
    EXPECT_EQ(block.repetitions, 3);
}

TEST(RelayPreview, RepetitionLimits) {
    RelayTiming timing;
    ConfigBlock block;
    auto preview = draw(timing, block, "10", "10", "255");
    ASSERT_EQ(preview.status, Status::Drawn);
    EXPECT_EQ(preview.points.size(), 1020u);
    EXPECT_EQ(block.repetitions, 255);

    preview = draw(timing, block, "10", "10", "0");
    ASSERT_EQ(preview.status, Status::Drawn);
    EXPECT_TRUE(preview.points.empty());
    EXPECT_EQ(block.repetitions, 0);
}

TEST(RelayPreview, UnitsMultiply) {
    RelayTiming timing;
    ConfigBlock block;
    timing.act_mulChange(3);
    draw(timing, block, "2", "50", "1");
    EXPECT_EQ(block.pulseMs, 7'200'000u);
    timing.pause_mulChange(1);
    draw(timing, block, "2", "50", "1");
    EXPECT_EQ(block.pauseMs, 50'000u);
    timing.pause_mulChange(2);
    draw(timing, block, "2", "50", "1");
    EXPECT_EQ(block.pauseMs, 3'000'000u);
    // No selection keeps the factor.
    timing.pause_mulChange(-1);
    EXPECT_EQ(timing.pauseUnitMs, 60'000);
    timing.act_mulChange(4);
    EXPECT_EQ(timing.pulseUnitMs, 3'600'000);
}

TEST(RelayPreview, DisabledPreviewChangesNothing) {
    RelayTiming timing;
    ConfigBlock block;
    draw(timing, block, "5000", "50", "1");
    timing.previewEnabled = false;
    const auto preview = draw(timing, block, "7", "8", "9");
    EXPECT_EQ(preview.status, Status::Disabled);
    EXPECT_TRUE(preview.points.empty());
    EXPECT_EQ(block.pulseMs, 5000u);
    EXPECT_EQ(block.pauseMs, 50u);
    EXPECT_EQ(block.repetitions, 1);
}

TEST(RelayPreviewRefuses, BadEntriesLeaveTheRecordAlone) {
    struct Case {
        const char* pulse;
        const char* pause;
        const char* repetitions;
        int pulseUnit;
        const char* message;
    };
    const Case cases[] = {
        {"-5", "50", "1", 0, "Импульс: отрицательная длительность -5 недопустима"},
        {"5", "-", "1", 0, "Пауза: \"-\" не является целым числом"},
        {"5", "50", "-1", 0, "Повторять: отрицательное значение -1 недопустимо"},
        {"5", "50", "300", 0, "Повторять: значение 300 вне допустимого диапазона 0..255"},
        {"1O", "50", "1", 0, "Импульс: \"1O\" не является целым числом"},
        {"9999", "50", "1", 3,
         "Импульс: 9999 час — больше наибольшей длительности 4294967295 мсек (не более 1193 "
         "час)"},
        {"1194", "50", "1", 3,
         "Импульс: 1194 час — больше наибольшей длительности 4294967295 мсек (не более 1193 "
         "час)"},
    };
    for (const Case& c : cases) {
        RelayTiming timing;
        ConfigBlock block;
        draw(timing, block, "5000", "50", "1");
        timing.act_mulChange(c.pulseUnit);
        const auto preview = draw(timing, block, c.pulse, c.pause, c.repetitions);
        EXPECT_EQ(preview.status, Status::Refused) << c.message;
        ASSERT_EQ(preview.errors.size(), 1u) << c.message;
        EXPECT_EQ(preview.errors[0], c.message);
        EXPECT_TRUE(preview.points.empty());
        EXPECT_EQ(block.pulseMs, 5000u) << c.message;
        EXPECT_EQ(block.pauseMs, 50u) << c.message;
        EXPECT_EQ(block.repetitions, 1) << c.message;
    }
}

TEST(RelayPreview, LongestTrainStaysInOrder) {
    // 1193 hours of pulse and of pause, 255 times: far beyond 32 bits of x,
    // and still every point lies right of the one before.
    RelayTiming timing;
    timing.act_mulChange(3);
    timing.pause_mulChange(3);
    ConfigBlock block;
    const auto preview = draw(timing, block, "1193", "1193", "255");
    ASSERT_EQ(preview.status, Status::Drawn);
    EXPECT_EQ(block.pulseMs, 4'294'800'000u);
    for (std::size_t i = 1; i < preview.points.size(); ++i) {
        ASSERT_GE(preview.points[i].x, preview.points[i - 1].x) << i;
    }
    EXPECT_EQ(preview.points.back().x, 255.0 * 2 * 4'294'800'000.0);
}

TEST(RelayEditGuards, EmptyAndTooManyRepetitions) {
    EXPECT_EQ(relay_timing::timeTextCorrection(""), "1");
    EXPECT_EQ(relay_timing::timeTextCorrection("0"), std::nullopt);
    EXPECT_EQ(relay_timing::timeTextCorrection("-"), std::nullopt);
    EXPECT_EQ(relay_timing::povtorCorrection(""), "1");
    EXPECT_EQ(relay_timing::povtorCorrection("300"), "255");
    EXPECT_EQ(relay_timing::povtorCorrection("256"), "255");
    EXPECT_EQ(relay_timing::povtorCorrection("255"), std::nullopt);
    EXPECT_EQ(relay_timing::povtorCorrection("-9"), std::nullopt); // refused by the preview
}

} // namespace
