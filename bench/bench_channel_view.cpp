// Figures of one pane: the time to paint an 800 x 600 pane in each of the four displays (the graph
// holding 2000 and 5000 samples), and the CPU that one pane uses per second while its meter streams
// at the full 57600-baud line rate, meters in a separate kelvarin-sim process. Target: under 1 % of
// one core per pane in the graph display.
//
//   bench_channel_view [path/to/kelvarin-sim] [seconds]

#include "channel/KelvarinView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <vector>

#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double MedianPaintMs(CKelvarinView& view) {
    std::vector<double> times;
    for (int i = 0; i < 41; ++i) {
        QElapsedTimer timer;
        timer.start();
        view.Render();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void PaintFigures() {
    CChannel channel;
    CKelvarinView view(channel);
    view.resize(800, 600);
    channel.EnableStatistics();
    for (int samples : {2000, 5000}) {
        channel.ResetGraph();
        channel.SetGraphMaxPoints(samples);
        for (int i = 0; i < samples; ++i)
            channel.OnNewValue(1e-3f * (1.0f + 0.02f * std::sin(0.01f * static_cast<float>(i))));
        const char* names[] = {"real time", "statistics", "graphic", "tuning"};
        for (int mode = 0; mode < 4; ++mode) {
            view.m_nDisplayMode = mode;
            std::printf("paint %-10s  %4d samples  %7.3f ms median\n", names[mode], samples,
                        MedianPaintMs(view));
        }
    }
}

int LoadFigures(const QString& simulator, int seconds) {
    QProcess sim;
    // The meters go with this process, however it ends: a crash must not leave eight of them
    // streaming into ports nobody reads, loading the machine for whatever runs next.
    sim.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // 57600 baud carries about 5760 bytes/s, 11 bytes a reading: about 520 readings/s.
    sim.start(simulator, {QStringLiteral("1"), QStringLiteral("--rate"), QStringLiteral("520")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(simulator));
        return 1;
    }
    const QString port = QString::fromLatin1(sim.readLine()).trimmed();
    CChannel channel;
    CKelvarinView view(channel);
    view.resize(800, 600);
    view.show();
    view.m_nDisplayMode = CKelvarinView::Graphic;
    CChannelConfig config;
    config.m_strPort = port.toStdString();
    channel.RequestConnect(config, false);
    channel.EnableStatistics();
    const auto runFor = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    runFor(2000); // warm-up

    const int before = channel.StatisticsSnapshot().m_nCount;
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double cpu = CpuSeconds() - cpuBefore;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    const int readings = channel.StatisticsSnapshot().m_nCount - before;
    std::printf("one pane, graphic display, %.0f readings/s: %.2f %% of one core\n",
                readings / elapsed, 100.0 * cpu / elapsed);
    channel.RequestClose();
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PaintFigures();
    const QString simulator =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : QCoreApplication::applicationDirPath() + QStringLiteral("/../sim/kelvarin-sim");
    return LoadFigures(simulator, argc > 2 ? std::atoi(argv[2]) : 10);
}
