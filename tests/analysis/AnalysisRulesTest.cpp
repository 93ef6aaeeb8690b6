#include "analysis/AnalysisRules.h"
#include "render/StatisticsTable.h"

#include "support/LocalTime.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

CStatistics Enabled() {
    CStatistics stats;
    stats.Reset();
    stats.m_bEnabled = true;
    return stats;
}

const CPlotRect kPlot{100, 50, 580, 634};

} // namespace

TEST(StatisticsPanel, TextsOfThreeSamplesAndOfNone) {
    CStatistics stats = Enabled();
    const std::deque<CGraphData> samples = {{0, 1.0f}, {1, 2.0f}, {2, 3.0f}, {3, 100.0f}};
    VisibleStatistics(stats, samples, 0.0f, 2.0f); // bounds included; the fourth is outside
    EXPECT_EQ(StatisticsPanelLines(stats, "W"), (Lines{{"Average: ", "2.00 W"},
                                                       {"Maximum: ", "3.00 W"},
                                                       {"Minimum:", "1.00 W"},
                                                       {"RMS Stability: ", "40.82 %"},
                                                       {"PTP Stability: ", "100.0 %"},
                                                       {"Std Dev: ", "0.816 W"}}));
    VisibleStatistics(stats, samples, 5.0f, 9.0f);
    EXPECT_EQ(StatisticsPanelLines(stats, "W"), (Lines{{"Average: ", "0.000 pW"},
                                                       {"Maximum: ", "Out"},
                                                       {"Minimum:", "Out"},
                                                       {"RMS Stability: ", "0.0000 %"},
                                                       {"PTP Stability: ", "0.0000 %"},
                                                       {"Std Dev: ", "0.000 pW"}}));
    // A mean of 0 with spread: infinite stabilities, shown with " %"; no spread and no mean: NaN.
    VisibleStatistics(stats, std::deque<CGraphData>{{0, -1.0f}, {1, 1.0f}}, 0, 1);
    EXPECT_EQ(StatisticsPanelLines(stats, "W")[3].second.back(), '%');
    stats.m_fRmsStability = NAN;
    EXPECT_EQ(StatisticsPanelLines(stats, "W")[3].second, "Out");
}

// Channels worked out side by side give each channel's own figures bit for bit: runs of
// different lengths and ranges, an empty range, a NaN, and a channel whose times go back.
TEST(StatisticsPanel, ChannelsSideBySideGiveEachChannelsOwnFigures) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(1.0f, 0.01f);
    std::vector<std::vector<CGraphData>> channels(4);
    for (size_t c = 0; c < channels.size(); ++c)
        for (int i = 0; i < 5000 + 37 * static_cast<int>(c); ++i)
            channels[c].push_back({static_cast<float>(i / 10), noise(random) * (1.0f + c)});
    channels[2][1234].fValue = NAN;
    const auto same = [](const CStatistics& a, const CStatistics& b) {
        return a.m_nCount == b.m_nCount && std::memcmp(&a.m_dMean, &b.m_dMean, 8) == 0 &&
               std::memcmp(&a.m_dMeanOfSquares, &b.m_dMeanOfSquares, 8) == 0 &&
               std::memcmp(&a.m_fMinimum, &b.m_fMinimum, 4) == 0 &&
               std::memcmp(&a.m_fMaximum, &b.m_fMaximum, 4) == 0 &&
               std::memcmp(&a.m_fCurrent, &b.m_fCurrent, 4) == 0 &&
               std::memcmp(&a.m_fStdDev, &b.m_fStdDev, 4) == 0 &&
               std::memcmp(&a.m_fRmsStability, &b.m_fRmsStability, 4) == 0;
    };
    const std::vector<std::pair<float, float>> ranges = {
        {0, 500}, {3, 77.5f}, {12, 12}, {0, 1e9f}, {600, 700}};
    for (bool timesGoBack : {false, true}) {
        if (timesGoBack)
            std::swap(channels[3][10], channels[3][4000]);
        for (size_t count = 1; count <= channels.size(); ++count) {
            for (size_t shift = 0; shift < ranges.size(); ++shift) {
                std::vector<CStatistics> alone(count, Enabled()), together(count, Enabled());
                std::vector<CVisibleRun> runs;
                for (size_t c = 0; c < count; ++c) {
                    const auto [from, to] = ranges[(c + shift) % ranges.size()];
                    VisibleStatistics(alone[c], channels[c], from, to);
                    runs.push_back({&together[c], &channels[c], from, to});
                }
                VisibleStatisticsSideBySide(runs);
                for (size_t c = 0; c < count; ++c)
                    EXPECT_TRUE(same(alone[c], together[c])) << count << " channels, channel " << c;
            }
        }
    }
}

