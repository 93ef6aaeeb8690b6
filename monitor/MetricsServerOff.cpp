// A build without the exporter: the server says so and never serves.
#include "monitor/MetricsServer.h"

struct CMetricsServer::Impl {};

CMetricsServer::CMetricsServer(const CMeterMetrics& metrics) : m_metrics(metrics) {}
CMetricsServer::~CMetricsServer() = default;

bool CMetricsServer::Start(const MetricsEndpoint&, std::string& error) {
    error = "This build of Kelvarin has no metrics exporter";
    return false;
}

void CMetricsServer::Stop() {}
bool CMetricsServer::IsServing() const {
    return false;
}
int CMetricsServer::Port() const {
    return 0;
}
std::string CMetricsServer::Url() const {
    return std::string();
}
bool CMetricsServer::Available() {
    return false;
}
bool CMetricsServer::TlsAvailable() {
    return false;
}

std::string MetricsPageText(const MetricsSnapshot&) {
    return std::string();
}
