// Soak test, run by hand: the application on the offscreen platform with eight meters streaming
// at the full 57600-baud line rate from a separate kelvarin-sim process, panes switched through
// the three displays, graphs and statistics reset now and then, and faults injected: a meter
// that sends lines that are not numbers, one that never ends its lines, one that hangs up part
// way, one that stays silent. Prints CPU, resident memory and readings sent and counted, and
// exits non-zero on a UI stall over 500 ms, memory growth over 1 MB after warm-up, a lost
// reading or a pane gone wrong.
//
//   soak [seconds (600)] [path/to/kelvarin-sim]

#include "app/MainFrame.h"
#include "channel/KelvarinView.h"
#include "res/CommandIds.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Meters 0 to 3 are healthy; 4 adds garbage lines; 5 never ends a line; 6 hangs up a third of the
// way through; 7 is silent from the start (so it takes no position).
constexpr int kMeters = 8;
constexpr int kGarbage = 4;
constexpr int kNoLineEnd = 5;
constexpr int kHangUp = 6;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ResidentMiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::map<int, unsigned long long> SentCounts(QProcess& sim) {
    sim.readAllStandardOutput();
    sim.write("count\n");
    std::map<int, unsigned long long> sent;
    for (int tries = 0; tries < 50 && static_cast<int>(sent.size()) < kMeters; ++tries) {
        sim.waitForReadyRead(100);
        while (sim.canReadLine()) {
            int index = 0;
            unsigned long long n = 0;
            if (std::sscanf(sim.readLine().constData(), "sent %d %llu", &index, &n) == 2)
                sent[index] = n;
        }
    }
    return sent;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(30, std::atoi(argv[1])) : 600;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("KELVARIN_HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("KELVARIN_PORTS_ONLY", "1");
    QApplication app(argc, argv);
    const QString simulator = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                       : QCoreApplication::applicationDirPath() +
                                             QStringLiteral("/../sim/kelvarin-sim");

    QProcess sim;
    sim.start(simulator, {QStringLiteral("8"), QStringLiteral("--rate"), QStringLiteral("520"),
                          QStringLiteral("--fault"), QStringLiteral("4=garbage"),
                          QStringLiteral("--fault"), QStringLiteral("5=no-crlf"),
                          QStringLiteral("--fault"), QStringLiteral("7=silence")});
    QString ports;
    for (int tries = 0; tries < 50 && ports.isEmpty(); ++tries) {
        sim.waitForReadyRead(100);
        while (sim.canReadLine()) {
            const QString line = QString::fromLatin1(sim.readLine()).trimmed();
            if (line.startsWith(QStringLiteral("KELVARIN_PORTS=")))
                ports = line.mid(15);
        }
    }
    if (ports.isEmpty()) {
        std::fprintf(stderr, "soak: cannot start %s\n", qPrintable(simulator));
        return 1;
    }
    qputenv("KELVARIN_PORTS", ports.toLatin1());

    const double rssStart = ResidentMiB();
    CMainFrame frame;
    frame.resize(1600, 1000);
    frame.show();
    // Accept the auto-detection list as soon as its probe is over.
    QTimer accept;
    QObject::connect(&accept, &QTimer::timeout, [&accept] {
        if (QWidget* modal = QApplication::activeModalWidget())
            if (auto* ok = modal->findChild<QPushButton*>(QStringLiteral("buttonOk")))
                if (ok->isEnabled()) {
                    accept.stop();
                    ok->click();
                }
    });
    accept.start(50);
    for (int waited = 0; frame.ConnectedCount() < 7 && waited < 30000; waited += 100)
        RunFor(100);
    if (frame.ConnectedCount() != 7) {
        std::fprintf(stderr, "soak: %d panes connected, expected 7\n", frame.ConnectedCount());
        return 1;
    }
    // Pane p shows meter p for the seven meters that answered (the silent one takes none).
    for (int p = 0; p < 8; ++p)
        frame.GetView(p)->m_nDisplayMode = CKelvarinView::Graphic;

    // UI watchdog: the heartbeat is the UI thread's, the check another thread's.
    std::atomic<long long> heartbeat{0};
    std::atomic<long long> worstGapMs{0};
    std::atomic<bool> watching{true};
    const auto nowMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   Clock::now().time_since_epoch())
            .count();
    };
    heartbeat = nowMs();
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] { heartbeat = nowMs(); });
    beat.start(20);
    std::thread watchdog([&] {
        while (watching) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const long long gap = nowMs() - heartbeat.load();
            if (gap > worstGapMs)
                worstGapMs = gap;
        }
    });

    RunFor(10000); // warm-up: buffers fill to their caps
    const double rssWarm = ResidentMiB();

    // Graph display only: the CPU figure.
    const int graphPhaseMs = std::min(60000, seconds * 1000 / 4);
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    RunFor(graphPhaseMs);
    const double graphCpu =
        (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();

    // The rest: displays switched, resets, the hang-up a third of the way through.
    const auto end = Clock::now() + std::chrono::seconds(seconds) -
                     std::chrono::milliseconds(graphPhaseMs);
    const auto hangUpAt = Clock::now() + (end - Clock::now()) / 3;
    bool hungUp = false;
    int round = 0;
    cpu0 = CpuSeconds();
    t0 = Clock::now();
    while (Clock::now() < end) {
        RunFor(1000);
        ++round;
        if (round % 5 == 0)
            for (int p = 0; p < 8; ++p)
                frame.GetView(p)->m_nDisplayMode = (round / 5 + p) % 3;
        if (round % 17 == 0)
            frame.OnCommand(Command::ResetGraphics);
        if (round % 23 == 0)
            frame.OnCommand(Command::ResetAllStatistics);
        if (round % 29 == 0)
            frame.OnCommand(Command::ResetAll);
        if (!hungUp && Clock::now() >= hangUpAt) {
            sim.write("fault 6 hangup\n");
            hungUp = true;
        }
    }
    const double mixedCpu =
        (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();

    // Stop the streams, let the panes drain what is queued, then compare.
    for (int m = 0; m < kMeters; ++m)
        sim.write(QStringLiteral("fault %1 silence\n").arg(m).toLatin1());
    RunFor(1500);
    const double rssEnd = ResidentMiB();
    const std::map<int, unsigned long long> sent = SentCounts(sim);
    watching = false;
    watchdog.join();

    bool failed = false;
    std::printf("soak: %d s, 8 meters at 520 readings/s (4 garbage, 5 no CR LF, 6 hangs up, "
                "7 silent)\n",
                seconds);
    std::printf("CPU of the application: %.2f %% of one core in the graph display, %.2f %% "
                "with displays switching and resets\n",
                100.0 * graphCpu, 100.0 * mixedCpu);
    std::printf("resident memory: %.1f MiB at start, %.1f MiB after warm-up, %.1f MiB at the end "
                "(growth %.2f MiB)\n",
                rssStart, rssWarm, rssEnd, rssEnd - rssWarm);
    if (rssEnd - rssWarm > 1.0) {
        std::printf("FAIL: memory grew by more than 1 MB after warm-up\n");
        failed = true;
    }
    for (int p = 0; p < 7; ++p) {
        CKelvarinView* view = frame.GetView(p);
        const unsigned long long counted = view->m_nReadingCount.load();
        const auto it = sent.find(p);
        const unsigned long long sentCount = it == sent.end() ? 0 : it->second;
        std::printf("meter %d: sent %llu, counted by pane %d: %llu%s\n", p, sentCount, p + 1,
                    counted,
                    p == kNoLineEnd  ? " (no line ends: none expected)"
                    : p == kHangUp   ? " (hung up)"
                    : p == kGarbage ? " (with garbage lines)"
                                     : "");
        if (p == kNoLineEnd) {
            if (counted != 0) {
                std::printf("FAIL: readings taken from a stream without line ends\n");
                failed = true;
            }
        } else if (p != kHangUp && counted != sentCount) {
            std::printf("FAIL: pane %d lost readings\n", p + 1);
            failed = true;
        }
        if (!view->IsConnected()) {
            std::printf("FAIL: pane %d disconnected\n", p + 1);
            failed = true;
        }
    }
    std::printf("longest UI stall after start-up: %lld ms\n", worstGapMs.load());
    if (worstGapMs > 500) {
        std::printf("FAIL: the UI thread stalled for more than 500 ms\n");
        failed = true;
    }
    sim.terminate();
    sim.waitForFinished(5000);
    std::printf(failed ? "soak: FAILED\n" : "soak: passed\n");
    return failed ? 1 : 0;
}