TEST(AnalysisRules, BoxZoomMapsPixelsToTimesAndValues) {
    const CViewRange view{0.0f, 100.0f, 0.0f, 1.0f};
    EXPECT_EQ(TimeAtPixel(100, kPlot, view), 0.0f);
    EXPECT_EQ(TimeAtPixel(340, kPlot, view), 50.0f);
    EXPECT_EQ(ValueAtPixel(633, kPlot, view), 0.0f); // the bottom row is the minimum
    EXPECT_FLOAT_EQ(ValueAtPixel(50, kPlot, view), 583.0f / 584.0f);

    CViewRange zoomed = view;
    ASSERT_TRUE(ZoomToBox(160, 100, 400, 400, kPlot, zoomed));
    EXPECT_EQ(zoomed.xMin, TimeAtPixel(160, kPlot, view));
    EXPECT_EQ(zoomed.xMax, TimeAtPixel(400, kPlot, view));
    EXPECT_EQ(zoomed.yMax, ValueAtPixel(100, kPlot, view));
    EXPECT_EQ(zoomed.yMin, ValueAtPixel(400, kPlot, view));
    // Dragged the other way round: the same box.
    CViewRange reversed = view;
    ASSERT_TRUE(ZoomToBox(400, 400, 160, 100, kPlot, reversed));
    EXPECT_EQ(reversed.xMin, zoomed.xMin);
    EXPECT_EQ(reversed.yMin, zoomed.yMin);
    // A click, or a box without height: nothing.
    CViewRange same = view;
    EXPECT_FALSE(ZoomToBox(200, 200, 200, 200, kPlot, same));
    EXPECT_FALSE(ZoomToBox(200, 200, 300, 200, kPlot, same));
    EXPECT_EQ(same.xMax, 100.0f);
}

TEST(AnalysisRules, WheelStepsAndTheirLimits) {
    CViewRange view{0, 10, 0, 1};
    WheelValueStep(view, true);
    EXPECT_FLOAT_EQ(view.yMin, -0.1f);
    EXPECT_FLOAT_EQ(view.yMax, 1.1f);
    view.yMin = 0;
    view.yMax = 1;
    WheelValueStep(view, false);
    EXPECT_FLOAT_EQ(view.yMin, 0.1f);
    EXPECT_FLOAT_EQ(view.yMax, 0.9f);

    // Time: at full view a zoom out stays at [first, last]; a zoom in takes 10 % off each end.
    view = CViewRange{0, 100, 0, 1};
    EXPECT_FLOAT_EQ(WheelTimeStep(view, 0, 100, true), 120.0f);
    EXPECT_EQ(view.xMin, 0.0f);
    EXPECT_EQ(view.xMax, 100.0f);
    WheelTimeStep(view, 0, 100, false);
    EXPECT_FLOAT_EQ(view.xMin, 10.0f);
    EXPECT_FLOAT_EQ(view.xMax, 90.0f);
    // Near the end of the data the range is pushed back inside it.
    view = CViewRange{80, 100, 0, 1};
    WheelTimeStep(view, 0, 100, true);
    EXPECT_FLOAT_EQ(view.xMax, 100.0f);
    EXPECT_FLOAT_EQ(view.xMin, 78.0f);
    // Steps are never under 0.001 s, and a zoom in never leaves less than that.
    view = CViewRange{5.0f, 5.004f, 0, 1};
    WheelTimeStep(view, 0, 100, false);
    EXPECT_NEAR(view.xMin, 5.001f, 1e-6);
    EXPECT_NEAR(view.xMax, 5.003f, 1e-6);
    WheelTimeStep(view, 0, 100, false);
    EXPECT_NEAR(view.xMax - view.xMin, 0.002f, 1e-6); // 0.002 - 0.002 would leave nothing
}

TEST(RangeDialogRules, TextsTruncateAndBoundsAreChecked) {
    const std::time_t start = LocalTime(2011, 3, 4, 12, 30, 0);
    EXPECT_EQ(RangeTimeText(start, 0.0f), "2011-03-04:12:30:00");
    EXPECT_EQ(RangeTimeText(start, 3600.0f), "2011-03-04:13:30:00");
    EXPECT_EQ(RangeTimeText(start, 12.7f), "2011-03-04:12:30:12");
    std::time_t t = 0;
    ASSERT_TRUE(ParseRangeTime("2011-3-4:12:31:0", t));
    EXPECT_EQ(t - start, 60);
    for (const char* bad : {"2011-03-04 12:31:00", "1899-03-04:12:31:00", "2011-13-04:12:31:00",
                            "2011-03-04:24:00:00", "2011-03-04:12:60:00", "yesterday"})
        EXPECT_FALSE(ParseRangeTime(bad, t)) << bad;

    std::vector<std::string> messages;
    float min = 0, max = 3600;
    EXPECT_TRUE(ApplyRangeMinimum("2011-03-04:12:31:00", start, max, min, messages));
    EXPECT_EQ(min, 60.0f);
    EXPECT_FALSE(ApplyRangeMinimum("2011-03-04:12:29:59", start, max, min, messages));
    EXPECT_FALSE(ApplyRangeMinimum("2011-03-04:13:30:01", start, max, min, messages));
    EXPECT_TRUE(ApplyRangeMinimum("2011-03-04:13:30:00", start, max, min, messages)); // = max
    EXPECT_FALSE(ApplyRangeMinimum("12:31", start, max, min, messages));
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "Minimum Time not valid", "Minimum Time not valid",
                            "Minimum Time value should be enter like: yyyy-mm-dd:hh:mm:ss"}));
    // The maximum may move later (the range widens) but not before the minimum.
    messages.clear();
    min = 60;
    EXPECT_TRUE(ApplyRangeMaximum("2011-03-04:15:00:00", start, min, max, messages));
    EXPECT_EQ(max, 9000.0f);
    EXPECT_FALSE(ApplyRangeMaximum("2011-03-04:12:30:59", start, min, max, messages));
    EXPECT_FALSE(ApplyRangeMaximum("2011-03-04:12:29:00", start, min, max, messages));
    EXPECT_FALSE(ApplyRangeMaximum("soon", start, min, max, messages));
    EXPECT_EQ(max, 9000.0f);
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "Invalid Maximum Time Value", "Invalid Maximum Time Value",
                            "Maximum Time value should be enter like: yyyy-mm-dd:hh:mm:ss"}));
}
