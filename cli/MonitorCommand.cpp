// kelvarin-cli monitor: probes the ports and binds the meters to the station as record does,
// starts them and serves their metrics page until Ctrl+C or SIGTERM; lost meters are followed
// and taken back by their channels.

#include "cli/CliCommands.h"
#include "cli/MeterBinding.h"

#include "link/DetectorProtocol.h"
#include "link/NumberText.h"
#include "link/PortList.h"

namespace Cli {

namespace {

constexpr int kStopCheckMs = 50;

} // namespace

int Monitor(const MonitorOptions& options, const std::atomic<bool>& stop, FILE* out, FILE* err) {
    CMeterStation station(
        PrintMeterEvents(err, "shown down and without power until it answers again on its port"));
    CMetricsExporter exporter(station.Metrics()); // goes before the station
    if (!ServeMetrics(exporter, options.metrics, err))
        return kFailure;
    // The first line: where to scrape, before the probe, so that a script can wait for it.
    std::fprintf(out, "%s\n", exporter.Server().Url().c_str());
    std::fflush(out);

    const bool named = !options.ports.empty();
    const std::vector<std::string> list = named ? options.ports : ListSerialPorts();
    const std::vector<DetectorBinding> meters = BindMeters(station, list, named, err);
    if (meters.empty()) {
        std::fprintf(err, "No meter answered on the %zu port%s probed\n", list.size(),
                     list.size() == 1 ? "" : "s");
        return kFailure;
    }
    for (const DetectorBinding& meter : meters)
        std::fprintf(err, "Position %d: %s (%s, %s)\n", meter.position + 1,
                     meter.config.m_strPort.c_str(), ToTerminal(meter.config.m_strSerial).c_str(),
                     ToTerminal(meter.config.m_strTitle).c_str());

    while (!stop.load())
        DetectorProtocol::WaitMs(kStopCheckMs);

    // Off the page first, then every meter stopped at once.
    exporter.Stop();
    station.CloseAll();
    return kSuccess;
}

} // namespace Cli
