#include "render/Statistics.h"
#include "render/StatisticsTable.h"

#include <gtest/gtest.h>

#include <random>

#include <cstring>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

CStatistics Counting(std::initializer_list<float> readings) {
    CStatistics stats;
    stats.Reset();
    stats.m_bEnabled = true;
    for (float v : readings)
        stats.AddSample(v);
    return stats;
}

TEST(Statistics, DisabledObjectIgnoresReadingsAndReportsNoTime) {
    CStatistics stats;
    stats.Reset();
    stats.AddSample(5.0f);
    EXPECT_EQ(stats.m_nCount, 0);
    EXPECT_EQ(stats.m_fCurrent, 0.0f);
    EXPECT_EQ(stats.m_dMean, 0.0);
    EXPECT_EQ(stats.m_fMinimum, FLT_MAX);
    EXPECT_EQ(stats.m_fMaximum, -FLT_MAX);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(stats.GetElapsedSeconds(), 0.0f);
}

TEST(Statistics, OneTwoThree) {
    const CStatistics stats = Counting({1.0f, 2.0f, 3.0f});
    EXPECT_EQ(stats.m_nCount, 3);
    EXPECT_EQ(stats.m_fCurrent, 3.0f);
    EXPECT_DOUBLE_EQ(stats.m_dMean, 2.0);
    EXPECT_DOUBLE_EQ(stats.m_dMeanOfSquares, 14.0 / 3.0);
    EXPECT_EQ(stats.m_fMinimum, 1.0f);
    EXPECT_EQ(stats.m_fMaximum, 3.0f);
    EXPECT_FLOAT_EQ(stats.m_fStdDev, static_cast<float>(std::sqrt(2.0 / 3.0)));
    EXPECT_FLOAT_EQ(stats.m_fPtpStability, 100.0f);
    EXPECT_NEAR(stats.m_fRmsStability, 40.82f, 0.005f);

    // A negative mean still gives positive stabilities; one reading has no spread.
    const CStatistics negative = Counting({-1.0f, -2.0f, -3.0f});
    EXPECT_FLOAT_EQ(negative.m_fPtpStability, 100.0f);
    EXPECT_NEAR(negative.m_fRmsStability, 40.82f, 0.005f);
    const CStatistics single = Counting({5.0f});
    EXPECT_EQ(single.m_fStdDev + single.m_fPtpStability + single.m_fRmsStability, 0.0f);
}

TEST(Statistics, ZeroMeanGivesNaNOrInfiniteStabilitiesAndRecovers) {
    const CStatistics zero = Counting({0.0f});
    EXPECT_TRUE(std::isnan(zero.m_fPtpStability));
    EXPECT_TRUE(std::isnan(zero.m_fRmsStability));

    CStatistics cancel = Counting({-1.0f, 1.0f});
    EXPECT_EQ(cancel.m_dMean, 0.0);
    EXPECT_EQ(cancel.m_fStdDev, 1.0f);
    EXPECT_EQ(cancel.m_fPtpStability, kInf);
    EXPECT_EQ(cancel.m_fRmsStability, kInf);
    cancel.AddSample(3.0f); // mean 1
    EXPECT_FLOAT_EQ(cancel.m_fPtpStability, 400.0f);
    EXPECT_TRUE(std::isfinite(cancel.m_fRmsStability));
}

