#include "render/Statistics.h"

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstdint>

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowTicks() {
    return static_cast<int64_t>(Clock::now().time_since_epoch().count());
}

} // namespace

CStatistics::CStatistics() : m_liStart(NowTicks()) {
    static const char* const kCommonLabels[] = {"Average Value:\r\n", "Maximum Value:\r\n",
                                                "Minimum Value:\r\n", "RMS Stability:\r\n",
                                                "PTP Stability:\r\n"};
    for (const char* label : kCommonLabels)
        m_strLabelsA += label;
    m_strLabelsB = m_strLabelsA + "Std Deviation:\r\n";
    m_strLabelsC =
        m_strLabelsA + "Repetition Rate:\r\n" + "Average Power:\r\n" + "Std Deviation:\r\n";
    m_strUnit = "W";
}

void CStatistics::Reset() {
    m_dMean = 0.0;
    m_nCount = 0;
    m_fStdDev = 0.0f;
    m_nStoppedSeconds = 0;
    m_fPtpStability = 0.0f;
    m_fRmsStability = 0.0f;
    m_dMeanOfSquares = 0.0;
    m_fMinimum = FLT_MAX;
    m_fMaximum = -FLT_MAX;
    m_liStart = NowTicks();
}

void CStatistics::AddSample(float value) {
    AddSamples(&value, &value + 1, [](float reading) { return reading; });
}

void CStatistics::UpdateDerived() {
    // Rounding can make the difference slightly negative when all readings are equal.
    m_fStdDev = static_cast<float>(std::sqrt(std::fabs(m_dMeanOfSquares - m_dMean * m_dMean)));
    // Both stabilities are relative to the running mean; a zero mean gives +inf or NaN.
    const float spread = m_fMaximum - m_fMinimum;
    m_fPtpStability = static_cast<float>(std::fabs(spread / m_dMean * 100.0));
    m_fRmsStability = static_cast<float>(std::fabs(m_fStdDev / m_dMean * 100.0));
    m_fAveragePower = static_cast<float>(m_fRepetitionRate * m_dMean);
}

float CStatistics::GetElapsedSeconds() const {
    if (!m_bEnabled)
        return static_cast<float>(m_nStoppedSeconds);
    constexpr double kTicksPerSecond =
        static_cast<double>(Clock::period::den) / static_cast<double>(Clock::period::num);
    // Subtracted as unsigned so that an odd start value written by an owner cannot overflow.
    const auto ticks =
        static_cast<int64_t>(static_cast<uint64_t>(NowTicks()) - static_cast<uint64_t>(m_liStart));
    return static_cast<float>(static_cast<double>(ticks) / kTicksPerSecond);
}
