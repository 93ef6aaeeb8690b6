#include "render/PeakHold.h"

#include "render/ValueFormat.h"

#include <algorithm>
#include <cmath>

void CPeakHold::Add(float value) {
    if (std::isnan(value))
        return;
    if (!m_bHasPeak || value > m_fPeak)
        m_fPeak = value;
    m_bHasPeak = true;
}

float CPeakHold::FullScale() const {
    return FindRange(m_bHasPeak ? m_fPeak : 0.0f, 0).fFullScale;
}

float CPeakHold::Fraction(float value) const {
    if (std::isnan(value))
        return 0.0f;
    return std::clamp(value / FullScale(), 0.0f, 1.0f);
}
