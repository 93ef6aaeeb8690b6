#include "monitor/MetricsServer.h"

#include "monitor/MetricsPage.h"

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>

#include <CivetServer.h>
#include <civetweb.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Threads waiting for requests: a scrape gets one while this many connections, idle or
// half-sent, hold the others until their timeout.
constexpr int kServerThreads = 32;
// A connection that has not sent a whole request by then is closed.
constexpr int kRequestTimeoutMs = 2000;

class PageCollectable : public prometheus::Collectable {
public:
    explicit PageCollectable(const CMeterMetrics& metrics) : m_metrics(metrics) {}
    std::vector<prometheus::MetricFamily> Collect() const override {
        return MetricFamilies(m_metrics.Snapshot());
    }

private:
    const CMeterMetrics& m_metrics;
};

// The server's own messages (a request it could not parse, a bind it could not make) are kept
// for the failure of a start rather than printed.
std::mutex g_logLock;
std::string g_lastLog; // under g_logLock

int KeepLog(const mg_connection*, const char* message) {
    std::lock_guard<std::mutex> guard(g_logLock);
    g_lastLog = message ? message : "";
    return 1;
}

// A numeric address and port as the system takes them; returns their length.
socklen_t SocketAddress(const std::string& address, int port, sockaddr_storage& storage) {
    if (address.find(':') != std::string::npos) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&storage);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr);
        return sizeof *a6;
    }
    auto* a4 = reinterpret_cast<sockaddr_in*>(&storage);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &a4->sin_addr);
    return sizeof *a4;
}

// Binds a socket as the server will, to name the system's reason when it cannot.
std::string BindFailure(const std::string& address, int port) {
    sockaddr_storage storage{};
    const socklen_t length = SocketAddress(address, port, storage);
    const int family = storage.ss_family;
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::strerror(errno);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    std::string reason;
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0)
        reason = std::strerror(errno);
    close(fd);
    return reason;
}

// As long whatever the guess, so that a wrong password says nothing by its timing. `expected`
// is never empty (the file's form is checked).
bool SameSecret(const std::string& given, const std::string& expected) {
    size_t diff = given.size() ^ expected.size();
    for (size_t i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
    return diff == 0;
}

// A connection to the server's own port, closed at once: it wakes the server's listener, which
// otherwise looks at its stop flag only every two seconds.
void Knock(const std::string& address, int port) {
    std::string host = address;
    if (host == "0.0.0.0")
        host = "127.0.0.1";
    else if (host == "::")
        host = "::1";
    sockaddr_storage storage{};
    const socklen_t length = SocketAddress(host, port, storage);
    const int family = storage.ss_family;
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    connect(fd, reinterpret_cast<sockaddr*>(&storage), length);
    close(fd);
}

} // namespace

struct CMetricsServer::Impl {
    std::shared_ptr<PageCollectable> page;
    std::unique_ptr<prometheus::Exposer> exposer; // stopped before the page goes
    std::string address;
    std::string url;
    int port = 0;
};

CMetricsServer::CMetricsServer(const CMeterMetrics& metrics) : m_metrics(metrics) {}

CMetricsServer::~CMetricsServer() {
    Stop();
}

bool CMetricsServer::Available() {
    return true;
}

// The server is built with TLS, but loads OpenSSL by its unversioned name at run time and, on
// this platform's OpenSSL 3, calls a null function at the first encrypted request (seen: the
// whole process stops). Until a build that works is found, TLS is refused rather than crashing.
bool CMetricsServer::TlsAvailable() {
    return false;
}

bool CMetricsServer::Start(const MetricsEndpoint& endpoint, std::string& error) {
    Stop();
    const std::string where = MetricsHostPort(endpoint.address, endpoint.port);
    if (!CheckMetricsEndpoint(endpoint, error)) {
        error = "Cannot serve metrics on " + where + ": " + error;
        return false;
    }
    std::string user, password;
    if (!endpoint.authFile.empty() && !ReadBasicAuthFile(endpoint.authFile, user, password, error))
        return false;
    if (!endpoint.tlsFile.empty()) { // see TlsAvailable
        error = "Cannot serve metrics on " + where +
                ": this build cannot speak TLS; serve on 127.0.0.1 behind a TLS proxy instead";
        return false;
    }
    if (endpoint.port != 0) {
        const std::string reason = BindFailure(endpoint.address, endpoint.port);
        if (!reason.empty()) {
            error = "Cannot serve metrics on " + where + ": " + reason;
            return false;
        }
    }
    const std::vector<std::string> options = {
        "listening_ports",    where,
        "num_threads",        std::to_string(kServerThreads),
        "request_timeout_ms", std::to_string(kRequestTimeoutMs),
        "enable_keep_alive",  "no",
    };
    CivetCallbacks callbacks{};
    callbacks.log_message = KeepLog;
    auto impl = std::make_unique<Impl>();
    impl->page = std::make_shared<PageCollectable>(m_metrics);
    try {
        impl->exposer = std::make_unique<prometheus::Exposer>(options, &callbacks);
        impl->exposer->RegisterCollectable(impl->page);
        if (!user.empty()) {
            impl->exposer->RegisterAuth(
                [user, password](const std::string& u, const std::string& p) {
                    return SameSecret(u, user) & SameSecret(p, password);
                },
                "Kelvarin");
        }
    } catch (const std::exception& e) {
        std::string reason;
        {
            std::lock_guard<std::mutex> guard(g_logLock);
            reason = g_lastLog;
        }
        error = "Cannot serve metrics on " + where + ": " + (reason.empty() ? e.what() : reason);
        return false;
    }
    const std::vector<int> ports = impl->exposer->GetListeningPorts();
    impl->port = ports.empty() ? endpoint.port : ports.front();
    impl->address = endpoint.address;
    impl->url = "http://" + MetricsHostPort(endpoint.address, impl->port) + "/metrics";
    m_impl = std::move(impl);
    return true;
}

void CMetricsServer::Stop() {
    if (!m_impl)
        return;
    // The server's stop waits for its listener; knock until it has seen the stop.
    std::mutex lock;
    std::condition_variable stopped;
    bool done = false;
    std::thread knocker([&] {
        std::unique_lock<std::mutex> guard(lock);
        while (!done) {
            Knock(m_impl->address, m_impl->port);
            stopped.wait_for(guard, std::chrono::milliseconds(20));
        }
    });
    m_impl->exposer.reset();
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
    }
    stopped.notify_all();
    knocker.join();
    m_impl.reset();
}

bool CMetricsServer::IsServing() const {
    return m_impl != nullptr;
}

int CMetricsServer::Port() const {
    return m_impl ? m_impl->port : 0;
}

std::string CMetricsServer::Url() const {
    return m_impl ? m_impl->url : std::string();
}
