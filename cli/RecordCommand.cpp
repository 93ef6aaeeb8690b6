// kelvarin-cli record: probes the ports, binds the meters that answer to positions as the window
// does after its auto-detection list, starts them, and records the window's acquisition file
// with the same engine.

#include "cli/CliCommands.h"

#include "acquisition/AcquisitionEngine.h"
#include "detectors/ChannelConfig.h"
#include "detectors/ChannelConfigFile.h"
#include "detectors/DetectorOrder.h"
#include "link/ComAccess.h"
#include "link/DetectorProtocol.h"
#include "link/LocalTime.h"
#include "link/MeterLink.h"
#include "link/NumberText.h"
#include "link/PortList.h"

#include <array>
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
// The auto-detection list carries its first rows only into the records bound to positions.
constexpr size_t kAssignableRows = 8;

struct FoundMeter {
    std::string port;
    std::string name;
    std::string serial;
    int32_t position = -1; // stored position, the list's order
};

// A meter bound to a position: its port, its link and the last calibrated reading, which the
// acquisition worker samples while this thread reads the port.
struct BoundMeter {
    CChannelConfig config;
    ComAccess port;
    CMeterLink link{port};
    std::atomic<float> value{0.0f};
    std::atomic<bool> hasReading{false};
};

std::vector<FoundMeter> ProbeAll(const std::vector<std::string>& ports, bool named, FILE* err) {
    std::vector<FoundMeter> found;
    for (const std::string& port : ports) {
        const Protocol::ProbeResult probe = Protocol::ProbePort(port);
        if (!probe.opened && named)
            std::fprintf(err, "%s: cannot open the port: %s", port.c_str(), probe.error.c_str());
        FoundMeter meter{port, probe.name, probe.serial, -1};
        if (!meter.serial.empty()) {
            CChannelConfig stored;
            std::string error;
            switch (LoadChannelConfigFile(meter.serial, stored, error)) {
            case ConfigLoad::Loaded:
                meter.position = stored.m_nPosition;
                break;
            case ConfigLoad::Damaged:
                std::fprintf(err, "%s; recording it with the default settings\n", error.c_str());
                break;
            case ConfigLoad::Missing:
                break;
            }
        }
        found.push_back(meter);
    }
    return found;
}

// The meters in the order of the list, each with the position it takes (-1 for none).
std::vector<std::pair<FoundMeter, int>> Bind(const std::vector<FoundMeter>& found) {
    std::vector<int32_t> positions;
    for (const FoundMeter& meter : found)
        positions.push_back(meter.position);
    const std::vector<int> order = DetectorListOrder(positions);
    std::vector<std::string> serials;
    for (size_t row = 0; row < order.size(); ++row)
        serials.push_back(row < kAssignableRows ? found[static_cast<size_t>(order[row])].serial
                                                : std::string());
    const std::vector<int> assigned = AssignDetectorPositions(serials, {});
    std::vector<std::pair<FoundMeter, int>> bound;
    for (size_t row = 0; row < order.size(); ++row)
        if (assigned[row] >= 0)
            bound.emplace_back(found[static_cast<size_t>(order[row])], assigned[row]);
    return bound;
}

std::unique_ptr<BoundMeter> Connect(const FoundMeter& found, int position, FILE* err) {
    auto meter = std::make_unique<BoundMeter>();
    if (!Protocol::OpenMeterPort(meter->port, found.port)) {
        std::fprintf(err, "%s: cannot open the port: %s", found.port.c_str(),
                     meter->port.LastError().c_str());
        return nullptr;
    }
    CChannelConfig& config = meter->config;
    config.m_strSerial = found.serial;
    config.m_strName = found.name;
    config.m_strPort = found.port;
    std::string error;
    // A damaged file (already reported) leaves the defaults in place.
    LoadChannelConfigFile(config.m_strSerial, config, error);
    config.m_nPosition = position;
    if (config.m_strTitle.empty())
        config.m_strTitle = DefaultPositionTitle(position);
    Protocol::ApplyWavelengthAndStart(meter->port, config.m_nWavelength);
    meter->link.SetConnected(found.port);
    return meter;
}

