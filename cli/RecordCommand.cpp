// kelvarin-cli record: probes the ports, binds the meters that answer to the station's positions
// as the window does after its auto-detection list, and records the window's acquisition file
// with the same station.

#include "cli/CliCommands.h"
#include "cli/MeterBinding.h"

#include "acquisition/AcquisitionEngine.h"
#include "link/DetectorProtocol.h"
#include "link/LocalTime.h"
#include "link/PortList.h"

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include <unistd.h>

namespace Cli {

namespace {

namespace Protocol = DetectorProtocol;
using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 20;

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
    CMeterStation station(
        PrintMeterEvents(err, "its column keeps its last reading until it answers again"));
    // The page serves from the probe on: a port it cannot listen on stops the run first. It
    // goes before the station.
    CMetricsExporter exporter(station.Metrics());
    if (options.serveMetrics) {
        if (!ServeMetrics(exporter, options.metrics, err))
            return kFailure;
        std::fprintf(err, "Serving metrics on %s\n", exporter.Server().Url().c_str());
    }
    const std::vector<DetectorBinding> meters = BindMeters(station, list, named, err);
    if (meters.empty()) {
        std::fprintf(err, "No meter answered on the %zu port%s probed\n", list.size(),
                     list.size() == 1 ? "" : "s");
        return kFailure;
    }

    // The first line holds measured values: wait (a little) for every meter's first reading.
    const auto firstDeadline = Clock::now() + std::chrono::milliseconds(options.firstReadingWaitMs);
    const auto allRead = [&] {
        for (const DetectorBinding& meter : meters) {
            const CChannel& channel = station.Channel(meter.position);
            if (!channel.HasReading() && channel.IsConnected())
                return false;
        }
        return true;
    };
    while (!allRead() && Clock::now() < firstDeadline && !stop.load())
        Protocol::WaitMs(kPollMs);
    for (const DetectorBinding& meter : meters)
        if (!station.Channel(meter.position).HasReading())
            std::fprintf(err, "%s (%s): no reading yet; recorded as a silent meter\n",
                         meter.config.m_strPort.c_str(),
                         ToTerminal(meter.config.m_strSerial).c_str());

    CAcquisitionPlan plan;
    plan.m_strAcqBaseName = options.prefix;
    plan.m_nSamplingPeriod = options.periodSeconds;
    plan.m_nDuration = options.durationSeconds;
    plan.m_bByTime = options.byTime;
    plan.m_timeAcqStart = options.start;
    plan.m_timeAcqEnd = options.end;
    if (options.byTime && !ScheduleByTimeWindow(std::time(nullptr), options.start, options.end)) {
        std::fprintf(err, "The time window ended at %s: nothing to record\n",
                     LocalDateTimeText(options.end).c_str());
        return kFailure;
    }
    station.SetPlan(plan, std::time(nullptr));

    CProgress progress(err);
    std::string file;
    std::time_t started = 0;
    const auto begun = [&](const std::string& path) {
        file = path;
        started = std::time(nullptr);
        std::fprintf(out, "%s\n", file.c_str());
        std::fflush(out);
    };
    if (!options.byTime && !stop.load()) {
        std::string error;
        switch (station.StartByHand(std::time(nullptr), error)) {
        case CMeterStation::Start::Started:
            begun(station.AcquisitionFile());
            break;
        case CMeterStation::Start::CreateFailed:
            std::fprintf(err, "%s\n", error.c_str());
            return kFailure;
        default: // every meter lost meanwhile, or no prefix: nothing recorded
            std::fprintf(err, "No meter is connected: nothing was recorded\n");
            return kFailure;
        }
    }
    bool completed = false;
    bool writeFailed = false;
    int status = kSuccess;
    // The station's tick starts a scheduled run when due and tells what the run does.
    while (!completed && status == kSuccess) {
        for (const StationNews& news : station.Tick(std::time(nullptr))) {
            switch (news.kind) {
            case StationNews::Kind::Started:
                progress.End();
                begun(news.file);
                break;
            case StationNews::Kind::Completed:
                completed = true;
                break;
            case StationNews::Kind::WriteFailed:
                writeFailed = true;
                std::fprintf(err, "\n%s\n", news.text.c_str());
                break;
            case StationNews::Kind::CreateFailed:
            case StationNews::Kind::WindowMissed:
                progress.End();
                std::fprintf(err, "%s\n", news.text.c_str());
                status = kFailure;
                break;
            }
        }
        if (completed || status != kSuccess)
            break;
        if (stop.load()) { // like Stop Acquisition: the last line whole; before the first, no file
            station.StopAcquisition();
            break;
        }
        if (file.empty()) {
            progress.Show("waiting for the start at " + LocalDateTimeText(options.start));
        } else {
            const long long left = options.byTime
                                       ? static_cast<long long>(options.end - std::time(nullptr))
                                       : static_cast<long long>(options.durationSeconds) -
                                             static_cast<long long>(std::time(nullptr) - started);
            const CAcquisitionRun* run = station.CurrentRun();
            progress.Show(std::to_string(run ? run->LinesWritten() : 0) + " lines written, " +
                          std::to_string(left < 0 ? 0 : left) + " s left");
        }
        Protocol::WaitMs(kPollMs);
    }
    progress.End();
    // Off the page first, then every meter stopped at once.
    exporter.Stop();
    station.CloseAll();
    if (completed)
        std::fprintf(out, "Acquistion completed : %s\n", file.c_str());
    return status != kSuccess ? status : writeFailed ? kFailure : kSuccess;
}

} // namespace Cli
