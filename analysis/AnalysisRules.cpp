#include "analysis/AnalysisRules.h"

#include "link/LocalTime.h"
#include "link/VectorState.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

float TimeAtPixel(int x, const CPlotRect& plot, const CViewRange& view) {
    const float width = view.xMax - view.xMin;
    return view.xMin +
           static_cast<float>(x - plot.left) / static_cast<float>(plot.right - plot.left) * width;
}

float ValueAtPixel(int y, const CPlotRect& plot, const CViewRange& view) {
    const float height = view.yMax - view.yMin;
    return view.yMin + static_cast<float>(plot.bottom - y - 1) /
                           static_cast<float>(plot.bottom - plot.top) * height;
}

bool ZoomToBox(int pressX, int pressY, int releaseX, int releaseY, const CPlotRect& plot,
               CViewRange& view) {
    if (pressX == releaseX || pressY == releaseY)
        return false;
    const CViewRange before = view;
    view.xMin = TimeAtPixel(std::min(pressX, releaseX), plot, before);
    view.xMax = TimeAtPixel(std::max(pressX, releaseX), plot, before);
    view.yMax = ValueAtPixel(std::min(pressY, releaseY), plot, before);
    view.yMin = ValueAtPixel(std::max(pressY, releaseY), plot, before);
    if (!(view.xMin < view.xMax) || !(view.yMin < view.yMax)) {
        view = before; // too narrow for a float to tell the ends apart
        return false;
    }
    return true;
}

void WheelValueStep(CViewRange& view, bool zoomOut) {
    const float d = (view.yMax - view.yMin) / 10.0f;
    if (zoomOut) {
        view.yMax += d;
        view.yMin -= d;
    } else {
        view.yMax -= d;
        view.yMin += d;
    }
}

float WheelTimeStep(CViewRange& view, float first, float last, bool zoomOut) {
    float d = (view.xMax - view.xMin) / 10.0f;
    if (d < 0.001f)
        d = 0.001f;
    CViewRange next = view;
    if (zoomOut) {
        next.xMax += d;
        next.xMin -= d;
    } else {
        next.xMax -= d;
        next.xMin += d;
    }
    const float w = next.xMax - next.xMin;
    if (!zoomOut && w < 0.001f)
        return view.xMax - view.xMin; // no narrower than a thousandth of a second
    if (first > next.xMin)
        next.xMin = first;
    if (last < next.xMin + w)
        next.xMax = last;
    if (first > next.xMax - w)
        next.xMin = first;
    if (last < next.xMax)
        next.xMax = last;
    view = next;
    return w;
}

namespace {

float ValueOf(const CGraphData& sample) {
    return sample.fValue;
}

// The samples of [xMin, xMax] of samples in time order (false: times that go back).
template <class Samples>
bool VisibleRun(const Samples& samples, float xMin, float xMax,
                typename Samples::const_iterator& begin, typename Samples::const_iterator& end) {
    const auto earlier = [](const CGraphData& a, const CGraphData& b) { return a.fTime < b.fTime; };
    if (!std::is_sorted(samples.begin(), samples.end(), earlier))
        return false;
    begin = std::lower_bound(samples.begin(), samples.end(), xMin,
                             [](const CGraphData& sample, float t) { return sample.fTime < t; });
    end = std::upper_bound(begin, samples.end(), xMax,
                           [](float t, const CGraphData& sample) { return t < sample.fTime; });
    return true;
}

template <class Samples>
void Visible(CStatistics& stats, const Samples& samples, float xMin, float xMax) {
    ClearUpperVectorHalves();
    stats.Reset();
    typename Samples::const_iterator begin, end;
    if (!VisibleRun(samples, xMin, xMax, begin, end)) {
        // Times that go back (a clock set back while recording): every sample is looked at.
        for (const CGraphData& sample : samples)
            if (sample.fTime >= xMin && sample.fTime <= xMax)
                stats.AddSample(sample.fValue);
        return;
    }
    stats.AddSamples(begin, end, ValueOf);
}

template <size_t K> void SideBySide(const std::vector<CVisibleRun>& runs) {
    ClearUpperVectorHalves();
    using Iterator = std::vector<CGraphData>::const_iterator;
    std::array<CStatistics*, K> stats{};
    std::array<Iterator, K> begin{}, end{};
    for (size_t k = 0; k < K; ++k) {
        stats[k] = runs[k].stats;
        stats[k]->Reset();
        if (!VisibleRun(*runs[k].samples, runs[k].from, runs[k].to, begin[k], end[k])) {
            for (const CVisibleRun& run : runs)
                Visible(*run.stats, *run.samples, run.from, run.to);
            return;
        }
    }
    CStatistics::AddSamplesSideBySide(stats, begin, end, ValueOf);
}

} // namespace

void VisibleStatistics(CStatistics& stats, const std::deque<CGraphData>& samples, float xMin,
                       float xMax) {
    Visible(stats, samples, xMin, xMax);
}

void VisibleStatistics(CStatistics& stats, const std::vector<CGraphData>& samples, float xMin,
                       float xMax) {
    Visible(stats, samples, xMin, xMax);
}

void VisibleStatisticsSideBySide(const std::vector<CVisibleRun>& runs) {
    switch (runs.size()) {
    case 2:
        return SideBySide<2>(runs);
    case 3:
        return SideBySide<3>(runs);
    case 4:
        return SideBySide<4>(runs);
    default:
        for (const CVisibleRun& run : runs)
            Visible(*run.stats, *run.samples, run.from, run.to);
    }
}

std::string RangeTimeText(std::time_t start, float seconds) {
    const double whole = std::isfinite(seconds) ? std::trunc(static_cast<double>(seconds)) : 0.0;
    const std::time_t t = start + static_cast<std::time_t>(std::clamp(whole, -1e15, 1e15));
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d:%H:%M:%S", &local);
    return std::string(text, n);
}

bool ParseRangeTime(const std::string& text, std::time_t& t) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d:%d:%d:%d", &year, &month, &day, &hour, &minute,
                    &second) != 6)
        return false;
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    return LocalTimeFromFields(year, month, day, hour, minute, second, t);
}

bool ApplyRangeMinimum(const std::string& text, std::time_t start, float timeMax, float& timeMin,
                       std::vector<std::string>& messages) {
    std::time_t t = 0;
    if (!ParseRangeTime(text, t)) {
        messages.emplace_back("Minimum Time value should be enter like: yyyy-mm-dd:hh:mm:ss");
        return false;
    }
    const double d = std::difftime(t, start);
    if (d < 0 || static_cast<float>(d) > timeMax) {
        messages.emplace_back("Minimum Time not valid");
        return false;
    }
    timeMin = static_cast<float>(d);
    return true;
}

bool ApplyRangeMaximum(const std::string& text, std::time_t start, float timeMin, float& timeMax,
                       std::vector<std::string>& messages) {
    std::time_t t = 0;
    if (!ParseRangeTime(text, t)) {
        messages.emplace_back("Maximum Time value should be enter like: yyyy-mm-dd:hh:mm:ss");
        return false;
    }
    const double d = std::difftime(t, start);
    if (d < 0 || static_cast<float>(d) < timeMin) {
        messages.emplace_back("Invalid Maximum Time Value");
        return false;
    }
    timeMax = static_cast<float>(d);
    return true;
}
