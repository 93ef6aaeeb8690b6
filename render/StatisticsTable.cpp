#include "render/StatisticsTable.h"

#include "render/ValueFormat.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

std::string PowerText(float value) {
    std::string text;
    FormatWithRange(text, FindRange(value, 0), value, 1);
    text += 'W'; // directly, so an out-of-range value reads "OutW"
    return text;
}

std::string PercentText(float value) {
    std::string text;
    FormatPercent(text, value);
    text += " %";
    return text;
}

// Truncation toward zero that saturates instead of being undefined for NaN and for values
// beyond the range of int (a clock that reads garbage must not take the display down).
int32_t TruncateSaturating(float value) {
    if (std::isnan(value))
        return 0;
    constexpr float kUpper = 2147483648.0f; // 2^31, exactly representable
    if (value >= kUpper)
        return std::numeric_limits<int32_t>::max();
    if (value < -kUpper)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::string SecondsText(float seconds) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, TruncateSaturating(seconds));
    return std::string(buffer, result.ptr) + " seconds";
}

} // namespace

std::vector<std::pair<std::string, std::string>> StatisticsTableLines(const CStatistics& stats,
                                                                      float currentValue) {
    return {
        {"Current Value:", PowerText(currentValue)},
        {"Maximum:", PowerText(stats.m_fMaximum)},
        {"Minimum:", PowerText(stats.m_fMinimum)},
        {"Average:", PowerText(static_cast<float>(stats.m_dMean))},
        {"Std Dev:", PowerText(stats.m_fStdDev)},
        {"RMS Stability:", PercentText(stats.m_fRmsStability)},
        {"PTP Stability:", PercentText(stats.m_fPtpStability)},
        {"Time:", SecondsText(stats.GetElapsedSeconds())},
    };
}

std::vector<std::pair<std::string, std::string>> StatisticsPanelLines(const CStatistics& stats,
                                                                      const std::string& unit) {
    const auto power = [&](float value) {
        std::string text;
        FormatValue(text, value, stats.m_nExtraDecimals);
        return text == "Out" ? text : text + unit;
    };
    const auto percent = [](float value) {
        std::string text;
        FormatPercent(text, value);
        return text == "Out" ? text : text + " %";
    };
    return {
        {"Average: ", power(static_cast<float>(stats.m_dMean))},
        {"Maximum: ", power(stats.m_fMaximum)},
        {"Minimum:", power(stats.m_fMinimum)},
        {"RMS Stability: ", percent(stats.m_fRmsStability)},
        {"PTP Stability: ", percent(stats.m_fPtpStability)},
        {"Std Dev: ", power(stats.m_fStdDev)},
    };
}
