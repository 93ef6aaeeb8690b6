// Soak test, run by hand: first the application alone (no meter) for its idle CPU, then with eight
// meters streaming at the full 57600-baud line rate from a separate kelvarin-sim process, an
// acquisition of all eight channels at a 1 s period for the whole length, panes switched through
// the four displays, graphs and statistics reset now and then, and faults injected: a meter that
// sends lines that are not numbers, one that never ends its lines, one unplugged and plugged in
// again part way (through its stable link), one that falls silent. Prints CPU, wake-ups, resident
// memory, readings sent and counted, and exits non-zero when the CPU exceeds its target (3 % of one
// core for eight meters in the graph display, 0.5 % idle, every pane in the tuning display at
// most twice the graph display), on a UI stall over 500 ms, memory growth over 1 MB after
// warm-up, a lost reading, a pane gone wrong, or an acquisition file without exactly D / P + 1
// lines of eight readings or with a line more than 50 ms late.
//
// With KELVARIN_SOAK_SCRAPE=1 the window also serves its metrics page, scraped every second (with
// gzip, as Prometheus asks) by a curl loop outside the process, so that the figures include
// the exporter's cost and nothing of the scraper's.
//
//   soak [seconds (600)] [path/to/kelvarin-sim]
//   QT_QPA_PLATFORM=xcb xvfb-run -a soak ...   (the window on a display server)

#include "acquisition/AcquisitionEngine.h"
#include "acquisition/AcquisitionReader.h"
#include "app/MainFrame.h"
#include "channel/KelvarinView.h"
#include "gui/MessageBox.h"
#include "res/CommandIds.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Meters 0 to 3 are healthy; 4 adds garbage lines; 5 never ends a line; 6 is unplugged a third of
// the way through and comes back; 7 falls silent after the graph phase.
constexpr int kMeters = 8;
constexpr int kGarbage = 4;
constexpr int kNoLineEnd = 5;
constexpr int kReplugged = 6;
constexpr int kSilent = 7;
constexpr double kGraphTarget = 0.03;
constexpr double kTuningFactor = 2.0; // the tuning display's CPU against the graph display's
constexpr double kIdleTarget = 0.005;
constexpr long long kLateLimitMs = 50;

struct Usage {
    double cpuSeconds = 0;
    long long switches = 0; // context switches of every thread: the wake-ups
    Clock::time_point at;
};

Usage Sample() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    Usage u;
    u.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    u.switches = usage.ru_nvcsw + usage.ru_nivcsw;
    u.at = Clock::now();
    return u;
}

struct Figure {
    double cpu = 0;     // fraction of one core
    double wakeUps = 0; // per second
};

Figure Between(const Usage& a, const Usage& b) {
    const double s = std::chrono::duration<double>(b.at - a.at).count();
    return {(b.cpuSeconds - a.cpuSeconds) / s, static_cast<double>(b.switches - a.switches) / s};
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

// Accepts the auto-detection list as soon as its probe is over.
class AutoAccept {
public:
    AutoAccept() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget())
                if (auto* ok = modal->findChild<QPushButton*>(QStringLiteral("buttonOk")))
                    if (ok->isEnabled()) {
                        m_timer.stop();
                        ok->click();
                    }
        });
        m_timer.start(50);
    }

private:
    QTimer m_timer;
};

// The longest the UI thread went without running a 100 ms timer, beyond its interval; measured on
// the UI thread itself so that the watchdog adds no thread and no wake-ups of its own.
class StallWatch {
public:
    StallWatch() {
        m_last = Clock::now();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            const long long gap =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - m_last).count() - 100;
            m_worst = std::max(m_worst, gap);
            m_last = now;
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.start(100);
    }
    long long WorstMs() const { return m_worst; }

