#pragma once
// The acquisition engine: one run records every channel of its header into one file, one line
// per sampling tick, either for a duration from a start by hand or up to an end time. The
// schedule and the writing are here, without a window, so that the main window and
// kelvarin-cli record exactly the same files.
//
// The schedule is kept on a monotonic millisecond clock: the first line at once, then a line
// at each multiple of the period after it. Between ticks the worker sleeps until the next one
// (a stop wakes it); a tick missed while the worker was held up is taken on the next passes,
// one per 10 ms, until the schedule has caught up. By period a run writes D / P + 1 lines
// (61 for P = 1 s, D = 60 s) when nothing delays it.

#include "acquisition/AcquisitionFile.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What a sleeping run is woken by: a stop from another thread.
class CAcquisitionWake {
public:
    void Wake();
    // Sleeps `ms` or until woken; a wake before the sleep ends the next one at once.
    void WaitMs(int ms);

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_bWoken = false; // under m_lock
};

// Time as the engine sees it; tests substitute one that runs without waiting.
class IAcquisitionClock {
public:
    virtual ~IAcquisitionClock() = default;
    virtual uint64_t MonotonicMs() = 0; // never goes back, never wraps
    virtual std::time_t Now() = 0;      // calendar time of the lines and the end test
    // Sleeps `ms`, less when `wake` is woken meanwhile.
    virtual void SleepMs(int ms, CAcquisitionWake& wake) = 0;
};
IAcquisitionClock& SystemAcquisitionClock();

struct AcquisitionSettings {
    int32_t periodSeconds = 1;    // m_nSamplingPeriod, at least 1
    int32_t durationSeconds = 60; // m_nDuration, by period
    bool byTime = false;          // m_bByTime: the run ends at `end` instead
    std::time_t end = 0;          // m_timeAcqEnd
};

// The time schedule of the by-time mode, shared by the window and the command line.
// Closing the parameters with OK schedules a window whose start is ahead, and also one that has
// begun but not ended (it starts at once). A window that has ended entirely is not scheduled.
bool ScheduleByTimeWindow(std::time_t now, std::time_t start, std::time_t end);
// A scheduled run starts at the first check at or after its start time.
inline bool ScheduledStartDue(std::time_t now, std::time_t start) {
    return now >= start;
}

enum class AcquisitionEnd { Completed, Stopped };

// What a program's runs have done, for whoever watches it from another thread (the metrics
// page): whether one records now, and the lines written by all of them.
struct CAcquisitionTally {
    std::atomic<bool> running{false};
    std::atomic<uint64_t> lines{0};
};

// One run, from its file created with its header to its last line.
class CAcquisitionRun {
public:
    // Fills `readings` (one per channel of the header, in its order) at each tick.
    using Sampler = std::function<void(std::vector<float>& readings)>;
    // Told once per run, from the worker, when a line cannot be written.
    using FailureReport = std::function<void(const std::string& text)>;

    CAcquisitionRun(AcquisitionSettings settings, size_t channels, Sampler sampler,
                    IAcquisitionClock& clock = SystemAcquisitionClock());

    // Creates the file for `prefix` at `start` and writes the header of `titles` (with the empty
    // line of a start by hand). A name already taken is never written over: the next free one
    // ("_2", "_3" ... before ".txt") is used, and FilePath() says which. False with `error`
    // naming the file and the system's reason.
    bool Begin(const std::string& prefix, const std::vector<std::string>& titles,
               bool startedByHand, std::time_t start, std::string& error);
    const std::string& FilePath() const { return m_strFile; }

    // The worker's loop. Returns Completed (and clears `running`) when the end is reached, or
    // Stopped when `running` was cleared from outside; the last line is whole either way.
    AcquisitionEnd Run(std::atomic<bool>& running);

    void SetFailureReport(FailureReport report) { m_report = std::move(report); }
    // Counted in `tally` (which must outlive the run) from Run on.
    void SetTally(CAcquisitionTally* tally) { m_pTally = tally; }
    uint64_t LinesWritten() const { return m_nLines.load(); }
    // The latest a line was written after its tick, in milliseconds, over the run so far.
    uint64_t WorstLatenessMs() const { return m_nWorstLateMs.load(); }
    // Ends the current sleep of Run: call it after clearing `running`.
    void Wake() { m_wake.Wake(); }

private:
    void WriteTick();

    AcquisitionSettings m_settings;
    size_t m_nChannels;
    Sampler m_sampler;
    IAcquisitionClock& m_clock;
    CAcquisitionFileWriter m_writer;
    std::string m_strFile;
    FailureReport m_report;
    CAcquisitionTally* m_pTally = nullptr;
    bool m_bReported = false;
    std::vector<float> m_readings;
    std::string m_line;
    std::atomic<uint64_t> m_nLines{0};
    std::atomic<uint64_t> m_nWorstLateMs{0};
    CAcquisitionWake m_wake;
};

// The worker thread of a run. Destroying it stops the run (clearing `running`) and joins.
class CAcquisitionWorker {
public:
    using Finished = std::function<void(AcquisitionEnd end, const std::string& file)>;

    CAcquisitionWorker() = default;
    ~CAcquisitionWorker() { Stop(); }
    CAcquisitionWorker(const CAcquisitionWorker&) = delete;
    CAcquisitionWorker& operator=(const CAcquisitionWorker&) = delete;

    // Joins the previous run's thread (ended or ending), then runs `run` on a new one. `running`
    // must be set and outlive the worker; `finished` is called on the worker at the end.
    void Start(std::unique_ptr<CAcquisitionRun> run, std::atomic<bool>& running, Finished finished);
    // Clears the flag of the run, wakes it and waits for its thread (the line being written is
    // finished first).
    void Stop();
    // Waits for a thread whose run has ended by itself.
    void Join();
    const CAcquisitionRun* Run() const { return m_run.get(); }

private:
    std::unique_ptr<CAcquisitionRun> m_run;
    std::atomic<bool>* m_pRunning = nullptr;
    std::thread m_thread;
};
