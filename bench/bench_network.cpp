// Eight meters at the full 57600-baud line rate (520 readings/s each), read by the real window
// first on their pseudo-terminals and then through Debian's ser2net with RFC 2217 accepters on
// 127.0.0.1 (one server for the eight, as a rack's device server). For each way: the window's
// CPU (every thread of this process but the simulated meters', from /proc/self/task/*/schedstat),
// the readings the meters sent and the window counted, and the gaps between the characters of
// "*PWC  532" as a meter receives them after a Channel Configuration. Run by hand, on a Release
// build, with nothing else running:
//
//   bench_network [seconds per way (30)] [pty | ser2net (both)]
//
// Targets: every reading counted both ways; through the server at most 0.3 % of one core above
// the pseudo-terminals; the median gap of "*PWC  532" within 1 ms of 5 ms. The spread is printed
// beside it: a gap is stamped when the simulator's thread has read the byte, and a thread of this
// machine now and then wakes a millisecond or two late, on a pseudo-terminal as through the
// server.

#include "app/MainFrame.h"
#include "bench/BenchWindow.h"
#include "sim/MeterSimulator.h"
#include "support/Ser2Net.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace Bench;

constexpr int kMeters = 8;
constexpr double kLineRate = 520;
constexpr double kCpuMargin = 0.3; // % of one core
constexpr double kGapToleranceMs = 1.0;

struct Way {
    double cpuPercent = 0;
    uint64_t sent = 0;
    uint64_t counted = 0;
    double medianGapMs = 0;
    double p95GapMs = 0;
    double worstGapErrorMs = 1e9;
    double p95GapErrorMs = 1e9;
    bool ok = false;
};

