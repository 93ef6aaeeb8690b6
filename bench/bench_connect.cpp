// What a user meets after start-up with eight meters, measured on the real window: the probe of
// eight ports (from the list on screen to its OK enabled) and the connection of eight meters
// (from OK to every one of them streaming), each with the longest time the user-interface thread
// did not answer (the largest gap between the beats of a 5 ms timer); then the close of the
// window with the eight streaming (from the close to the window, its station and every worker
// gone, each meter stopped). Run by hand, on a Release build, with nothing else running:
//
//   bench_connect [runs (3)]
//
// Targets: no stall over 50 ms; each phase under 1.5 s; the close under 1 s.

#include "app/MainFrame.h"
#include "gui/MessageBox.h"
#include "sim/MeterSimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr int kMeters = 8;

// The largest gap between two beats of a 5 ms timer since the last Restart.
class CHeartbeat {
public:
    CHeartbeat() {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_timer.start(5);
    }
    void Restart() {
        m_last = m_clock.elapsed();
        m_longest = 0;
    }
    qint64 Longest() const { return std::max(m_longest, m_clock.elapsed() - m_last); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

bool OneRun(int run) {
    CSimulatorSet meters;
    std::string error;
    if (!meters.Start(kMeters, error)) {
        std::fprintf(stderr, "meter simulator: %s\n", error.c_str());
        return false;
    }
    std::string ports;
    for (size_t i = 0; i < kMeters; ++i)
        ports += (i ? ":" : "") + meters.Meter(i).PortPath();
    qputenv("KELVARIN_PORTS", QByteArray::fromStdString(ports));

    auto window = std::make_unique<CMainFrame>();
    CMainFrame& frame = *window;
    frame.show();
    CHeartbeat beat;
    // The list opens in a modal loop of its own, inside the window's timer: the steps are driven
    // by a timer of their own, in whichever loop runs.
    enum Step { WaitList, Probing, Closing, Connecting, Done } step = WaitList;
    QElapsedTimer phase, total;
    total.start();
    qint64 probeMs = 0, probeStall = 0, connectMs = 0, connectStall = 0;
    QEventLoop finished;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* ok = modal ? modal->findChild<QPushButton*>(QStringLiteral("buttonOk")) : nullptr;
        switch (step) {
        case WaitList:
            if (modal && modal->objectName() == QLatin1String("AutoDetectDlg")) {
                phase.start(); // the probe runs from the moment the list is shown
                beat.Restart();
                step = Probing;
            }
            break;
        case Probing:
            if (ok && ok->isEnabled()) {
                probeMs = phase.elapsed();
                probeStall = beat.Longest();
                step = Closing;
                // From the click on: the list closes, then the meters are bound.
                phase.restart();
                beat.Restart();
                ok->click();
            }
            break;
        case Closing:
            if (!modal)
                step = Connecting;
            break;
        case Connecting: {
            bool all = true;
            for (int p = 0; p < kMeters; ++p)
                all = all && frame.GetChannel(p).ReadingCount() > 0;
            if (all) {
                connectMs = phase.elapsed();
                connectStall = beat.Longest();
                step = Done;
                finished.quit();
            }
            break;
        }
        case Done:
            break;
        }
        if (total.elapsed() > 30000)
            finished.quit();
    });
    driver.start(2);
    finished.exec();
    if (step != Done) {
        std::printf("run %d: timed out\n", run);
        return false;
    }
    QElapsedTimer closing;
    closing.start();
    window->close();
    window.reset();
    const qint64 closeMs = closing.elapsed();
    std::printf("run %d: probe of %d ports %lld ms, longest stall %lld ms; "
                "OK to %d meters streaming %lld ms, longest stall %lld ms; "
                "close with %d streaming %lld ms\n",
                run, kMeters, static_cast<long long>(probeMs), static_cast<long long>(probeStall),
                kMeters, static_cast<long long>(connectMs), static_cast<long long>(connectStall),
                kMeters, static_cast<long long>(closeMs));
    return probeStall < 50 && connectStall < 50 && probeMs < 1500 && connectMs < 1500 &&
           closeMs < 1000;
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
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    bool met = true;
    for (int run = 1; run <= runs; ++run) {
        if (!OneRun(run)) {
            met = false;
        }
    }
    std::printf("%s\n", met ? "targets met" : "FAIL: a target was missed");
    return met ? 0 : 1;
}
