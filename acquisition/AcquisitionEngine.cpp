#include "acquisition/AcquisitionEngine.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// The pause between the catch-up ticks of a run that was held up.
constexpr int kCatchUpMs = 10;
// The longest sleep of a run that ends at a calendar time, which the clock may jump to.
constexpr uint64_t kEndCheckMs = 250;
// Files of one prefix and second tried before giving up: far more than anyone starts.
constexpr int kMaxSameSecondRuns = 1000;

class CSystemClock : public IAcquisitionClock {
public:
    uint64_t MonotonicMs() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    std::time_t Now() override { return std::time(nullptr); }
    void SleepMs(int ms, CAcquisitionWake& wake) override { wake.WaitMs(ms); }
};

} // namespace

void CAcquisitionWake::Wake() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bWoken = true;
    }
    m_cv.notify_all();
}

void CAcquisitionWake::WaitMs(int ms) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_bWoken; });
    m_bWoken = false;
}

IAcquisitionClock& SystemAcquisitionClock() {
    static CSystemClock clock;
    return clock;
}

bool ScheduleByTimeWindow(std::time_t now, std::time_t start, std::time_t end) {
    return now < start || now < end;
}

CAcquisitionRun::CAcquisitionRun(AcquisitionSettings settings, size_t channels, Sampler sampler,
                                 IAcquisitionClock& clock)
    : m_settings(settings), m_nChannels(channels), m_sampler(std::move(sampler)), m_clock(clock),
      m_readings(channels, 0.0f) {}

bool CAcquisitionRun::Begin(const std::string& prefix, const std::vector<std::string>& titles,
                            bool startedByHand, std::time_t start, std::string& error) {
    // Never over another run's file: two runs started in the same second (two programs, or Stop
    // then Start) take the next free name.
    for (int n = 1;; ++n) {
        m_strFile = AcquisitionFileName(prefix, start, n);
        bool taken = false;
        if (m_writer.CreateNew(m_strFile, taken, error))
            break;
        if (!taken || n >= kMaxSameSecondRuns)
            return false;
    }
    if (!m_writer.Append(AcquisitionHeader(titles, startedByHand), error)) {
        m_writer.Close();
        return false;
    }
    return true;
}

AcquisitionEnd CAcquisitionRun::Run(std::atomic<bool>& running) {
    // 64-bit milliseconds: a duration of weeks, or the tick counter's wrap, cannot turn the end
    // test true early.
    const uint64_t t0 = m_clock.MonotonicMs();
    const uint64_t period = static_cast<uint64_t>(std::max(1, m_settings.periodSeconds)) * 1000u;
    const uint64_t end =
        t0 + static_cast<uint64_t>(std::max(0, m_settings.durationSeconds)) * 1000u;
    uint64_t next = t0;
    if (!running.load())
        return AcquisitionEnd::Stopped;
    // Running in the tally from the first line to the last, however the run ends.
    struct TallyRunning {
        CAcquisitionTally* tally;
        explicit TallyRunning(CAcquisitionTally* t) : tally(t) {
            if (tally)
                tally->running.store(true);
        }
        ~TallyRunning() {
            if (tally)
                tally->running.store(false);
        }
    } tallyRunning(m_pTally);
    for (;;) {
        const uint64_t now = m_clock.MonotonicMs();
        if (now >= next) {
            const uint64_t late = now - next;
            if (late > m_nWorstLateMs.load())
                m_nWorstLateMs.store(late); // written here only
            WriteTick();
            next += period;
        }
        const bool over = m_settings.byTime ? m_clock.Now() >= m_settings.end : now >= end;
        if (over) {
            running.store(false);
            return AcquisitionEnd::Completed;
        }
        // Until the next tick (or the end), no sooner: an idle worker costs no wake-ups.
        const uint64_t after = m_clock.MonotonicMs();
        uint64_t sleep = next > after ? next - after : kCatchUpMs;
        if (m_settings.byTime)
            sleep = std::min(sleep, kEndCheckMs);
        else if (end > after)
            sleep = std::min(sleep, end - after);
        m_clock.SleepMs(static_cast<int>(std::max<uint64_t>(1, sleep)), m_wake);
        if (!running.load())
            return AcquisitionEnd::Stopped;
    }
}

void CAcquisitionRun::WriteTick() {
    std::fill(m_readings.begin(), m_readings.end(), 0.0f);
    if (m_sampler)
        m_sampler(m_readings);
    m_readings.resize(m_nChannels); // the header's columns, whatever the sampler did
    m_line.clear();
    AppendAcquisitionDataLine(m_line, m_clock.Now(), m_readings);
    std::string error;
    if (m_writer.Append(m_line, error)) {
        m_nLines.fetch_add(1);
        if (m_pTally)
            m_pTally->lines.fetch_add(1);
        return;
    }
    // Reported once; the next ticks keep trying and the lines that can be written are.
    if (!m_bReported && m_report) {
        m_bReported = true;
        m_report(error);
    }
}

void CAcquisitionWorker::Start(std::unique_ptr<CAcquisitionRun> run, std::atomic<bool>& running,
                               Finished finished) {
    Join();
    m_run = std::move(run);
    m_pRunning = &running;
    CAcquisitionRun* job = m_run.get();
    m_thread = std::thread([job, &running, finished = std::move(finished)] {
        const AcquisitionEnd end = job->Run(running);
        if (finished)
            finished(end, job->FilePath());
    });
}

void CAcquisitionWorker::Stop() {
    if (m_pRunning)
        m_pRunning->store(false);
    if (m_run)
        m_run->Wake();
    Join();
}

void CAcquisitionWorker::Join() {
    if (m_thread.joinable())
        m_thread.join();
}
