// The data side of the graph: its samples, their value range and time origin. No Qt here: a
// channel keeps its graph in the core and the pane draws a copy of it.

#include "render/GraphRenderer.h"

#include <cfloat>

void CGraphRenderer::AutoScaleY() {
    if (!m_bAutoScaleY)
        return;
    float high = -FLT_MAX;
    float low = FLT_MAX;
    for (const CGraphData& sample : m_points) {
        if (sample.fValue > high)
            high = sample.fValue;
        if (sample.fValue < low)
            low = sample.fValue;
    }
    m_fYMax = high;
    m_fYMin = low;
}

void CGraphRenderer::ResetData() {
    m_timeStart = std::time(nullptr);
    std::deque<CGraphData>().swap(m_points);
    m_nPointCount = 0;
}

void CGraphRenderer::FormatTimeLabel(std::string& out, int seconds) const {
    out = ::FormatTimeLabel(m_timeStart, seconds);
}
