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
    // The figures a reading changes, held apart while a run is counted so that they stay in
    // registers.
    struct CRunning {
        int32_t count;
        double mean;
        double meanOfSquares;
        float minimum;
        float maximum;
        float current;

        void Add(float reading) {
            // The count stops at its maximum rather than overflowing; the means then carry on
            // as moving averages with a weight of 1 / INT32_MAX, which changes nothing visible.
            if (count < INT32_MAX)
                ++count;
            const double n = count;
            const double v = reading;
            current = reading;
            // Incremental means (the previous mean weighted by n - 1) rather than sums over n.
            mean = ((n - 1.0) * mean + v) / n;
            // Strict comparisons: equal readings leave the extremes alone, a NaN changes neither.
            if (minimum > reading)
                minimum = reading;
            if (maximum < reading)
                maximum = reading;
            meanOfSquares = ((n - 1.0) * meanOfSquares + v * v) / n;
        }
    };
    CRunning Running() const {
        return {m_nCount, m_dMean, m_dMeanOfSquares, m_fMinimum, m_fMaximum, m_fCurrent};
    }
    void Keep(const CRunning& running) {
        m_nCount = running.count;
        m_dMean = running.mean;
        m_dMeanOfSquares = running.meanOfSquares;
        m_fMinimum = running.minimum;
        m_fMaximum = running.maximum;
        m_fCurrent = running.current;
    }

    void UpdateDerived();
};

template <class Iterator, class Value>
void CStatistics::AddSamples(Iterator first, Iterator last, Value value) {
    if (!m_bEnabled || first == last)
        return;
    CRunning running = Running();
    for (; first != last; ++first)
        running.Add(value(*first));
    Keep(running);
    UpdateDerived();
}

template <size_t K, class Iterator, class Value>
void CStatistics::AddSamplesSideBySide(const std::array<CStatistics*, K>& stats,
                                       const std::array<Iterator, K>& first,
                                       const std::array<Iterator, K>& last, Value value) {
    // Side by side over the length all runs have, then each on its own.
    auto common = last[0] - first[0];
    bool enabled = true;
    for (size_t k = 0; k < K; ++k) {
        common = std::min(common, last[k] - first[k]);
        enabled = enabled && stats[k]->m_bEnabled;
    }
    if (!enabled || common <= 0) {
        for (size_t k = 0; k < K; ++k)
            stats[k]->AddSamples(first[k], last[k], value);
        return;
    }
    std::array<CRunning, K> lanes;
    for (size_t k = 0; k < K; ++k)
        lanes[k] = stats[k]->Running();
    for (decltype(common) i = 0; i < common; ++i)
        for (size_t k = 0; k < K; ++k)
            lanes[k].Add(value(first[k][i]));
    for (size_t k = 0; k < K; ++k) {
        stats[k]->Keep(lanes[k]);
        if (first[k] + common == last[k])
            stats[k]->UpdateDerived();
        else
            stats[k]->AddSamples(first[k] + common, last[k], value);
    }
}
