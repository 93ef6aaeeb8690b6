#include "monitor/MetricsExporter.h"

bool SameMetricsSettings(const MetricsSettings& a, const MetricsSettings& b) {
    return a.enabled == b.enabled && a.endpoint.address == b.endpoint.address &&
           a.endpoint.port == b.endpoint.port && a.endpoint.authFile == b.endpoint.authFile &&
           a.endpoint.tlsFile == b.endpoint.tlsFile;
}

MetricsSettings ChangedMetricsSettings(const MetricsSettings& saved, const MetricsSettings& shown,
                                       const MetricsSettings& edited) {
    MetricsSettings result = saved;
    if (edited.enabled != shown.enabled)
        result.enabled = edited.enabled;
    if (edited.endpoint.address != shown.endpoint.address)
        result.endpoint.address = edited.endpoint.address;
    if (edited.endpoint.port != shown.endpoint.port)
        result.endpoint.port = edited.endpoint.port;
    if (edited.endpoint.authFile != shown.endpoint.authFile)
        result.endpoint.authFile = edited.endpoint.authFile;
    if (edited.endpoint.tlsFile != shown.endpoint.tlsFile)
        result.endpoint.tlsFile = edited.endpoint.tlsFile;
    return result;
}

MetricsState CMetricsExporter::Apply(const MetricsSettings& settings) {
    const bool same = SameMetricsSettings(settings, m_settings);
    m_settings = settings;
    if (!settings.enabled) {
        m_server.Stop();
        m_error.clear();
        return Now();
    }
    if (same && m_server.IsServing())
        return Now();
    m_error.clear();
    // A damaged profile's address or port is refused by the server itself.
    std::string error;
    if (!m_server.Start(settings.endpoint, error))
        m_error = error;
    return Now();
}

MetricsState CMetricsExporter::Now() const {
    MetricsState state;
    if (m_server.IsServing())
        state.url = m_server.Url();
    else if (m_settings.enabled)
        state.error = m_error;
    return state;
}
