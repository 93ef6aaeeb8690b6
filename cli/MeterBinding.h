#pragma once
// What record and monitor share: the meters of the ports probed, bound to the station's
// positions as the window binds its auto-detection list and connected all at once, their losses
// and resumes told on the error stream, and the metrics page served for them.

#include "monitor/MetricsExporter.h"
#include "station/MeterStation.h"

#include <cstdio>
#include <string>
#include <vector>

namespace Cli {

// Prints each loss of a meter on `err` (followed by `lostNote` when there is one) and each resume.
CMeterStation::OnEvent PrintMeterEvents(FILE* err, const char* lostNote = nullptr);

// Probes `ports` all at once, binds the meters that answer to the station's positions and
// connects them, waiting until each connection is made or has failed (told on `err`; `named`
// ports that the system refuses are told too). The meters bound, in position order; none when
// none answered.
std::vector<DetectorBinding>
BindMeters(CMeterStation& station, const std::vector<std::string>& ports, bool named, FILE* err);

// Serves the station's page on `endpoint`; false with the reason on `err` when it cannot.
bool ServeMetrics(CMetricsExporter& exporter, const MetricsEndpoint& endpoint, FILE* err);

} // namespace Cli
