// The conversions between positions, slider steps and clock texts.
#include <gtest/gtest.h>

#include <limits>

#include "mmio/timeconv.h"

namespace lirno {
namespace {

TEST(TimeConv, ReadoutCountsEightUnitsASecond) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0, "0:00.0"},      // start
        {4, "0:00.5"},      // half a second
        {7, "0:00.8"},      // the last unit of the first second
        {8, "0:01.0"},      // one second
        {479, "0:59.8"},    // just under a minute
        {480, "1:00.0"},    // one minute
        {4800, "10:00.0"},  // ten minutes, not wrapped into hours
        {57600, "120:00.0"},
    };
    for (const auto& [pos, text] : cases) EXPECT_EQ(formatReadout(pos), text) << pos;
}

TEST(TimeConv, TenthsNeverShowFourOrNine) {
    for (std::uint32_t p = 0; p < 100; ++p) {
        const std::string t = formatReadout(p);
        EXPECT_TRUE(t.back() != '4' && t.back() != '9') << t;
    }
}

TEST(TimeConv, ScaleLabelsAreFifthsOfTheLength) {
    const char* expected[] = {"0:00", "1:00", "2:00", "3:00", "4:00", "5:00"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(scaleLabel(i, 6, 2400), expected[i]);
    // 100 s: fifths are 20 s each, the last label the whole length.
    EXPECT_EQ(scaleLabel(1, 6, 800), "0:20");
    EXPECT_EQ(scaleLabel(5, 6, 800), "1:40");
}

TEST(TimeConv, ScaleOfAnEmptySongReadsZero) {
    for (int i = 0; i < 6; ++i) EXPECT_EQ(scaleLabel(i, 6, 0), "0:00");
    // A slider without inner ticks has no labels at all (no division by n - 2).
    EXPECT_EQ(scaleLabel(1, 2, 2400), "");
}

TEST(TimeConv, SliderEndsMapToTheSongsEnds) {
    EXPECT_EQ(sliderToPos(0, 2400), 0u);
    EXPECT_EQ(sliderToPos(200, 2400), 2400u);
    EXPECT_EQ(sliderToPos(200, 2399), 2399u);
    EXPECT_EQ(sliderToPos(1, 2399), 11u);  // 2399 / 200, truncated
    EXPECT_EQ(sliderToPos(137, 0), 0u);
}

TEST(TimeConv, TimerStepLeadsByOneAndStopsAtTheEnd) {
    EXPECT_EQ(posToSlider(0, 2400), 1);
    EXPECT_EQ(posToSlider(1200, 2400), 101);
    EXPECT_EQ(posToSlider(2388, 2400), 200);  // 199 + 1
    EXPECT_EQ(posToSlider(2400, 2400), 200);  // 201, held at the end
    EXPECT_EQ(posToSlider(9999, 2400), 200);  // a device running past the end
}

TEST(TimeConv, NothingOverflowsNearTheLargestLengths) {
    constexpr std::uint32_t big = std::numeric_limits<std::uint32_t>::max();
    EXPECT_EQ(sliderToPos(200, big), big);
    EXPECT_EQ(sliderToPos(100, big), big / 2);
    EXPECT_EQ(posToSlider(big / 2, big), 100);
    EXPECT_EQ(scaleLabel(5, 6, big), "8947848:31");  // big / 8 seconds
    // 4 000 000 000 units: 500 000 000 s = 8 333 333 min 20 s; the tenth
    // needs p x 5, far beyond 32 bits.
    EXPECT_EQ(formatReadout(4000000000u), "8333333:20.0");
    EXPECT_EQ(formatReadout(4000000003u), "8333333:20.3");
}

}  // namespace
}  // namespace lirno
