// Probe, binding and connection of the meters for record and monitor, and their metrics page.

#include "cli/MeterBinding.h"

#include "detectors/DetectorOrder.h"
#include "link/DetectorProtocol.h"
#include "link/PortProbe.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace Cli {

namespace {

namespace Protocol = DetectorProtocol;

constexpr int kPollMs = 20;

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

BoundMeter::BoundMeter(const CChannelConfig& record, FILE* err, const char* lostNote)
    : config(record) {
    channel.SetEventHandler([this, err, lostNote](ChannelEvent event, const std::string& detail) {
        const char* port = config.m_strPort.c_str();
        if (event == ChannelEvent::Lost) {
            std::fprintf(err, "%s: the meter stopped answering: %s", port, detail.c_str());
            if (lostNote)
                std::fprintf(err, "%s: %s\n", port, lostNote);
        } else {
            std::fprintf(err, "%s: the meter answers again\n", port);
        }
    });
}

std::vector<std::unique_ptr<BoundMeter>> BindMeters(const std::vector<std::string>& ports,
                                                    bool named, FILE* err, const char* lostNote) {
    // Bound as the window binds the list after OK, and connected all at once.
    std::vector<std::unique_ptr<BoundMeter>> meters;
    std::atomic<size_t> pending{0};
    std::mutex failureLock;
    std::vector<std::string> failures;
    for (const DetectorBinding& binding : BindDetectorRows(ListDetectors(ports, named, err), {})) {
        auto meter = std::make_unique<BoundMeter>(binding.config, err, lostNote);
        ++pending;
        meter->channel.RequestConnect(
            binding.config, binding.stored,
            [&, port = binding.config.m_strPort](const CChannel::Outcome& outcome) {
                if (!outcome.ok) {
                    std::lock_guard<std::mutex> guard(failureLock);
                    failures.push_back(Protocol::OpenFailureText(port, outcome.error));
                }
                --pending;
            });
        meters.push_back(std::move(meter));
    }
    while (pending.load() > 0)
        Protocol::WaitMs(kPollMs);
    for (const std::string& failure : failures)
        std::fputs(failure.c_str(), err);
    meters.erase(std::remove_if(meters.begin(), meters.end(),
                                [](const auto& meter) { return !meter->channel.IsBound(); }),
                 meters.end());
    return meters;
}

void CloseAll(std::vector<std::unique_ptr<BoundMeter>>& meters, CMeterMetrics* shown) {
    if (shown)
        shown->SetChannels({});
    for (auto& meter : meters)
        meter->channel.RequestClose();
    meters.clear(); // each channel ends its close and joins its worker
}

std::vector<MeteredChannel>
MeteredChannels(const std::vector<std::unique_ptr<BoundMeter>>& meters) {
    std::vector<MeteredChannel> shown;
    for (const auto& meter : meters)
        shown.push_back({meter->config.m_nPosition + 1, &meter->channel});
    return shown;
}

bool ServeMetrics(CMetricsServer& server, const MetricsEndpoint& endpoint, FILE* err) {
    std::string error;
    if (server.Start(endpoint, error))
        return true;
    std::fprintf(err, "%s\n", error.c_str());
    return false;
}

} // namespace Cli