private:
    QTimer m_timer;
    Clock::time_point m_last;
    long long m_worst = 0;
};

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(60, std::atoi(argv[1])) : 600;
    // Offscreen unless a platform is named: QT_QPA_PLATFORM=xcb under xvfb-run measures the
    // window as a display server shows it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("KELVARIN_HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("KELVARIN_PORTS_ONLY", "1");
    QApplication app(argc, argv);
    QStringList messages;
    SetMessageInterceptor([&messages](const QString& text) { messages << text; });
    const QString simulator =
        argc > 2 ? QString::fromLocal8Bit(argv[2])
                 : QCoreApplication::applicationDirPath() + QStringLiteral("/../sim/kelvarin-sim");
    bool failed = false;

    // Idle: the window with no meter at all, once the empty auto-detection is over.
    Figure idle;
    {
        CMainFrame frame;
        frame.resize(1600, 1000);
        frame.show();
        AutoAccept accept;
        RunFor(8000);
        const Usage a = Sample();
        RunFor(20000);
        idle = Between(a, Sample());
    }
    std::printf("idle (no meter): %.3f %% of one core, %.1f wake-ups/s\n", 100.0 * idle.cpu,
                idle.wakeUps);
    if (idle.cpu > kIdleTarget) {
        std::printf("FAIL: idle CPU over %.1f %%\n", 100.0 * kIdleTarget);
        failed = true;
    }

    const QString links = home.path() + QStringLiteral("/by-id");
    QDir().mkpath(links);
    QProcess sim;
    // The meters go with this process, however it ends: a crash must not leave eight of them
    // streaming into ports nobody reads, loading the machine for whatever runs next.
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    sim.start(simulator,
              {QStringLiteral("8"), QStringLiteral("--rate"), QStringLiteral("520"),
               QStringLiteral("--fault"), QStringLiteral("4=garbage"), QStringLiteral("--fault"),
               QStringLiteral("5=no-crlf"), QStringLiteral("--links"), links});
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
    {
        AutoAccept accept;
        for (int waited = 0; frame.ConnectedCount() < kMeters && waited < 30000; waited += 100)
            RunFor(100);
    }
    if (frame.ConnectedCount() != kMeters) {
        std::fprintf(stderr, "soak: %d panes connected, expected 8\n", frame.ConnectedCount());
        return 1;
    }
    for (int p = 0; p < kMeters; ++p)
        frame.GetView(p)->OnCommand(Command::GraphicDisplay);
    qint64 scraper = 0;
    if (qEnvironmentVariableIntValue("KELVARIN_SOAK_SCRAPE") == 1) {
        MetricsEndpoint endpoint;
        endpoint.port = 0;
        frame.StartMetrics(endpoint);
        const QString url = QString::fromStdString(frame.MetricsServer().Url());
        if (url.isEmpty()) {
            std::fprintf(stderr, "soak: the metrics page is not served\n");
            return 1;
        }
        QProcess::startDetached(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"),
             QStringLiteral("while sleep 1; do curl -s -o /dev/null -H 'Accept-Encoding: gzip' "
                            "%1; done")
                 .arg(url)},
            QString(), &scraper);
        std::printf("metrics served on %s, scraped every second\n", qPrintable(url));
    }
    struct StopScraper {
        qint64 pid;
        ~StopScraper() {
            if (pid > 0)
                kill(static_cast<pid_t>(pid), SIGTERM);
        }
    } stopScraper{scraper};

    StallWatch stalls;
    // Warm-up: buffers fill to their caps; every display has been shown once (the panes' text
    // and glyph caches hold what they show); with scrapes, every thread of the metrics server has
    // served (each keeps the compression buffers of its last scrape, about 270 KB, in its
    // malloc arena: reached within a minute, flat afterwards).
    for (const int display : {Command::RealTimeDisplay, Command::StatisticsDisplay,
                              Command::TuningDisplay, Command::GraphicDisplay}) {
        for (int p = 0; p < kMeters; ++p)
            frame.GetView(p)->OnCommand(display);
        RunFor(2000);
    }
    RunFor(scraper > 0 ? 60000 : 10000);
    const double rssWarm = ResidentMiB();

    // Graph display with live graphs (each pane drawing its last 2000 readings): the CPU figure.
    const int graphPhaseMs = std::min(60000, seconds * 1000 / 4);
    Usage a = Sample();
    RunFor(graphPhaseMs);
    const Figure graph = Between(a, Sample());

    // Every pane in the tuning display, repainted every 50 ms: at most twice the graph's CPU.
    for (int p = 0; p < kMeters; ++p)
        frame.GetView(p)->OnCommand(Command::TuningDisplay);
    a = Sample();
    RunFor(graphPhaseMs);
    const Figure tuning = Between(a, Sample());
    for (int p = 0; p < kMeters; ++p)
        frame.GetView(p)->OnCommand(Command::GraphicDisplay);

    // Then every channel recorded every second, for the whole length; while a run goes the
    // graphs take one point per tick.
    CAcquisitionPlan plan = frame.Station().Plan();
    plan.m_strAcqBaseName = (home.path() + QStringLiteral("/soak")).toStdString();
    plan.m_nSamplingPeriod = 1;
    plan.m_nDuration = seconds;
    plan.m_bByTime = false;
    frame.Station().SetPlan(plan, std::time(nullptr));
    frame.OnCommand(Command::StartAcquisition);
    if (!frame.Station().IsAcquiring()) {
        std::fprintf(stderr, "soak: the acquisition did not start: %s\n",
                     qPrintable(messages.join(QLatin1Char('\n'))));
        return 1;
    }
    const std::string file = frame.Station().AcquisitionFile();
    a = Sample();
    RunFor(graphPhaseMs);
    const Figure recording = Between(a, Sample());

    // The rest: displays switched, resets, the re-plug a third of the way through.
    sim.write("fault 7 silence\n");
    const auto end =
        Clock::now() + std::chrono::seconds(seconds) - std::chrono::milliseconds(graphPhaseMs);
    const auto replugAt = Clock::now() + (end - Clock::now()) / 3;
    bool replugged = false;
    int round = 0;
    a = Sample();
    while (Clock::now() < end) {
        RunFor(1000);
        ++round;
        if (round % 5 == 0)
            for (int p = 0; p < kMeters; ++p)
                frame.GetView(p)->m_nDisplayMode = (round / 5 + p) % 4;
        if (round % 17 == 0)
            frame.OnCommand(Command::ResetGraphics);
        if (round % 23 == 0)
            frame.OnCommand(Command::ResetAllStatistics);
        if (round % 29 == 0)
            frame.OnCommand(Command::ResetAll);
        if (!replugged && Clock::now() >= replugAt) {
            sim.write(QStringLiteral("replug %1 5\n").arg(kReplugged).toLatin1());
            replugged = true;
        }
    }
    const Figure mixed = Between(a, Sample());

    // The run ends by its duration; then stop the streams and let the panes drain the queues.
    for (int waited = 0; frame.Station().IsAcquiring() && waited < 10000; waited += 100)
        RunFor(100);
    for (int m = 0; m < kMeters; ++m)
        sim.write(QStringLiteral("fault %1 silence\n").arg(m).toLatin1());
    RunFor(1500);
    const double rssEnd = ResidentMiB();
    const std::map<int, unsigned long long> sent = SentCounts(sim);

    std::printf("soak: %d s, 8 meters at 520 readings/s (4 garbage, 5 no CR LF, 6 re-plugged, "
                "7 falls silent), all recorded every second\n",
                seconds);
    std::printf("CPU of the application: %.2f %% of one core in the graph display (%.0f "
                "wake-ups/s); while recording: %.2f %% (%.0f wake-ups/s), %.2f %% with displays "
                "switching and resets (%.0f wake-ups/s)\n",
                100.0 * graph.cpu, graph.wakeUps, 100.0 * recording.cpu, recording.wakeUps,
                100.0 * mixed.cpu, mixed.wakeUps);
    if (std::max({graph.cpu, recording.cpu, mixed.cpu}) > kGraphTarget) {
        std::printf("FAIL: CPU over %.0f %%\n", 100.0 * kGraphTarget);
        failed = true;
    }
    std::printf("every pane in the tuning display: %.2f %% of one core (%.0f wake-ups/s), %.2f "
                "times the graph display's (at most %.0f)\n",
                100.0 * tuning.cpu, tuning.wakeUps, tuning.cpu / graph.cpu, kTuningFactor);
    if (tuning.cpu > kTuningFactor * graph.cpu) {
        std::printf("FAIL: the tuning display costs more than %.0f times the graph display\n",
                    kTuningFactor);
        failed = true;
    }
    std::printf("resident memory: %.1f MiB at start, %.1f MiB after warm-up, %.1f MiB at the end "
                "(growth %.2f MiB)\n",
                rssStart, rssWarm, rssEnd, rssEnd - rssWarm);
    if (rssEnd - rssWarm > 1.0) {
        std::printf("FAIL: memory grew by more than 1 MB after warm-up\n");
        failed = true;
    }
    for (int p = 0; p < kMeters; ++p) {
        const unsigned long long counted = frame.GetChannel(p).ReadingCount();
        const auto it = sent.find(p);
        const unsigned long long sentCount = it == sent.end() ? 0 : it->second;
        std::printf("meter %d: sent %llu, counted by pane %d: %llu%s\n", p, sentCount, p + 1,
                    counted,
                    p == kNoLineEnd   ? " (no line ends: none expected)"
                    : p == kReplugged ? " (re-plugged: what it sent while out is lost)"
                    : p == kGarbage   ? " (with garbage lines)"
                                      : "");
        if (p == kNoLineEnd) {
            if (counted != 0) {
                std::printf("FAIL: readings taken from a stream without line ends\n");
                failed = true;
            }
        } else if (p != kReplugged && counted != sentCount) {
            std::printf("FAIL: pane %d lost readings\n", p + 1);
            failed = true;
        }
        if (!frame.GetChannel(p).IsConnected()) {
            std::printf("FAIL: pane %d is not connected at the end\n", p + 1);
            failed = true;
        }
    }

    CAcquisitionData data;
    std::string loadError;
    if (!LoadAcquisitionFile(file, data, loadError)) {
        std::printf("FAIL: %s\n", loadError.c_str());
        failed = true;
    }
    const CAcquisitionRun* run = frame.CurrentAcquisition();
    const long long late = run ? static_cast<long long>(run->WorstLatenessMs()) : -1;
    size_t shortest = data.m_series[0].size();
    for (const auto& series : data.m_series)
        shortest = std::min(shortest, series.size());
    std::printf("acquisition: %lld lines of %lld readings (%d expected), latest line %lld ms "
                "after its tick\n",
                static_cast<long long>(data.m_nLines), static_cast<long long>(data.m_nChannels),
                seconds + 1, late);
    if (frame.Station().IsAcquiring() || data.m_nLines != seconds + 1 ||
        data.m_nChannels != kMeters || shortest != static_cast<size_t>(seconds + 1) ||
        !data.m_messages.empty()) {
        std::printf("FAIL: the acquisition file is not %d whole lines of 8 readings\n",
                    seconds + 1);
        failed = true;
    }
    if (late < 0 || late > kLateLimitMs) {
        std::printf("FAIL: a line was written more than %lld ms after its tick\n", kLateLimitMs);
        failed = true;
    }

    std::printf("longest UI stall after start-up: %lld ms\n", stalls.WorstMs());
    if (stalls.WorstMs() > 500) {
        std::printf("FAIL: the UI thread stalled for more than 500 ms\n");
        failed = true;
    }
    sim.terminate();
    sim.waitForFinished(5000);
    std::printf(failed ? "soak: FAILED\n" : "soak: passed\n");
    return failed ? 1 : 0;
}
