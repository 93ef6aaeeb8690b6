#pragma once
// Draws one series of readings into a plot rectangle of any paint device: frame, dotted grid,
// alarm level lines, the curve, value labels on the left and wall-clock time labels below.
// The owner fills the samples, ranges and flags directly and calls Draw from its paint code
// with a painter on an off-screen image. It keeps no window and takes no lock.
//
// The data side (samples, ranges, AutoScaleY, ResetData) needs no Qt and is part of the core, so
// that a channel can keep its graph without a window; Draw is in the GUI library.

#include "render/GraphGeometry.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

class CTextCache;
class QPainter;

class CGraphRenderer {
public:
    bool m_bAutoScaleY = true; // AutoScaleY takes the value range from the samples
    bool m_bAutoScaleX = true; // the time range is that of the first and last sample
    float m_fYMax = 1.0f;
    float m_fYMin = 0.0f;
    float m_fXMax = 10.0f;
    float m_fXMin = 0.0f;
    float m_fDataXMax = 0.0f; // time extent of the whole data set, for the owner's scrolling
    float m_fDataXMin = 0.0f;
    // Samples in time order; a deque so that owners can drop the oldest in constant time.
    std::deque<CGraphData> m_points;
    int32_t m_nPointCount = 0; // samples published; at 0 only frame, grid and levels are drawn
    float m_fXWidth = 200.0f;  // visible time window, for the owner's scrolling
    CPlotRect m_rcPlot;        // labels are drawn outside it
    int32_t m_nCursorX = 0;    // cursor column; 0 draws no cursor
    CPlotPoint m_ptCursor;     // sample under the cursor, found while drawing
    float m_fCursorTime = 0.0f;
    float m_fCursorValue = 0.0f;
    std::string m_strUnit = "W";
    int32_t m_nFirstRange = 0;  // lowest range of the value labels; negative hides them
    bool m_bTimeWindow = false; // draw only the samples between m_fXMin and m_fXMax
    bool m_bAbortDraw = false;  // stops the curve early (set by the owner on resize)
    bool m_bLoading = false;    // show "Loading File..." instead of the graph
    bool m_bShowLevelLow = false;
    bool m_bShowLevelHigh = false;
    float m_fLevelHighLine = 0.0f;
    float m_fLevelLowLine = 0.0f;
    std::time_t m_timeStart = 0; // calendar time of sample time 0
    // Draw at most four points per pixel column (the same picture, see DrawCurve); false draws
    // every sample, for comparing the two.
    bool m_bReduceColumns = true;

    // Paints everything with the painter's current pen and brush for the frame and its current
    // font and text colour for the labels.
    void Draw(QPainter& painter);
    // The same, its labels laid out once in `texts` and taken from there at the next paints.
    void Draw(QPainter& painter, CTextCache& texts);
    // With m_bAutoScaleY: the value range becomes the smallest and largest sample value.
    void AutoScaleY();
    // New series: the time origin is now, the samples are gone and their storage freed.
    void ResetData();
    void FormatTimeLabel(std::string& out, int seconds) const;
    size_t FindSampleIndex(float key) const { return ::FindSampleIndex(m_points, key); }

private:
    void DrawFrameAndGrid(QPainter& painter) const;
    void DrawLevelLines(QPainter& painter) const;
    void DrawCurve(QPainter& painter);
    void DrawCursor(QPainter& painter, CTextCache& texts) const;
    void DrawTimeLabels(QPainter& painter, CTextCache& texts) const;
    void DrawValueLabels(QPainter& painter, CTextCache& texts) const;
};
