#include "acquisition/AcquisitionEngine.h"
#include "acquisition/AcquisitionReader.h"
#include "support/ReadFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/resource.h>

namespace {

// Time that moves only when the engine sleeps (or a test says so): a minute runs in no time.
class FakeClock : public IAcquisitionClock {
public:
    uint64_t MonotonicMs() override { return m_ms; }
    std::time_t Now() override { return m_calendarStart + static_cast<std::time_t>(m_ms / 1000); }
    void SleepMs(int ms, CAcquisitionWake&) override {
        m_ms += std::max<uint64_t>(static_cast<uint64_t>(ms), m_step);
        ++m_sleeps;
    }
    void Advance(uint64_t ms) { m_ms += ms; }

    uint64_t m_ms = 1000000;
    uint64_t m_step = 0; // a coarser sleep, for runs of days
    int m_sleeps = 0;
    std::time_t m_calendarStart = 1300000000;
};

size_t CountLines(const std::string& text) {
    size_t n = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
        ++n;
    return n;
}

struct Recording {
    FakeClock clock;
    std::vector<uint64_t> sampledAt; // clock of each tick
    std::atomic<bool> running{true};
    std::unique_ptr<CAcquisitionRun> run;

    Recording(AcquisitionSettings settings, size_t channels,
              std::function<void(std::vector<float>&)> more = {}) {
        run = std::make_unique<CAcquisitionRun>(
            settings, channels,
            [this, more](std::vector<float>& readings) {
                sampledAt.push_back(clock.m_ms);
                for (size_t i = 0; i < readings.size(); ++i)
                    readings[i] = 0.5f * static_cast<float>(i + 1);
                if (more)
                    more(readings);
            },
            clock);
    }
};

} // namespace

TEST(AcquisitionRun, ByPeriodOneSecondForAMinuteWritesSixtyOneLines) {
    TempHome home;
    AcquisitionSettings settings; // 1 s for 60 s
    Recording rec(settings, 2);
    std::string error;
    ASSERT_TRUE(rec.run->Begin(home.Path() + "/run", {"A", "B"}, true, rec.clock.Now(), error));
    EXPECT_EQ(rec.run->Run(rec.running), AcquisitionEnd::Completed);
    EXPECT_FALSE(rec.running.load());
    ASSERT_EQ(rec.sampledAt.size(), 61u);
    for (size_t i = 0; i < rec.sampledAt.size(); ++i)
        EXPECT_EQ(rec.sampledAt[i] - rec.sampledAt[0], 1000u * i); // on the schedule exactly
    EXPECT_EQ(rec.clock.m_sleeps, 60); // one sleep from tick to tick, no polling between
    EXPECT_EQ(rec.run->WorstLatenessMs(), 0u);

    const std::string text = ReadFile(rec.run->FilePath());
    EXPECT_EQ(CountLines(text), 4u + 61u); // count, names, separator, empty line, data
    const CAcquisitionData data = ReadAcquisitionText(text);
    EXPECT_TRUE(data.m_messages.empty());
    ASSERT_EQ(data.m_series[1].size(), 61u);
    EXPECT_EQ(data.m_series[1].back().fTime, 60.0f);
    EXPECT_EQ(data.m_series[1].back().fValue, 1.0f);
}

TEST(AcquisitionRun, MissedTicksAreCaughtUpOnePerPass) {
    TempHome home;
    AcquisitionSettings settings;
    settings.durationSeconds = 10;
    FakeClock* clock = nullptr;
    int tick = 0;
    Recording rec(settings, 1, [&](std::vector<float>&) {
        if (++tick == 3)
            clock->Advance(2500); // the third tick is held up 2.5 s
    });
    clock = &rec.clock;
    std::string error;
    ASSERT_TRUE(rec.run->Begin(home.Path() + "/run", {"A"}, true, rec.clock.Now(), error));
    EXPECT_EQ(rec.run->Run(rec.running), AcquisitionEnd::Completed);
    const uint64_t t0 = rec.sampledAt[0];
    std::vector<uint64_t> offsets;
    for (uint64_t at : rec.sampledAt)
        offsets.push_back(at - t0);
    // 0, 1, 2 s; held up until 4.5 s; ticks of 3 and 4 s taken 10 ms apart; then on time.
    EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 1000, 2000, 4510, 4520, 5000, 6000, 7000, 8000,
                                              9000, 10000}));
    EXPECT_EQ(rec.run->WorstLatenessMs(), 1510u); // the tick of 3 s
}

