#pragma once
// Running statistics of one channel's readings, updated one reading at a time in constant time
// and memory so that a meter can be followed for hours without keeping its readings.
//
// The object takes no lock: a channel's polling thread adds readings while the UI thread reads
// and resets, so owners serialise access where a consistent snapshot matters.

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <string>

class QPainter;

class CStatistics {
public:
    CStatistics();

    // Starts a new accumulation period and restarts the elapsed-time clock. The extremes take
    // sentinels (+-FLT_MAX) that the first counted reading replaces.
    void Reset();

    // Counts one reading while enabled; does nothing at all while disabled. Divisions by a zero
    // mean follow IEEE arithmetic: the stabilities become +inf, or NaN when 0 / 0.
    void AddSample(float value);

    // Counts a run of readings (`value(*it)` of each): the same figures as AddSample for each in
    // turn, with the derived ones (deviation, stabilities) worked out once at the end.
    template <class Iterator, class Value>
    void AddSamples(Iterator first, Iterator last, Value value);

    // AddSamples for K statistics at once, each with its own run (random-access iterators): the
    // same figures for each, but their divisions overlap, so four take little longer than one.
    template <size_t K, class Iterator, class Value>
    static void AddSamplesSideBySide(const std::array<CStatistics*, K>& stats,
                                     const std::array<Iterator, K>& first,
                                     const std::array<Iterator, K>& last, Value value);

    // Seconds since the last reset (or construction) while enabled; m_nStoppedSeconds otherwise.
    float GetElapsedSeconds() const;

    // The post-analysis window's panel: six rows of label and value at x = 655, y = 87 + 20 k,
    // in black on the painter's current font. Drawn by the GUI library (StatisticsPanel.cpp);
    // the texts are StatisticsPanelLines, kept in the display texts below.
    void DrawStatisticsPanel(QPainter& painter);

    float m_fCurrent = 0.0f;
    double m_dMean = 0.0;
    double m_dMeanOfSquares = 0.0;
    float m_fMaximum = 0.0f;
    float m_fMinimum = 0.0f; // construction leaves 0 here, not the sentinel: owners Reset first
    float m_fStdDev = 0.0f;  // population form (divisor n)
    float m_fPtpStability = 0.0f;   // percent of the mean
    float m_fRmsStability = 0.0f;   // percent of the mean
    float m_fAveragePower = 0.0f;   // m_fRepetitionRate times the mean
    float m_fRepetitionRate = 0.0f; // Hz, an input for the statistics panel
    bool m_bEnabled = false;
    int32_t m_nMode = 1;
    int32_t m_nCount = 0;
    bool m_bPanelLayout = true;
    int32_t m_nExtraDecimals = 0;
    int32_t m_nStoppedSeconds = 0;
    int64_t m_liStart = 0; // std::chrono::steady_clock ticks

    // Display texts of the statistics panel, which fills all but the label blocks and the unit.
    std::string m_strScratch;
    std::string m_strPoints;
    std::string m_strLabelsA;
    std::string m_strLabelsB;
    std::string m_strLabelsC;
    std::string m_strMean;
    std::string m_strMinimum;
    std::string m_strMaximum;
    std::string m_strCurrent;
    std::string m_strPtpStability;
    std::string m_strRmsStability;
    std::string m_strStdDev;
    std::string m_strElapsed;
    std::string m_strAveragePower;
    std::string m_strRepetitionRate;
    std::string m_strUnit;

private:
    void UpdateDerived();
};

template <class Iterator, class Value>
void CStatistics::AddSamples(Iterator first, Iterator last, Value value) {
    if (!m_bEnabled || first == last)
        return;
    int32_t count = m_nCount;
    double mean = m_dMean;
    double meanOfSquares = m_dMeanOfSquares;
    float minimum = m_fMinimum;
    float maximum = m_fMaximum;
    float current = m_fCurrent;
    for (; first != last; ++first) {
        const float reading = value(*first);
        // The count stops at its maximum rather than overflowing; the means then carry on as
        // moving averages with a weight of 1 / INT32_MAX, which changes nothing visible.
        if (count < INT32_MAX)
            ++count;
        const double n = count;
        const double v = reading;
        current = reading;
        // Incremental means (the previous mean weighted by n - 1) rather than sums divided by n.
        mean = ((n - 1.0) * mean + v) / n;
        // Strict comparisons: equal readings leave the extremes alone, a NaN changes neither.
        if (minimum > reading)
            minimum = reading;
        if (maximum < reading)
            maximum = reading;
        meanOfSquares = ((n - 1.0) * meanOfSquares + v * v) / n;
    }
    m_nCount = count;
    m_dMean = mean;
    m_dMeanOfSquares = meanOfSquares;
    m_fMinimum = minimum;
    m_fMaximum = maximum;
    m_fCurrent = current;
    UpdateDerived();
}

template <size_t K, class Iterator, class Value>
void CStatistics::AddSamplesSideBySide(const std::array<CStatistics*, K>& stats,
                                       const std::array<Iterator, K>& first,
                                       const std::array<Iterator, K>& last, Value value) {
    // Side by side over the length all runs have, while no count can reach its maximum.
    auto common = last[0] - first[0];
    bool together = true;
    for (size_t k = 0; k < K; ++k) {
        common = std::min(common, last[k] - first[k]);
        together = together && stats[k]->m_bEnabled &&
                   stats[k]->m_nCount < INT32_MAX - (last[k] - first[k]);
    }
    if (!together || common <= 0) {
        for (size_t k = 0; k < K; ++k)
            stats[k]->AddSamples(first[k], last[k], value);
        return;
    }
    int32_t count[K];
    double mean[K], meanOfSquares[K];
    float minimum[K], maximum[K], current[K];
    for (size_t k = 0; k < K; ++k) {
        count[k] = stats[k]->m_nCount;
        mean[k] = stats[k]->m_dMean;
        meanOfSquares[k] = stats[k]->m_dMeanOfSquares;
        minimum[k] = stats[k]->m_fMinimum;
        maximum[k] = stats[k]->m_fMaximum;
        current[k] = stats[k]->m_fCurrent;
    }
    for (decltype(common) i = 0; i < common; ++i) {
        for (size_t k = 0; k < K; ++k) {
            // AddSamples' steps, one lane per statistics.
            const float reading = value(first[k][i]);
            const double n = ++count[k];
            const double v = reading;
            current[k] = reading;
            mean[k] = ((n - 1.0) * mean[k] + v) / n;
            if (minimum[k] > reading)
                minimum[k] = reading;
            if (maximum[k] < reading)
                maximum[k] = reading;
            meanOfSquares[k] = ((n - 1.0) * meanOfSquares[k] + v * v) / n;
        }
    }
    for (size_t k = 0; k < K; ++k) {
        CStatistics& lane = *stats[k];
        lane.m_nCount = count[k];
        lane.m_dMean = mean[k];
        lane.m_dMeanOfSquares = meanOfSquares[k];
        lane.m_fMinimum = minimum[k];
        lane.m_fMaximum = maximum[k];
        lane.m_fCurrent = current[k];
        if (first[k] + common == last[k])
            lane.UpdateDerived();
        else
            lane.AddSamples(first[k] + common, last[k], value);
    }
}
