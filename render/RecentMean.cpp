#include "render/RecentMean.h"

#include <cmath>

void CRecentMean::Add(int64_t nowMs, float value) {
    if (std::isnan(value))
        return;
    m_readings.push_back({nowMs, value});
    while (m_readings.size() > kMaxReadings || nowMs - m_readings.front().ms > kWindowMs)
        m_readings.pop_front();
}

std::optional<double> CRecentMean::Mean(int64_t nowMs) const {
    double sum = 0;
    size_t count = 0;
    for (const Reading& reading : m_readings) {
        if (nowMs - reading.ms <= kWindowMs) {
            sum += reading.value;
            ++count;
        }
    }
    if (count == 0)
        return std::nullopt;
    return sum / static_cast<double>(count);
}

void CRecentMean::Clear() {
    m_readings.clear();
}
