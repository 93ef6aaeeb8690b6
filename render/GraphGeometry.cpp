#include "render/GraphGeometry.h"

#include "render/ValueFormat.h"

#include <climits>
#include <cmath>

namespace {

bool RowInPlot(int row, const CPlotRect& plot) {
    return row >= plot.top && row <= plot.bottom;
}

} // namespace

std::array<int, 4> GridColumns(const CPlotRect& plot) {
    const int step = (plot.right - plot.left) / 5;
    return {plot.left + step, plot.left + 2 * step, plot.left + 3 * step, plot.left + 4 * step};
}

std::array<int, 4> GridRows(const CPlotRect& plot) {
    const int step = (plot.bottom - plot.top) / 5;
    return {plot.top + step, plot.top + 2 * step, plot.top + 3 * step, plot.top + 4 * step};
}

bool LowLevelRow(float level, float yMin, float yMax, const CPlotRect& plot, int& row) {
    if (!(level >= yMin))
        return false;
    row = ValueToRow(level, yMin, yMax, plot);
    return yMax != yMin && RowInPlot(row, plot);
}

bool HighLevelRow(float level, float yMin, float yMax, const CPlotRect& plot, int& row) {
    if (!(level <= yMax))
        return false;
    row = ValueToRow(level, yMin, yMax, plot);
    return yMax != yMin && RowInPlot(row, plot);
}

std::string ValueLabelText(float value, int firstRange, const std::string& unit) {
    std::string text;
    FormatWithRange(text, FindRange(value, firstRange), value, 1);
    return text + unit;
}

std::vector<AxisLabel> ValueLabels(float yMin, float yMax, const CPlotRect& plot, int firstRange,
                                   const std::string& unit) {
    std::vector<AxisLabel> labels;
    labels.push_back({plot.top, ValueLabelText(yMax, firstRange, unit)});
    labels.push_back({plot.bottom, ValueLabelText(yMin, firstRange, unit)});
    const int step = (plot.bottom - plot.top) / 5;
    for (int i = 1; i <= 4; ++i) {
        const auto value = static_cast<float>(yMax - i * static_cast<double>(yMax - yMin) / 5.0);
        labels.push_back({plot.top + i * step, ValueLabelText(value, firstRange, unit)});
    }
    return labels;
}

std::string FormatTimeLabel(std::time_t start, int seconds) {
    const std::time_t when = start + seconds;
    std::tm local{};
    char text[32] = {};
#ifdef _WIN32
    if (localtime_s(&local, &when) != 0)
        return "--:--:--";
#else
    if (!localtime_r(&when, &local))
        return "--:--:--";
#endif
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::vector<AxisLabel> TimeLabels(float xMin, float xMax, const CPlotRect& plot,
                                  std::time_t start) {
    std::vector<AxisLabel> labels;
    labels.push_back({plot.left, FormatTimeLabel(start, TruncateToInt(xMin))});
    labels.push_back({plot.right, FormatTimeLabel(start, TruncateToInt(xMax))});
    const int step = (plot.right - plot.left) / 5;
    for (int i = 1; i <= 4; ++i) {
        const double seconds = i * static_cast<double>(xMax - xMin) / 5.0 + xMin;
        labels.push_back({plot.left + i * step, FormatTimeLabel(start, TruncateToInt(seconds))});
    }
    return labels;
}

std::vector<size_t> LabelsThatFit(const std::vector<std::pair<int, int>>& extents, int gap) {
    std::vector<size_t> kept;
    const auto clear = [&](size_t candidate) {
        for (size_t k : kept) {
            if (extents[candidate].first <= extents[k].second + gap &&
                extents[k].first <= extents[candidate].second + gap)
                return false;
        }
        return true;
    };
    for (size_t i = 0; i < extents.size(); ++i)
        if (clear(i))
            kept.push_back(i);
    return kept;
}
