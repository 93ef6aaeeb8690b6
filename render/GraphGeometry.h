#pragma once
// The arithmetic of the graph: where a value, a sample and a grid line fall in the plot, which
// samples a time window covers, and the axis label texts. Kept free of any painting so that it
// can be checked pixel by pixel without drawing.

#include <array>
#include <climits>
#include <cmath>
#include <cstddef>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

// One sample of a series: seconds since the series' time origin, and the reading in W.
struct CGraphData {
    float fTime = 0.0f;
    float fValue = 0.0f;
};

// Plot rectangle in pixels; right and bottom are one past the last column and row, as the old
// drawing interface had them.
struct CPlotPoint {
    int x = 0;
    int y = 0;
};

struct CPlotRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The mapping of samples to pixels, inline: a long series calls it for each of its samples.

// Truncation toward zero that cannot overflow: values beyond int saturate, NaN gives INT_MIN
// (the integer the old build's conversion produced, which the clamps then put on the top row).
inline int TruncateToInt(double value) {
    if (std::isnan(value))
        return INT_MIN;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

// Unclamped row of a value: (bottom - 1) - (v - yMin) / (yMax - yMin) * (bottom - top), in float.
inline int ValueToRow(float value, float yMin, float yMax, const CPlotRect& plot) {
    const float row = static_cast<float>(plot.bottom - 1) -
                      (value - yMin) / (yMax - yMin) * static_cast<float>(plot.bottom - plot.top);
    return TruncateToInt(row);
}

inline int ClampedCurveRow(float value, float yMin, float yMax, const CPlotRect& plot,
                           int highest) {
    if (yMax == yMin)
        return plot.top + (plot.bottom - plot.top) / 2;
    const int row = ValueToRow(value, yMin, yMax, plot);
    if (row <= plot.top)
        return highest;
    if (row >= plot.bottom)
        return plot.bottom - 1;
    return row;
}

// Row where the curve starts: clamped to top .. bottom - 1; mid height when the range is flat.
inline int CurveStartRow(float value, float yMin, float yMax, const CPlotRect& plot) {
    return ClampedCurveRow(value, yMin, yMax, plot, plot.top);
}

// Row of a curve sample: clamped to top + 1 .. bottom - 1; mid height when the range is flat.
inline int CurveRow(float value, float yMin, float yMax, const CPlotRect& plot) {
    return ClampedCurveRow(value, yMin, yMax, plot, plot.top + 1);
}

// Column of a sample: the drawn samples fill the plot from left to right whatever the time
// range says; with no time span (one sample, equal times) the sample is at the left edge.
inline int SampleColumn(float time, float firstTime, float span, const CPlotRect& plot) {
    int x = plot.left;
    if (span != 0.0f) {
        const float fx = (time - firstTime) / span * static_cast<float>(plot.right - plot.left) +
                         static_cast<float>(plot.left);
        x = TruncateToInt(fx);
    }
    if (x > plot.right - 1)
        x = plot.right - 1;
    if (x < plot.left)
        x = plot.left; // only a NaN time or one out of order can land here
    return x;
}

// The four inner grid lines, one fifth of the plot apart (integer steps).
std::array<int, 4> GridColumns(const CPlotRect& plot);
std::array<int, 4> GridRows(const CPlotRect& plot);

// Row of an alarm level line, false when it is not drawn: a low line below yMin, a high line
// above yMax, a row outside top .. bottom, or a flat range (no defined row).
bool LowLevelRow(float level, float yMin, float yMax, const CPlotRect& plot, int& row);
bool HighLevelRow(float level, float yMin, float yMax, const CPlotRect& plot, int& row);

// Index of the last sample whose time is at or before `key` (0 when `key` precedes them all), by
// bisection over samples in time order. A key equal to the last sample's time finds that sample.
template <typename Samples> size_t FindSampleIndex(const Samples& samples, float key) {
    if (samples.empty())
        return 0;
    size_t lo = 0;
    size_t hi = samples.size() - 1;
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (mid == lo)
            return key >= samples[hi].fTime ? hi : lo;
        if (key < samples[mid].fTime)
            hi = mid;
        else if (key == samples[mid].fTime)
            return mid;
        else
            lo = mid;
    }
    return lo;
}

struct AxisLabel {
    int position; // row of a value label, column of a time label
    std::string text;
};

// Text of a value label: the value in its range with one decimal more than a reading, the prefix
// and the unit; "Out" and the unit beyond the table.
std::string ValueLabelText(float value, int firstRange, const std::string& unit);
// The six value labels: yMax at top, yMin at bottom, four between on the grid rows.
std::vector<AxisLabel> ValueLabels(float yMin, float yMax, const CPlotRect& plot, int firstRange,
                                   const std::string& unit);
// Which of the labels to draw so that none overlaps another (`gap` pixels apart at least), given
// their horizontal extents [first, last] in the order TimeLabels returns them: the two ends
// first, then the inner ones, each kept only where it fits. A narrow pane shows fewer times
// rather than a smudge of overlapping ones.
std::vector<size_t> LabelsThatFit(const std::vector<std::pair<int, int>>& extents, int gap);
// Wall-clock time of `seconds` after `start`, "%H:%M:%S" in local time.
std::string FormatTimeLabel(std::time_t start, int seconds);
// The six time labels: the minimum at left, the maximum at right, four between on the grid
// columns; seconds are truncated, never rounded.
std::vector<AxisLabel> TimeLabels(float xMin, float xMax, const CPlotRect& plot, std::time_t start);
