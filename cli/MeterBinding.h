#pragma once
// What record and monitor share: the meters of the ports probed, bound to positions as the
// window binds its auto-detection list and connected all at once, and the metrics page served
// for them.

#include "channel/Channel.h"
#include "detectors/ChannelConfig.h"
#include "monitor/MeterMetrics.h"
#include "monitor/MetricsServer.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace Cli {

// A meter bound to a position, on its channel. Its losses and resumes are printed on the error
// stream as the channel's worker tells them, a loss followed by `lostNote` when there is one.
struct BoundMeter {
    BoundMeter(const CChannelConfig& record, FILE* err, const char* lostNote);
    const CChannelConfig config;
    CChannel channel;
};

// Probes `ports` all at once, binds the meters that answer and connects them, waiting until
// each connection is made or has failed (told on `err`; `named` ports that the system refuses
// are told too). The meters bound, in position order; none when none answered.
std::vector<std::unique_ptr<BoundMeter>> BindMeters(const std::vector<std::string>& ports,
                                                    bool named, FILE* err,
                                                    const char* lostNote = nullptr);
// Takes the meters off `shown` (a scrape under way ends first), then stops every meter ("*CSU")
// and closes its port.
void CloseAll(std::vector<std::unique_ptr<BoundMeter>>& meters, CMeterMetrics* shown = nullptr);
// The meters as the metrics page shows them (position 1 to 8).
std::vector<MeteredChannel> MeteredChannels(const std::vector<std::unique_ptr<BoundMeter>>& meters);

// Starts `server` on `endpoint`; false with the reason on `err` when it cannot.
bool ServeMetrics(CMetricsServer& server, const MetricsEndpoint& endpoint, FILE* err);

} // namespace Cli
