#include "render/GraphGeometry.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <deque>

namespace {

const CPlotRect kPlot{100, 50, 760, 580}; // an 800 x 600 pane

TEST(GraphGeometry, RowsMapTheRangeAndClampAtBothEdges) {
    // (bottom - 1) - (v - yMin) / (yMax - yMin) * (bottom - top), truncated toward zero.
    EXPECT_EQ(ValueToRow(0.0f, 0.0f, 1.0f, kPlot), 579);
    EXPECT_EQ(ValueToRow(1.0f, 0.0f, 1.0f, kPlot), 49);
    EXPECT_EQ(ValueToRow(0.5f, 0.0f, 1.0f, kPlot), 314);
    // Far above the range: row top + 1 for the curve, top for its starting point.
    EXPECT_EQ(CurveRow(100.0f, 0.0f, 1.0f, kPlot), 51);
    EXPECT_EQ(CurveStartRow(100.0f, 0.0f, 1.0f, kPlot), 50);
    // Far below: bottom - 1 for both; a value so low that the row overflows int still lands
    // there rather than wrapping to the top.
    EXPECT_EQ(CurveRow(-100.0f, 0.0f, 1.0f, kPlot), 579);
    EXPECT_EQ(CurveRow(-3e38f, 0.0f, 1e-30f, kPlot), 579);
    EXPECT_EQ(CurveStartRow(-100.0f, 0.0f, 1.0f, kPlot), 579);
    // A flat range draws at mid height.
    EXPECT_EQ(CurveRow(5.0f, 5.0f, 5.0f, kPlot), 315);
    EXPECT_EQ(CurveStartRow(7.0f, 5.0f, 5.0f, kPlot), 315);
    // The inverted range AutoScaleY leaves on an empty series stays inside the plot.
    const int row = CurveRow(1.0f, FLT_MAX, -FLT_MAX, kPlot);
    EXPECT_GE(row, 51);
    EXPECT_LE(row, 579);
    EXPECT_EQ(TruncateToInt(NAN), INT_MIN);
    EXPECT_EQ(TruncateToInt(-2.9), -2);
}

TEST(GraphGeometry, ColumnsGridAndLevelLines) {
    EXPECT_EQ(SampleColumn(0.0f, 0.0f, 10.0f, kPlot), 100);
    EXPECT_EQ(SampleColumn(5.0f, 0.0f, 10.0f, kPlot), 430);
    EXPECT_EQ(SampleColumn(10.0f, 0.0f, 10.0f, kPlot), 759) << "clamped to right - 1";
    EXPECT_EQ(SampleColumn(3.0f, 3.0f, 0.0f, kPlot), 100) << "no time span: left edge";

    EXPECT_EQ(GridColumns(kPlot), (std::array<int, 4>{232, 364, 496, 628}));
    EXPECT_EQ(GridRows(kPlot), (std::array<int, 4>{156, 262, 368, 474}));

    int row = 0;
    ASSERT_TRUE(HighLevelRow(0.5f, 0.0f, 1.0f, kPlot, row));
    EXPECT_EQ(row, 314);
    ASSERT_TRUE(LowLevelRow(0.0f, 0.0f, 1.0f, kPlot, row));
    EXPECT_EQ(row, 579);
    EXPECT_FALSE(HighLevelRow(1.5f, 0.0f, 1.0f, kPlot, row)) << "above yMax";
    EXPECT_FALSE(LowLevelRow(-0.5f, 0.0f, 1.0f, kPlot, row)) << "below yMin";
    EXPECT_FALSE(HighLevelRow(-0.5f, 0.0f, 1.0f, kPlot, row)) << "row below the plot";
    EXPECT_FALSE(LowLevelRow(1.5f, 0.0f, 1.0f, kPlot, row)) << "row above the plot";
    EXPECT_FALSE(HighLevelRow(2.0f, 2.0f, 2.0f, kPlot, row)) << "flat range: no defined row";
    EXPECT_FALSE(LowLevelRow(2.0f, 2.0f, 2.0f, kPlot, row));
}

TEST(GraphGeometry, FindSampleIndexStaysInBoundsAndReachesTheLastSample) {
    std::deque<CGraphData> samples;
    EXPECT_EQ(FindSampleIndex(samples, 1.0f), 0u);
    for (int i = 0; i < 10; ++i)
        samples.push_back({static_cast<float>(i), 0.0f});
    EXPECT_EQ(FindSampleIndex(samples, -5.0f), 0u);
    EXPECT_EQ(FindSampleIndex(samples, 0.0f), 0u);
    EXPECT_EQ(FindSampleIndex(samples, 4.5f), 4u);
    EXPECT_EQ(FindSampleIndex(samples, 4.0f), 4u);
    EXPECT_EQ(FindSampleIndex(samples, 9.0f), 9u) << "a window ending on the last sample";
    EXPECT_EQ(FindSampleIndex(samples, 50.0f), 9u);
    EXPECT_LT(FindSampleIndex(samples, NAN), 10u);
    samples.resize(1);
    EXPECT_EQ(FindSampleIndex(samples, 3.0f), 0u);
}

TEST(GraphGeometry, LabelTextsAndPositions) {
    EXPECT_EQ(ValueLabelText(0.5f, 0, "W"), "0.5000 W");
    EXPECT_EQ(ValueLabelText(0.002f, 0, "W"), "2.000 mW");
    EXPECT_EQ(ValueLabelText(4e8f, 0, "W"), "OutW");

    const auto values = ValueLabels(0.0f, 1.0f, kPlot, 0, "W");
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[0].position, 50);
    EXPECT_EQ(values[0].text, "1.000 W");
    EXPECT_EQ(values[1].position, 580);
    EXPECT_EQ(values[1].text, "0.0000 p"
                              "W");
    EXPECT_EQ(values[2].position, 156);
    EXPECT_EQ(values[2].text, "0.8000 W");
    for (const AxisLabel& label : ValueLabels(2e-3f, 2e-3f, kPlot, 0, "W"))
        EXPECT_EQ(label.text, "2.000 mW") << "a flat range labels every row alike";

    // Labels read as wall-clock times and truncate: 59.9 s after 14:00:00 is 14:00:59.
    setenv("TZ", "UTC", 1);
    tzset();
    const std::time_t start = 14 * 3600;
    EXPECT_EQ(FormatTimeLabel(start, 0), "14:00:00");
    const auto times = TimeLabels(0.0f, 59.9f, kPlot, start);
    ASSERT_EQ(times.size(), 6u);
    EXPECT_EQ(times[0].text, "14:00:00");
    EXPECT_EQ(times[0].position, 100);
    EXPECT_EQ(times[1].text, "14:00:59");
    EXPECT_EQ(times[1].position, 760);
    EXPECT_EQ(times[2].text, "14:00:11"); // 11.98 s
    EXPECT_EQ(times[2].position, 232);

    // In a narrow pane the inner times give way; the two ends stay.
    EXPECT_EQ(LabelsThatFit({{0, 50}, {200, 250}, {40, 90}, {100, 150}, {140, 190}, {180, 230}}, 4),
              (std::vector<size_t>{0, 1, 3}));
    EXPECT_EQ(LabelsThatFit({{0, 50}, {500, 550}, {100, 150}}, 4), (std::vector<size_t>{0, 1, 2}));
}

} // namespace