TEST(Statistics, ExtremesIgnoreEqualReadingsAndNaN) {
    CStatistics stats = Counting({0.0f, -0.0f});
    // -0 equals +0: a strict comparison keeps the first one.
    EXPECT_FALSE(std::signbit(stats.m_fMinimum));
    EXPECT_FALSE(std::signbit(stats.m_fMaximum));
    stats.AddSample(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(stats.m_fMinimum, 0.0f);
    EXPECT_EQ(stats.m_fMaximum, 0.0f);
    EXPECT_EQ(stats.m_nCount, 3);
}

TEST(Statistics, EqualReadingsNeverGiveANaNDeviation) {
    // Rounding leaves the mean of squares just below the squared mean about half the time.
    CStatistics stats = Counting({});
    int nanCount = 0;
    for (int i = 0; i < 1000; ++i) {
        stats.AddSample(0.1f);
        nanCount += std::isnan(stats.m_fStdDev) || !(stats.m_fRmsStability < 1e-3f);
    }
    EXPECT_EQ(nanCount, 0);
}

TEST(Statistics, ResetStartsAgainButKeepsCurrentAndEnabled) {
    CStatistics stats = Counting({1.0f, 2.0f, 4.0f});
    stats.Reset();
    EXPECT_EQ(stats.m_nCount, 0);
    EXPECT_EQ(stats.m_fMinimum, FLT_MAX);
    EXPECT_EQ(stats.m_fMaximum, -FLT_MAX);
    EXPECT_EQ(stats.m_fCurrent, 4.0f);
    stats.AddSample(7.0f);
    EXPECT_EQ(stats.m_dMean, 7.0);
    EXPECT_EQ(stats.m_fMinimum, 7.0f);
}

TEST(Statistics, ElapsedTimeGrowsFromEachReset) {
    CStatistics stats = Counting({});
    // Long enough that the reset below is seen to restart the clock even on a busy machine.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const float before = stats.GetElapsedSeconds();
    EXPECT_GE(before, 0.29f);
    EXPECT_LT(before, 5.0f);
    stats.Reset();
    EXPECT_LT(stats.GetElapsedSeconds(), before);
    EXPECT_GE(stats.GetElapsedSeconds(), 0.0f);
}

TEST(StatisticsTable, ShowsTheEightLinesOfAKnownState) {
    CStatistics stats = Counting({0.001f, 0.002f, 0.003f});
    using Lines = std::vector<std::pair<std::string, std::string>>;
    const Lines expected = {
        {"Current Value:", "2.500 mW"}, {"Maximum:", "3.000 mW"},  {"Minimum:", "1.000 mW"},
        {"Average:", "2.000 mW"},       {"Std Dev:", "0.8165 mW"}, {"RMS Stability:", "40.82 %"},
        {"PTP Stability:", "100.00 %"}, {"Time:", "0 seconds"},
    };
    // 0.003f - 0.001f is a little under 0.002 in float, so PTP lands just below 100 and keeps
    // two decimals. Disabled, the elapsed time reads 0 seconds.
    stats.m_bEnabled = false;
    EXPECT_EQ(StatisticsTableLines(stats, 0.0025f), expected);
}

TEST(StatisticsTable, ShowsSentinelsAfterResetAsOut) {
    CStatistics stats;
    stats.Reset();
    const auto lines = StatisticsTableLines(stats, 0.0f);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0].second, "0.0000 pW");
    EXPECT_EQ(lines[1].second, "OutW");
    EXPECT_EQ(lines[2].second, "OutW");
    EXPECT_EQ(lines[5].second, "0.0000 %");
    EXPECT_EQ(lines[7].second, "0 seconds");
    // A single zero reading: both stabilities are NaN.
    stats.m_bEnabled = true;
    stats.AddSample(0.0f);
    EXPECT_EQ(StatisticsTableLines(stats, 0.0f)[5].second, "Out %");
    EXPECT_EQ(StatisticsTableLines(stats, 0.0f)[6].second, "Out %");
}

} // namespace

TEST(Statistics, ARunOfReadingsCountsAsEachInTurn) {
    std::mt19937 random(9);
    std::normal_distribution<float> noise(1e-3f, 1e-5f);
    std::vector<float> readings(5000);
    for (float& r : readings)
        r = noise(random);
    readings[100] = NAN; // a NaN changes no extreme, but the means
    CStatistics one, run;
    for (CStatistics* s : {&one, &run}) {
        s->Reset();
        s->m_bEnabled = true;
        s->AddSample(2e-3f); // something counted before the run
    }
    for (float r : readings)
        one.AddSample(r);
    run.AddSamples(readings.begin(), readings.end(), [](float r) { return r; });
    const auto same = [](auto a, auto b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    EXPECT_EQ(run.m_nCount, one.m_nCount);
    EXPECT_TRUE(same(run.m_dMean, one.m_dMean));
    EXPECT_TRUE(same(run.m_dMeanOfSquares, one.m_dMeanOfSquares));
    EXPECT_TRUE(same(run.m_fMinimum, one.m_fMinimum));
    EXPECT_TRUE(same(run.m_fMaximum, one.m_fMaximum));
    EXPECT_TRUE(same(run.m_fStdDev, one.m_fStdDev));
    EXPECT_TRUE(same(run.m_fRmsStability, one.m_fRmsStability));
    EXPECT_TRUE(same(run.m_fPtpStability, one.m_fPtpStability));
    EXPECT_TRUE(same(run.m_fCurrent, one.m_fCurrent));
}
