// The exporter's cost, run by hand: eight channels streaming from simulated meters, their page
// built on its own and scraped over HTTP from this thread. Prints the time to build the page,
// the wall time of a scrape, and the CPU the server spends per scrape (the process's CPU less
// this thread's and less the channels' own over an equal time without scrapes), with what it
// means at one scrape per second.
//
//   bench_metrics [SCRAPES (2000)]

#include "channel/Channel.h"
#include "monitor/MeterMetrics.h"
#include "monitor/MetricsServer.h"
#include "sim/MeterSimulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One GET /metrics, asking for gzip as Prometheus does when `gzip`; the bytes of the answer,
// 0 when there was none.
size_t Scrape(int port, bool gzip) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    size_t received = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = std::string("GET /metrics HTTP/1.0\r\n") +
                                    (gzip ? "Accept-Encoding: gzip\r\n" : "") + "\r\n";
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
            char buffer[16384];
            ssize_t n;
            while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
                received += static_cast<size_t>(n);
        }
    }
    close(fd);
    return received;
}

} // namespace

int main(int argc, char** argv) {
    const int scrapes = argc > 1 ? std::max(100, std::atoi(argv[1])) : 2000;
    std::vector<std::unique_ptr<CMeterSimulator>> meters;
    std::vector<std::unique_ptr<CChannel>> channels;
    std::vector<MeteredChannel> shown;
    std::string error;
    for (int i = 0; i < 8; ++i) {
        MeterProfile profile;
        profile.name = "KLV-BENCH";
        profile.serialReply = "S/N KB100" + std::to_string(i);
        meters.push_back(std::make_unique<CMeterSimulator>(profile));
        if (!meters.back()->Start(error)) {
            std::fprintf(stderr, "bench_metrics: %s\n", error.c_str());
            return 1;
        }
        CChannelConfig config;
        config.m_strPort = meters.back()->PortPath();
        config.m_strSerial = "KB100" + std::to_string(i);
        config.m_strName = profile.name;
        config.m_strTitle = "Head_" + std::to_string(i + 1);
        config.m_nPosition = i;
        channels.push_back(std::make_unique<CChannel>());
        channels.back()->RequestConnect(config, false);
        shown.push_back({i + 1, channels.back().get()});
    }
    CMeterMetrics metrics;
    metrics.SetChannels(shown);
    const auto streaming = [&] {
        for (const auto& channel : channels)
            if (channel->ReadingCount() == 0)
                return false;
        return true;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!streaming() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!streaming()) {
        std::fputs("bench_metrics: the meters did not stream\n", stderr);
        return 1;
    }

    const int pages = 20000;
    size_t bytes = 0;
    auto start = Clock::now();
    for (int i = 0; i < pages; ++i)
        bytes += MetricsPageText(metrics.Snapshot()).size();
    std::printf("page of 8 meters: %.1f us to build (%zu bytes)\n", Since(start) / pages * 1e6,
                bytes / pages);

    bool ok = true;
    CMetricsServer server(metrics);
    MetricsEndpoint endpoint;
    endpoint.port = 0;
    if (!server.Start(endpoint, error)) {
        std::fprintf(stderr, "bench_metrics: %s\n", error.c_str());
        return 1;
    }
    for (const bool gzip : {false, true}) {
        const double process0 = CpuSeconds(RUSAGE_SELF);
        const double thread0 = CpuSeconds(RUSAGE_THREAD);
        start = Clock::now();
        size_t answered = 0;
        for (int i = 0; i < scrapes; ++i)
            answered += Scrape(server.Port(), gzip) > 0;
        const double wall = Since(start);
        const double busy = CpuSeconds(RUSAGE_SELF) - process0;
        const double client = CpuSeconds(RUSAGE_THREAD) - thread0;
        // The channels' own cost over as long without scrapes (this thread sleeps).
        const double idle0 = CpuSeconds(RUSAGE_SELF);
        std::this_thread::sleep_for(std::chrono::duration<double>(wall));
        const double idle = CpuSeconds(RUSAGE_SELF) - idle0;
        const double perScrape = (busy - client - idle) / scrapes;
        std::printf("scrape over HTTP%s: %.3f ms wall; the server's CPU %.1f us per scrape (%zu "
                    "of %d answered); at one scrape per second %.4f %% of one core\n",
                    gzip ? " with gzip" : "", wall / scrapes * 1e3, perScrape * 1e6, answered,
                    scrapes, perScrape * 100);
        ok &= answered == static_cast<size_t>(scrapes);
    }
    server.Stop();
    for (auto& channel : channels)
        channel->RequestClose();
    return ok ? 0 : 1;
}
