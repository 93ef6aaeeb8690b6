// kelvarin-cli record: probes the ports, binds the meters that answer to positions as the window
// does after its auto-detection list, starts them on the window's channels, and records the
// window's acquisition file with the same engine.

#include "cli/CliCommands.h"
#include "cli/MeterBinding.h"

#include "acquisition/AcquisitionEngine.h"
#include "channel/Channel.h"
#include "link/DetectorProtocol.h"
#include "link/LocalTime.h"
#include "link/PortList.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace Cli {

namespace {

namespace Protocol = DetectorProtocol;
using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 20;

std::string LocalTimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// The one-line progress of a terminal: what has been written and what is left.
class CProgress {
public:
    explicit CProgress(FILE* err) : m_err(err), m_bShown(isatty(fileno(err)) != 0) {}
    void Show(const std::string& text) {
        if (!m_bShown || Clock::now() < m_next)
            return;
        m_next = Clock::now() + std::chrono::milliseconds(500);
        std::fprintf(m_err, "\r%s\033[K", text.c_str());
        std::fflush(m_err);
        m_bPending = true;
    }
    void End() {
        if (m_bPending)
            std::fputc('\n', m_err);
        m_bPending = false;
    }

private:
    FILE* m_err;
    bool m_bShown;
    bool m_bPending = false;
    Clock::time_point m_next{};
};

} // namespace

bool ParseLocalDateTime(const std::string& text, std::time_t& t) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    if (text.size() != 19 || std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month,
                                         &day, &hour, &minute, &second, &tail) != 6)
        return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18})
        if (text[i] < '0' || text[i] > '9')
            return false;
    if (month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59 ||
        !LocalTimeFromFields(year, month, day, hour, minute, second, t))
        return false;
    // 31 February would be carried over to March: such a date is refused, not reinterpreted.
    std::tm back{};
    return localtime_r(&t, &back) && back.tm_mday == day && back.tm_mon == month - 1 &&
           back.tm_year == year - 1900;
}

int Record(const RecordOptions& options, const std::atomic<bool>& stop, FILE* out, FILE* err) {
    const bool named = !options.ports.empty();
    const std::vector<std::string> list = named ? options.ports : ListSerialPorts();
    // The page serves from the probe on: a port it cannot listen on stops the run first.
    CAcquisitionTally tally;
    CMeterMetrics metrics;
    metrics.SetAcquisition(&tally);
    CMetricsServer server(metrics);
    if (options.serveMetrics && !ServeMetrics(server, options.metrics, err))
        return kFailure;
    if (server.IsServing())
        std::fprintf(err, "Serving metrics on %s\n", server.Url().c_str());
    std::vector<std::unique_ptr<BoundMeter>> meters =
        BindMeters(list, named, err, "its column keeps its last reading until it answers again");
    if (meters.empty()) {
        std::fprintf(err, "No meter answered on the %zu port%s probed\n", list.size(),
                     list.size() == 1 ? "" : "s");
        return kFailure;
    }
    metrics.SetChannels(MeteredChannels(meters));

    // The first line holds measured values: wait (a little) for every meter's first reading.
    const auto firstDeadline = Clock::now() + std::chrono::milliseconds(options.firstReadingWaitMs);
    const auto allRead = [&] {
        for (const auto& meter : meters)
            if (!meter->channel.HasReading() && meter->channel.IsConnected())
                return false;
        return true;
    };
    while (!allRead() && Clock::now() < firstDeadline && !stop.load())
        Protocol::WaitMs(kPollMs);
    for (const auto& meter : meters)
        if (!meter->channel.HasReading())
            std::fprintf(err, "%s (%s): no reading yet; recorded as a silent meter\n",
                         meter->config.m_strPort.c_str(),
                         ToTerminal(meter->config.m_strSerial).c_str());

    CProgress progress(err);
    if (options.byTime) {
        if (!ScheduleByTimeWindow(std::time(nullptr), options.start, options.end)) {
            std::fprintf(err, "The time window ended at %s: nothing to record\n",
                         LocalTimeText(options.end).c_str());
            CloseAll(meters, &metrics);
            return kFailure;
        }
        while (!stop.load() && !ScheduledStartDue(std::time(nullptr), options.start)) {
            progress.Show("waiting for the start at " + LocalTimeText(options.start));
            Protocol::WaitMs(kPollMs);
        }
    }

    if (stop.load()) { // interrupted before the first line: no file
        progress.End();
        CloseAll(meters, &metrics);
        return kSuccess;
    }
    AcquisitionSettings settings;
    settings.periodSeconds = options.periodSeconds;
    settings.durationSeconds = options.durationSeconds;
    settings.byTime = options.byTime;
    settings.end = options.end;
    std::vector<std::string> titles;
    for (const auto& meter : meters)
        titles.push_back(meter->config.m_strTitle);
    auto run = std::make_unique<CAcquisitionRun>(
        settings, meters.size(), [&meters](std::vector<float>& readings) {
            for (size_t i = 0; i < meters.size(); ++i)
                readings[i] = meters[i]->channel.SampleForAcquisition();
        });
    run->SetTally(&tally);
    std::string error;
    const std::time_t started = std::time(nullptr);
    if (!run->Begin(options.prefix, titles, !options.byTime, started, error)) {
        progress.End();
        std::fprintf(err, "%s\n", error.c_str());
        CloseAll(meters, &metrics);
        return kFailure;
    }
    const std::string file = run->FilePath();
    std::fprintf(out, "%s\n", file.c_str());
    std::fflush(out);
    std::atomic<bool> writeFailed{false};
    run->SetFailureReport([&writeFailed, err](const std::string& text) {
        writeFailed.store(true);
        std::fprintf(err, "\n%s\n", text.c_str());
    });
    const CAcquisitionRun* job = run.get();

    std::atomic<bool> running{true};
    std::atomic<bool> completed{false};
    CAcquisitionWorker worker;
    worker.Start(std::move(run), running, [&completed](AcquisitionEnd end, const std::string&) {
        completed.store(end == AcquisitionEnd::Completed);
    });
    while (running.load()) {
        if (stop.load()) {
            running.store(false);
            break;
        }
        const long long left = options.byTime
                                   ? static_cast<long long>(options.end - std::time(nullptr))
                                   : static_cast<long long>(options.durationSeconds) -
                                         static_cast<long long>(std::time(nullptr) - started);
        progress.Show(std::to_string(job->LinesWritten()) + " lines written, " +
                      std::to_string(left < 0 ? 0 : left) + " s left");
        Protocol::WaitMs(kPollMs);
    }
    worker.Stop();
    progress.End();
    CloseAll(meters, &metrics);
    if (completed.load())
        std::fprintf(out, "Acquistion completed : %s\n", file.c_str());
    return writeFailed.load() ? kFailure : kSuccess;
}

} // namespace Cli
