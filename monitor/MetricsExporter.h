#pragma once
// The life of a program's exporter: the settings in effect (which may be those of the command
// line, for one run, rather than the profile's) and the server that serves them, started,
// restarted or stopped as they change, with the reason when it cannot serve.

#include "monitor/MetricsServer.h"

#include <string>

// The exporter's settings (the window keeps them in the profile's section "Metrics").
struct MetricsSettings {
    bool enabled = false;
    MetricsEndpoint endpoint;
};
bool SameMetricsSettings(const MetricsSettings& a, const MetricsSettings& b);
// `saved` with the fields in which `edited` differs from `shown` (what a dialog showed): what a
// user changed, and nothing else, goes into the profile.
MetricsSettings ChangedMetricsSettings(const MetricsSettings& saved, const MetricsSettings& shown,
                                       const MetricsSettings& edited);

// What the exporter does: serving at `url`, or not, for `error` when it was asked to serve.
struct MetricsState {
    std::string url;
    std::string error;
};

class CMetricsExporter {
public:
    // `metrics` must outlive the exporter.
    explicit CMetricsExporter(const CMeterMetrics& metrics) : m_server(metrics) {}

    // Puts `settings` in effect: starts, restarts or stops the server (not when it already
    // serves them, so scrapes go on uninterrupted), and says what it does then.
    MetricsState Apply(const MetricsSettings& settings);
    MetricsState Now() const;
    const MetricsSettings& InEffect() const { return m_settings; }
    const CMetricsServer& Server() const { return m_server; }
    // Stops serving; no scrape is under way once it returns.
    void Stop() { m_server.Stop(); }

private:
    CMetricsServer m_server;
    MetricsSettings m_settings;
    std::string m_error; // why it does not serve while it should
};