// On the real clock: a run sleeping towards a tick an hour away stops at once.
TEST(AcquisitionWorker, StopWakesARunBetweenItsTicks) {
    TempHome home;
    AcquisitionSettings settings;
    settings.periodSeconds = 3600;
    settings.durationSeconds = 7200;
    auto run = std::make_unique<CAcquisitionRun>(settings, 1, nullptr);
    std::string error;
    ASSERT_TRUE(run->Begin(home.Path() + "/run", {"A"}, true, std::time(nullptr), error));
    const CAcquisitionRun* job = run.get();
    std::atomic<bool> running{true};
    std::atomic<int> stopped{0};
    CAcquisitionWorker worker;
    worker.Start(std::move(run), running, [&](AcquisitionEnd end, const std::string&) {
        stopped.store(end == AcquisitionEnd::Stopped ? 1 : 2);
    });
    while (job->LinesWritten() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto before = std::chrono::steady_clock::now();
    worker.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(2));
    EXPECT_EQ(stopped.load(), 1);
    EXPECT_EQ(job->LinesWritten(), 1u);
}

TEST(AcquisitionRun, ByTimeEndingBeforeItsStartWritesOneLine) {
    TempHome home;
    AcquisitionSettings settings;
    settings.byTime = true;
    Recording rec(settings, 1);
    settings.end = rec.clock.Now() - 60;
    rec.run = std::make_unique<CAcquisitionRun>(settings, 1, nullptr, rec.clock);
    std::string error;
    ASSERT_TRUE(rec.run->Begin(home.Path() + "/run", {"A"}, false, rec.clock.Now(), error));
    EXPECT_EQ(rec.run->Run(rec.running), AcquisitionEnd::Completed);
    EXPECT_EQ(rec.run->LinesWritten(), 1u);
    EXPECT_EQ(CountLines(ReadFile(rec.run->FilePath())), 3u + 1u); // no empty line on schedule
}

TEST(AcquisitionRun, StopMidRunLeavesWholeLinesAndReportsNothing) {
    TempHome home;
    std::atomic<bool>* running = nullptr;
    int tick = 0;
    AcquisitionSettings settings;
    Recording rec(settings, 3, [&](std::vector<float>&) {
        if (++tick == 5)
            running->store(false); // "Stop Acquisition" while the fifth line is sampled
    });
    running = &rec.running;
    bool reported = false;
    rec.run->SetFailureReport([&](const std::string&) { reported = true; });
    std::string error;
    ASSERT_TRUE(rec.run->Begin(home.Path() + "/run", {"A", "B", "C"}, true, 0, error));
    EXPECT_EQ(rec.run->Run(rec.running), AcquisitionEnd::Stopped);
    EXPECT_FALSE(reported);
    const CAcquisitionData data = ReadAcquisitionText(ReadFile(rec.run->FilePath()));
    EXPECT_EQ(data.m_nLines, 5);
    EXPECT_TRUE(data.m_messages.empty());
    for (const auto& series : {data.m_series[0], data.m_series[1], data.m_series[2]})
        EXPECT_EQ(series.size(), 5u);
}

TEST(AcquisitionRun, DurationsBeyondTheTickCounterRunTheirWholeLength) {
    TempHome home;
    AcquisitionSettings settings;
    settings.periodSeconds = 86400;
    settings.durationSeconds = 30 * 86400; // 2.6e9 ms: past a signed 32-bit tick difference
    Recording rec(settings, 1);
    rec.clock.m_step = 60000;
    std::string error;
    ASSERT_TRUE(rec.run->Begin(home.Path() + "/run", {"A"}, true, 0, error));
    EXPECT_EQ(rec.run->Run(rec.running), AcquisitionEnd::Completed);
    EXPECT_EQ(rec.run->LinesWritten(), 31u);
}

