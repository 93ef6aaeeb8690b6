#pragma once
// The rules of the post-analysis window that are plain arithmetic, shared with kelvarin-cli
// analyze: the pixel-to-value mapping of a zoom box, the wheel steps, the statistics of what is
// visible, and the texts of the time range dialog.

#include "render/GraphGeometry.h"
#include "render/Statistics.h"

#include <ctime>
#include <deque>
#include <string>
#include <vector>

// A visible range: time in seconds after the file's start, value in W.
struct CViewRange {
    float xMin = 0.0f;
    float xMax = 10.0f;
    float yMin = 0.0f;
    float yMax = 1.0f;
};

// Time and value of a pixel inside the plot: time(x) = xMin + (x - left) / (right - left) * (xMax
// - xMin); value(y) = yMin + (bottom - y - 1) / (bottom - top) * (yMax - yMin). The bottom row
// maps exactly to yMin.
float TimeAtPixel(int x, const CPlotRect& plot, const CViewRange& view);
float ValueAtPixel(int y, const CPlotRect& plot, const CViewRange& view);

// The range a box dragged from `press` to `release` shows, taken from `view`. The corners are put
// in order whichever way the box was dragged. False, with `view` unchanged, for a box without
// width or height (a click, or a drag along one line): it would show an empty range.
bool ZoomToBox(int pressX, int pressY, int releaseX, int releaseY, const CPlotRect& plot,
               CViewRange& view);

// One wheel step on the value axis: 10 % of the width off each end (zoom in) or onto it (out).
void WheelValueStep(CViewRange& view, bool zoomOut);
// One Shift+wheel step on the time axis: 10 % of the width (never less than 0.001 s) on or off
// each end, then kept inside the data [first, last]. A zoom in that would leave less than 0.001 s
// is not made. Returns the new width (what the window keeps as its time span).
float WheelTimeStep(CViewRange& view, float first, float last, bool zoomOut);

// The statistics of the samples whose time lies in [xMin, xMax], bounds included (the value range
// plays no part); samples are in time order.
void VisibleStatistics(CStatistics& stats, const std::deque<CGraphData>& samples, float xMin,
                       float xMax);
void VisibleStatistics(CStatistics& stats, const std::vector<CGraphData>& samples, float xMin,
                       float xMax);
// VisibleStatistics of up to four channels, each over its own range [from, to], worked out side by
// side: the same figures as one by one, in about the time of one.
struct CVisibleRun {
    CStatistics* stats;
    const std::vector<CGraphData>* samples;
    float from;
    float to;
};
void VisibleStatisticsSideBySide(const std::vector<CVisibleRun>& runs);

// Time range dialog: the date-time of `start` + `seconds` (truncated to whole seconds) as
// "%Y-%m-%d:%H:%M:%S", local time.
std::string RangeTimeText(std::time_t start, float seconds);
// Reads "%d-%d-%d:%d:%d:%d" (year, month, day, hour, minute, second; no leading zeros needed) as
// a local date-time. False for fewer than six numbers or a date that is not valid (year before
// 1900, month, day, hour, minute or second out of range, or refused by the calendar).
bool ParseRangeTime(const std::string& text, std::time_t& t);

// The dialog's OK, one bound after the other, each with the message to show when it is refused
// (a refused bound keeps its value). The minimum must lie at or after the start and not after
// the maximum held when the dialog opened; the maximum at or after the start and not before the
// minimum, so the range can be widened as well as narrowed. True when the bound was taken.
bool ApplyRangeMinimum(const std::string& text, std::time_t start, float timeMax, float& timeMin,
                       std::vector<std::string>& messages);
bool ApplyRangeMaximum(const std::string& text, std::time_t start, float timeMin, float& timeMax,
                       std::vector<std::string>& messages);
