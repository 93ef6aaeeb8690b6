// Eight meters at the full 57600-baud line rate (520 readings/s each), read by the real window
// first on their pseudo-terminals and then through Debian's ser2net with RFC 2217 accepters on
// 127.0.0.1 (one server for the eight, as a rack's device server). For each way: the window's
// CPU (every thread of this process but the simulated meters', from /proc/self/task/*/schedstat),
// the readings the meters sent and the window counted, and the gaps between the characters of
// "*PWC  532" as a meter receives them after a Channel Configuration. Run by hand, on a Release
// build, with nothing else running:
//
//   bench_network [seconds per way (30)]
//
// Targets: every reading counted both ways; through the server at most 0.3 % of one core above
// the pseudo-terminals; every gap of "*PWC  532" within 1 ms of 5 ms.

#include "app/MainFrame.h"
#include "gui/MessageBox.h"
#include "sim/MeterSimulator.h"
#include "support/Ser2Net.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

constexpr int kMeters = 8;
constexpr double kLineRate = 520;
constexpr double kCpuMargin = 0.3; // % of one core
constexpr double kGapToleranceMs = 1.0;

// CPU time of this process's threads, but those of the simulated meters ("kv-meter"), in ns.
uint64_t WindowCpuNs() {
    uint64_t total = 0;
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(task + "/comm"), name);
        uint64_t ns = 0;
        if (name != "kv-meter" && (std::ifstream(task + "/schedstat") >> ns))
            total += ns;
    }
    closedir(dir);
    return total;
}

// Runs the event loop for `ms`.
void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits, with the event loop running, until `condition` holds or `ms` have passed.
template <typename Condition> bool SpinUntil(Condition condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        Spin(10);
    }
    return true;
}

struct Way {
    double cpuPercent = 0;
    uint64_t sent = 0;
    uint64_t counted = 0;
    double worstGapErrorMs = 1e9;
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
    // The auto-detection list of start-up, accepted once its probe is done.
    QTimer accept;
    QObject::connect(&accept, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* ok = modal ? modal->findChild<QPushButton*>(QStringLiteral("buttonOk")) : nullptr;
        if (ok && ok->isEnabled() && modal->objectName() == QLatin1String("AutoDetectDlg"))
            ok->click();
    });
    accept.start(20);
    const bool streaming = SpinUntil(
        [&] {
            for (int p = 0; p < kMeters; ++p)
                if (frame.GetChannel(p).ReadingCount() == 0)
                    return false;
            return true;
        },
        30000);
    accept.stop();
    if (!streaming) {
        std::printf("%s: the meters did not all stream\n", network ? "ser2net" : "pty");
        return way;
    }
    Spin(3000); // settled

    uint64_t sent0 = 0, counted0 = 0;
    for (int p = 0; p < kMeters; ++p) {
        sent0 += meters.Meter(static_cast<size_t>(p)).ReadingsSent();
        counted0 += frame.GetChannel(p).ReadingCount();
    }
    const uint64_t cpu0 = WindowCpuNs();
    QElapsedTimer wall;
    wall.start();
    Spin(seconds * 1000);
    const uint64_t cpu1 = WindowCpuNs();
    way.cpuPercent = 100.0 * static_cast<double>(cpu1 - cpu0) / (wall.nsecsElapsed());

    // The meters stopped (silent), their last lines read: what was sent was counted.
    for (int p = 0; p < kMeters; ++p)
        meters.Meter(static_cast<size_t>(p)).SetFault(MeterFault::Silence);
    Spin(1000);
    for (int p = 0; p < kMeters; ++p) {
        way.sent += meters.Meter(static_cast<size_t>(p)).ReadingsSent();
        way.counted += frame.GetChannel(p).ReadingCount();
    }
    way.sent -= sent0;
    way.counted -= counted0;
    for (int p = 0; p < kMeters; ++p)
        meters.Meter(static_cast<size_t>(p)).SetFault(MeterFault::None);

    // "*PWC  532" as the first meter receives it.
    CMeterSimulator& first = meters.Meter(0);
    first.ClearLogs();
    CChannelConfig config = frame.GetChannel(0).Config();
    config.m_nWavelength = 532;
    frame.GetChannel(0).RequestConfigure(config);
    SpinUntil([&] { return first.Wavelength() == 532; }, 5000);
    Spin(300);
    std::vector<ReceivedByte> bytes = first.ReceivedBytes();
    std::string text;
    for (const ReceivedByte& b : bytes)
        text += b.byte;
    const size_t at = text.find("*PWC  532");
    if (at != std::string::npos) {
        way.worstGapErrorMs = 0;
        std::printf("%s: gaps of \"*PWC  532\" (ms):", network ? "ser2net" : "pty");
        for (size_t i = at + 1; i < at + 9; ++i) {
            const double gap = bytes[i].timeMs - bytes[i - 1].timeMs;
            std::printf(" %.2f", gap);
            way.worstGapErrorMs = std::max(way.worstGapErrorMs, std::fabs(gap - 5.0));
        }
        std::printf("\n");
    }
    window.reset();
    way.ok = true;
    return way;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("KELVARIN_HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("KELVARIN_PORTS_ONLY", "1"); // never a meter of the machine's own
    QApplication app(argc, argv);
    SetMessageInterceptor(
        [](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    if (!HasSer2Net()) {
        std::printf("no ser2net on PATH\n");
        return 1;
    }
    const Way pty = RunWay(false, seconds);
    const Way net = RunWay(true, seconds);
    bool met = pty.ok && net.ok;
    for (const auto& [name, way] : {std::pair<const char*, const Way&>{"pty", pty},
                                    std::pair<const char*, const Way&>{"ser2net", net}}) {
        std::printf("%s: %d s, window CPU %.3f %% of one core, readings sent %llu, counted %llu, "
                    "worst gap error %.2f ms\n",
                    name, seconds, way.cpuPercent, static_cast<unsigned long long>(way.sent),
                    static_cast<unsigned long long>(way.counted), way.worstGapErrorMs);
        met = met && way.sent == way.counted && way.worstGapErrorMs <= kGapToleranceMs;
    }
    const double extra = net.cpuPercent - pty.cpuPercent;
    std::printf("through ser2net: %+.3f %% of one core (target at most +%.1f %%)\n", extra,
                kCpuMargin);
    met = met && extra <= kCpuMargin;
    std::printf("%s\n", met ? "targets met" : "FAIL: a target was missed");
    return met ? 0 : 1;
}