// The disk fills up (here: a size limit on the process) for ticks 3 and 4 and has room again from
// tick 5: one report, and every line that could be written is there whole.
TEST(AcquisitionRun, AWriteFailureIsReportedOnceAndTheRunGoesOn) {
    TempHome home;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    AcquisitionSettings settings;
    settings.durationSeconds = 6;
    int tick = 0;
    CAcquisitionRun* run = nullptr;
    Recording rec(settings, 2, [&](std::vector<float>&) {
        rlimit limit = old;
        if (++tick == 3) {
            limit.rlim_cur = static_cast<rlim_t>(ReadFile(run->FilePath()).size());
            setrlimit(RLIMIT_FSIZE, &limit);
        } else if (tick == 5) {
            setrlimit(RLIMIT_FSIZE, &old);
        }
    });
    run = rec.run.get();
    std::vector<std::string> reports;
    rec.run->SetFailureReport([&](const std::string& text) { reports.push_back(text); });
    std::string error;
    ASSERT_TRUE(rec.run->Begin(home.Path() + "/run", {"A", "B"}, true, 0, error));
    EXPECT_EQ(rec.run->Run(rec.running), AcquisitionEnd::Completed);
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "Unable to write to the acquisition file " + rec.run->FilePath() +
                              ": File too large");
    EXPECT_EQ(rec.run->LinesWritten(), 5u); // 7 ticks, 2 refused
    const CAcquisitionData data = ReadAcquisitionText(ReadFile(rec.run->FilePath()));
    EXPECT_TRUE(data.m_messages.empty());
    EXPECT_EQ(data.m_nLines, 5);
    ASSERT_EQ(data.m_series[1].size(), 5u);
    EXPECT_EQ(data.m_series[1][2].fTime, 4.0f); // the line of tick 5 follows the one of tick 2
}

TEST(AcquisitionSchedule, WindowsAheadOrUnderWayAreScheduledEndedOnesAreNot) {
    EXPECT_TRUE(ScheduleByTimeWindow(100, 200, 300));  // ahead
    EXPECT_TRUE(ScheduleByTimeWindow(250, 200, 300));  // under way: starts at once
    EXPECT_FALSE(ScheduleByTimeWindow(300, 200, 300)); // over
    EXPECT_TRUE(ScheduleByTimeWindow(100, 200, 150));  // ends before it starts: one line
    EXPECT_FALSE(ScheduledStartDue(199, 200));
    EXPECT_TRUE(ScheduledStartDue(200, 200));
}

// Runs that start in the same second with the same prefix (two programs, Stop then Start) each
// get a file of their own, named "_2", "_3" ... before ".txt", and each file keeps its own lines.
TEST(AcquisitionRun, RunsStartedInTheSameSecondNeverShareAFile) {
    TempHome home;
    const std::string prefix = home.Path() + "/run";
    const std::time_t start = 1300000000;
    std::vector<std::unique_ptr<Recording>> runs;
    for (int i = 0; i < 3; ++i) {
        AcquisitionSettings settings;
        settings.durationSeconds = i; // 1, 2 and 3 lines
        runs.push_back(std::make_unique<Recording>(settings, 1 + static_cast<size_t>(i)));
        std::string error;
        ASSERT_TRUE(runs.back()->run->Begin(prefix, std::vector<std::string>(1 + i, "T"), true,
                                            start, error))
            << error;
    }
    const std::string first = AcquisitionFileName(prefix, start);
    EXPECT_EQ(runs[0]->run->FilePath(), first);
    EXPECT_EQ(runs[1]->run->FilePath(), first.substr(0, first.size() - 4) + "_2.txt");
    EXPECT_EQ(runs[2]->run->FilePath(), first.substr(0, first.size() - 4) + "_3.txt");
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i]->run->Run(runs[i]->running), AcquisitionEnd::Completed);
        const CAcquisitionData data = ReadAcquisitionText(ReadFile(runs[i]->run->FilePath()));
        EXPECT_TRUE(data.m_messages.empty());
        EXPECT_EQ(data.m_nLines, static_cast<int>(i) + 1);
        EXPECT_EQ(data.m_names.size(), i + 1);
    }
    // A prefix that ends in ".txt" keeps it, and the number goes before the last one.
    const std::string dotted = AcquisitionFileName("/d/r.txt", start);
    EXPECT_EQ(dotted.rfind("/d/r.txt", 0), 0u);
    EXPECT_EQ(AcquisitionFileName("/d/r.txt", start, 2),
              dotted.substr(0, dotted.size() - 4) + "_2.txt");
}