// One pass over every port. A meter that has gone keeps its last reading in the file until it
// answers again on its port (a try every two seconds, which holds this loop for about a second
// when the meter is back).
void PollAll(std::vector<std::unique_ptr<BoundMeter>>& meters, FILE* err) {
    for (auto& meter : meters) {
        const CChannelConfig& config = meter->config;
        const LinkEvent event = meter->link.Poll(
            config.m_fGain, config.m_fOffset,
            [&](float value) {
                meter->value.store(value);
                meter->hasReading.store(true);
            },
            [&] {
                return Protocol::ResumeSettings{config.m_strSerial, config.m_nWavelength,
                                                config.m_bAnticipation};
            });
        const char* port = config.m_strPort.c_str();
        if (event == LinkEvent::Lost) {
            std::fprintf(err, "%s: the meter stopped answering: %s", port,
                         meter->link.LossReason().c_str());
            std::fprintf(err, "%s: its column keeps its last reading until it answers again\n",
                         port);
        } else if (event == LinkEvent::Resumed) {
            std::fprintf(err, "%s: the meter answers again\n", port);
        }
    }
}

void CloseAll(std::vector<std::unique_ptr<BoundMeter>>& meters) {
    for (auto& meter : meters) {
        meter->link.SetClosed();
        Protocol::CloseMeter(meter->port);
    }
}

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
    const auto bound = Bind(ProbeAll(list, named, err));
    std::vector<std::unique_ptr<BoundMeter>> meters;
    for (const auto& [found, position] : bound)
        if (auto meter = Connect(found, position, err))
            meters.push_back(std::move(meter));
    if (meters.empty()) {
        std::fprintf(err, "No meter answered on the %zu port%s probed\n", list.size(),
                     list.size() == 1 ? "" : "s");
        return kFailure;
    }

    // The first line holds measured values: wait (a little) for every meter's first reading.
    const auto firstDeadline = Clock::now() + std::chrono::milliseconds(options.firstReadingWaitMs);
    const auto allRead = [&] {
        for (const auto& meter : meters)
            if (!meter->hasReading.load() && meter->link.IsConnected())
                return false;
        return true;
    };
    while (!allRead() && Clock::now() < firstDeadline && !stop.load()) {
        PollAll(meters, err);
        Protocol::WaitMs(kPollMs);
    }
    for (const auto& meter : meters)
        if (!meter->hasReading.load())
            std::fprintf(err, "%s (%s): no reading yet; recorded as a silent meter\n",
                         meter->config.m_strPort.c_str(),
                         ToTerminal(meter->config.m_strSerial).c_str());

    CProgress progress(err);
    if (options.byTime) {
        if (!ScheduleByTimeWindow(std::time(nullptr), options.start, options.end)) {
            std::fprintf(err, "The time window ended at %s: nothing to record\n",
                         LocalTimeText(options.end).c_str());
            CloseAll(meters);
            return kFailure;
        }
        while (!stop.load() && !ScheduledStartDue(std::time(nullptr), options.start)) {
            PollAll(meters, err);
            progress.Show("waiting for the start at " + LocalTimeText(options.start));
            Protocol::WaitMs(kPollMs);
        }
    }

    if (stop.load()) { // interrupted before the first line: no file
        progress.End();
        CloseAll(meters);
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
    auto run = std::make_unique<CAcquisitionRun>(settings, meters.size(),
                                                 [&meters](std::vector<float>& readings) {
                                                     for (size_t i = 0; i < meters.size(); ++i)
                                                         readings[i] = meters[i]->value.load();
                                                 });
    std::string error;
    const std::time_t started = std::time(nullptr);
    if (!run->Begin(options.prefix, titles, !options.byTime, started, error)) {
        progress.End();
        std::fprintf(err, "%s\n", error.c_str());
        CloseAll(meters);
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
        PollAll(meters, err);
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
    CloseAll(meters);
    if (completed.load())
        std::fprintf(out, "Acquistion completed : %s\n", file.c_str());
    return writeFailed.load() ? kFailure : kSuccess;
}

} // namespace Cli
