#pragma once
// The exporter's HTTP server: GET /metrics answers the page of a CMeterMetrics; any other path
// is 404 and any other method refused. It listens on 127.0.0.1 unless an address is given,
// optionally asks for a user and password (HTTP basic authentication), and would speak TLS with
// a PEM file holding a certificate and its key where the server's build can (TlsAvailable). Idle or
// half-sent connections time out, and enough threads wait for requests that a few of them never
// hold up a scrape.

#include "monitor/MeterMetrics.h"

#include <memory>
#include <string>

struct MetricsEndpoint {
    std::string address = "127.0.0.1"; // a numeric IPv4 or IPv6 address
    int port = kDefaultMetricsPort;    // 0: one the system chooses (tests)
    std::string authFile;              // "user:password", private to its owner
    std::string tlsFile;               // PEM: the certificate and its private key
};

// "[ADDR:]PORT" ("10640", "0.0.0.0:10640", "[::1]:10640") into `endpoint`'s address and
// port; false with a message when it is not one.
bool ParseMetricsListen(const std::string& text, MetricsEndpoint& endpoint, std::string& error);
// Why `address` cannot be listened on: empty for a numeric IPv4 or IPv6 address (no host name:
// the exporter listens where it is told), else a sentence naming it.
std::string MetricsAddressError(const std::string& address);
// Whether a server can be asked to listen there: such an address and a port from 0 to 65535
// (one out of range would be cut to 16 bits and listen elsewhere). False with the reason.
bool CheckMetricsEndpoint(const MetricsEndpoint& endpoint, std::string& error);
// "ADDR:PORT" as an address is written in a URL (an IPv6 one in brackets).
std::string MetricsHostPort(const std::string& address, int port);

// The user and password of an authentication file, its first line "user:password". False with
// a message when it cannot be read, is not of that form, or can be read by other users.
bool ReadBasicAuthFile(const std::string& path, std::string& user, std::string& password,
                       std::string& error);

class CMetricsServer {
public:
    // `metrics` must outlive the server.
    explicit CMetricsServer(const CMeterMetrics& metrics);
    ~CMetricsServer(); // stops; no scrape runs once it has returned
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Stops a server under way, then listens on `endpoint`. False with a message naming the
    // address and the system's reason when it cannot.
    bool Start(const MetricsEndpoint& endpoint, std::string& error);
    void Stop();
    bool IsServing() const;
    // While serving: the port listened on and "http://ADDR:PORT/metrics".
    int Port() const;
    std::string Url() const;

    // Whether this build can serve at all, and whether it can speak TLS.
    static bool Available();
    static bool TlsAvailable();

private:
    struct Impl;
    const CMeterMetrics& m_metrics;
    std::unique_ptr<Impl> m_impl;
};
