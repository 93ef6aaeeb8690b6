#include "analysis/AnalysisRules.h"

#include "link/LocalTime.h"

#include <algorithm>
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

template <class Samples>
void Visible(CStatistics& stats, const Samples& samples, float xMin, float xMax) {
    stats.Reset();
    const auto earlier = [](const CGraphData& a, const CGraphData& b) { return a.fTime < b.fTime; };
    if (!std::is_sorted(samples.begin(), samples.end(), earlier)) {
        // Times that go back (a clock set back while recording): every sample is looked at.
        for (const CGraphData& sample : samples)
            if (sample.fTime >= xMin && sample.fTime <= xMax)
                stats.AddSample(sample.fValue);
        return;
    }
    const auto begin =
        std::lower_bound(samples.begin(), samples.end(), xMin,
                         [](const CGraphData& sample, float t) { return sample.fTime < t; });
    const auto end =
        std::upper_bound(begin, samples.end(), xMax,
                         [](float t, const CGraphData& sample) { return t < sample.fTime; });
    stats.AddSamples(begin, end, [](const CGraphData& sample) { return sample.fValue; });
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
