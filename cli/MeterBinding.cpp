// Probe, binding and connection of the meters for record and monitor, and their metrics page.

#include "cli/MeterBinding.h"

#include "link/DetectorProtocol.h"
#include "link/PortProbe.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace Cli {

namespace {

namespace Protocol = DetectorProtocol;

// The rows of the auto-detection list for `ports`, probed all at once, in list order.
std::vector<CChannelConfig> ListDetectors(const std::vector<std::string>& ports, bool named,
                                          FILE* err) {
    const std::vector<Protocol::ProbeResult> probes = ProbePorts(ports);
    if (named)
        for (size_t i = 0; i < ports.size(); ++i)
            if (!probes[i].opened)
                std::fputs(Protocol::OpenFailureText(ports[i], probes[i].error).c_str(), err);
    std::vector<CChannelConfig> rows =
        DetectorRowsFromProbe(ports, probes, [err](const std::string& error) {
            std::fprintf(err, "%s; recording it with the default settings\n", error.c_str());
        });
    SortDetectorRows(rows);
    return rows;
}

} // namespace

CMeterStation::OnEvent PrintMeterEvents(FILE* err, const char* lostNote) {
    return [err, lostNote](int, const CChannel& channel, ChannelEvent event,
                           const std::string& detail) {
        const std::string port = channel.Config().m_strPort;
        if (event == ChannelEvent::Lost) {
            std::fprintf(err, "%s: the meter stopped answering: %s", port.c_str(), detail.c_str());
            if (lostNote)
                std::fprintf(err, "%s: %s\n", port.c_str(), lostNote);
        } else {
            std::fprintf(err, "%s: the meter answers again\n", port.c_str());
        }
    };
}

std::vector<DetectorBinding>
BindMeters(CMeterStation& station, const std::vector<std::string>& ports, bool named, FILE* err) {
    // Bound as the window binds the list after OK, and connected all at once.
    std::mutex lock;
    std::condition_variable answered;
    size_t done = 0;
    std::vector<std::string> failures;
    const std::vector<DetectorBinding> bindings =
        station.Bind(ListDetectors(ports, named, err),
                     [&](const DetectorBinding& binding, const CChannel::Outcome& outcome) {
                         std::lock_guard<std::mutex> guard(lock);
                         if (!outcome.ok && !outcome.cut)
                             failures.push_back(Protocol::OpenFailureText(binding.config.m_strPort,
                                                                          outcome.error));
                         ++done;
                         answered.notify_all();
                     });
    {
        std::unique_lock<std::mutex> wait(lock);
        answered.wait(wait, [&] { return done == bindings.size(); });
    }
    for (const std::string& failure : failures)
        std::fputs(failure.c_str(), err);
    std::vector<DetectorBinding> bound;
    for (const DetectorBinding& binding : bindings)
        if (station.Channel(binding.position).IsBound())
            bound.push_back(binding);
    return bound;
}

bool ServeMetrics(CMetricsExporter& exporter, const MetricsEndpoint& endpoint, FILE* err) {
    MetricsSettings settings;
    settings.enabled = true;
    settings.endpoint = endpoint;
    const MetricsState state = exporter.Apply(settings);
    if (!state.url.empty())
        return true;
    std::fprintf(err, "%s\n", state.error.c_str());
    return false;
}

} // namespace Cli