Way RunWay(bool network, int seconds) {
    Way way;
    std::vector<MeterProfile> profiles;
    for (int i = 0; i < kMeters; ++i) {
        profiles.push_back(DefaultMeterProfile(i));
        profiles.back().readingsPerSecond = kLineRate;
    }
    CSimulatorSet meters;
    std::string error;
    if (!meters.Start(profiles, error)) {
        std::fprintf(stderr, "meter simulator: %s\n", error.c_str());
        return way;
    }
    QTemporaryDir folder;
    std::unique_ptr<Ser2Net> server;
    std::vector<std::string> ports = meters.PortPaths();
    if (network) {
        server = std::make_unique<Ser2Net>(folder.path().toStdString(), ports, true);
        if (!server->WaitReady()) {
            std::fprintf(stderr, "ser2net: %s\n", server->Errors().c_str());
            return way;
        }
        for (size_t i = 0; i < ports.size(); ++i)
            ports[i] = server->Url(i);
    }
    std::string variable;
    for (const std::string& port : ports)
        variable += (variable.empty() ? "" : ":") + port;
    qputenv("KELVARIN_PORTS", QByteArray::fromStdString(variable));

    auto window = std::make_unique<CMainFrame>();
    CMainFrame& frame = *window;
    frame.show();
    auto accept = std::make_unique<AcceptStartUpList>();
    const bool streaming = SpinUntil(
        [&] {
            for (int p = 0; p < kMeters; ++p)
                if (frame.GetChannel(p).ReadingCount() == 0)
                    return false;
            return true;
        },
        30000);
    accept.reset();
    if (!streaming) {
        std::printf("%s: the meters did not all stream\n", network ? "ser2net" : "pty");
        return way;
    }
    Spin(3000); // settled

    const CpuTimes cpu0 = WindowCpu();
    QElapsedTimer wall;
    wall.start();
    Spin(seconds * 1000);
    const CpuTimes cpu1 = WindowCpu();
    const double wallNs = static_cast<double>(wall.nsecsElapsed());
    way.cpuPercent = 100.0 * static_cast<double>(cpu1.total - cpu0.total) / wallNs;
    std::printf("%s: CPU by thread (%% of one core):", network ? "ser2net" : "pty");
    for (const auto& [name, ns] : cpu1.byName) {
        const auto before = cpu0.byName.find(name);
        const uint64_t start = before == cpu0.byName.end() ? 0 : before->second;
        std::printf(" %s %.3f", name.c_str(), 100.0 * static_cast<double>(ns - start) / wallNs);
    }
    std::printf("\n");

    // The meters stopped (silent), their last lines read: every line a meter sent since it
    // started was counted (a meter streams only once its channel has started it).
    for (int p = 0; p < kMeters; ++p)
        meters.Meter(static_cast<size_t>(p)).SetFault(MeterFault::Silence);
    Spin(1000);
    for (int p = 0; p < kMeters; ++p) {
        way.sent += meters.Meter(static_cast<size_t>(p)).ReadingsSent();
        way.counted += frame.GetChannel(p).ReadingCount();
    }
    for (int p = 0; p < kMeters; ++p)
        meters.Meter(static_cast<size_t>(p)).SetFault(MeterFault::None);

    // "*PWC  532" (and back to the meter's own wavelength) as the first meter receives it, ten
    // times: the gaps between its characters, sorted.
    CMeterSimulator& first = meters.Meter(0);
    std::vector<double> gaps;
    for (int exchange = 0; exchange < 10; ++exchange) {
        const int wavelength = exchange % 2 == 0 ? 532 : 1064;
        const std::string command = wavelength == 532 ? "*PWC  532" : "*PWC 1064";
        first.ClearLogs();
        CChannelConfig config = frame.GetChannel(0).Config();
        config.m_nWavelength = wavelength;
        frame.GetChannel(0).RequestConfigure(config);
        SpinUntil([&] { return first.Wavelength() == wavelength; }, 5000);
        Spin(300);
        const std::vector<ReceivedByte> bytes = first.ReceivedBytes();
        std::string text;
        for (const ReceivedByte& b : bytes)
            text += b.byte;
        const size_t at = text.find(command);
        if (at == std::string::npos)
            return way;
        for (size_t i = at + 1; i < at + command.size(); ++i)
            gaps.push_back(bytes[i].timeMs - bytes[i - 1].timeMs);
    }
    std::sort(gaps.begin(), gaps.end());
    way.medianGapMs = gaps[gaps.size() / 2];
    way.p95GapMs = gaps[gaps.size() * 95 / 100];
    way.worstGapErrorMs = std::max(std::fabs(gaps.front() - 5.0), std::fabs(gaps.back() - 5.0));
    way.p95GapErrorMs = std::max(std::fabs(gaps[gaps.size() * 5 / 100] - 5.0),
                                 std::fabs(gaps[gaps.size() * 95 / 100] - 5.0));
    window.reset();
    way.ok = true;
    return way;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    UsePrivateSetup(home);
    QApplication app(argc, argv);
    PrintMessages();
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    if (!HasSer2Net()) {
        std::printf("no ser2net on PATH\n");
        return 1;
    }
    // A third argument, "pty" or "ser2net", runs that way alone (for perf).
    const std::string only = argc > 2 ? argv[2] : "";
    const Way pty = only == "ser2net" ? Way{} : RunWay(false, seconds);
    const Way net = only == "pty" ? Way{} : RunWay(true, seconds);
    bool met = pty.ok && net.ok;
    for (const auto& [name, way] : {std::pair<const char*, const Way&>{"pty", pty},
                                    std::pair<const char*, const Way&>{"ser2net", net}}) {
        std::printf("%s: %d s, window CPU %.3f %% of one core, readings sent %llu, counted %llu; "
                    "80 gaps of \"*PWC\": median %.2f ms, 95th percentile %.2f ms, error from "
                    "5 ms: 90 %% within %.2f ms, worst %.2f ms\n",
                    name, seconds, way.cpuPercent, static_cast<unsigned long long>(way.sent),
                    static_cast<unsigned long long>(way.counted), way.medianGapMs, way.p95GapMs,
                    way.p95GapErrorMs, way.worstGapErrorMs);
        met = met && way.sent == way.counted && std::fabs(way.medianGapMs - 5.0) <= kGapToleranceMs;
    }
    const double extra = net.cpuPercent - pty.cpuPercent;
    std::printf("through ser2net: %+.3f %% of one core (target at most +%.1f %%)\n", extra,
                kCpuMargin);
    met = met && extra <= kCpuMargin;
    std::printf("%s\n", met ? "targets met" : "FAIL: a target was missed");
    return met ? 0 : 1;
}
