// How long a reading takes from a meter's port to the screen in the tuning display: eight
// simulated meters at the full 57600-baud line rate (520 readings/s each), every pane of the real
// window in the tuning display. For each reading, from the moment the meter wrote it whole to
// its pseudo-terminal to the start of the first paint of its pane that shows it (or a later
// reading): the paint reads the channel once and is drawn at once, so its start is when the
// reading reaches the pixels. The meters are noisy (5 %), so that every tick shows another value
// and is painted (the pane repaints only what changed). Prints the median and the 99th percentile
// over every reading of the run, and the window's CPU meanwhile. Run by hand, on a Release build,
// with nothing else running:
//
//   bench_tuning [seconds (30)] [graph]     (graph: the same in the graph display)
//
// Target: median and 99th percentile under 100 ms.

#include "app/MainFrame.h"
#include "bench/BenchWindow.h"
#include "channel/KelvarinView.h"
#include "res/CommandIds.h"
#include "sim/MeterSimulator.h"

#include <QEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using namespace Bench;

constexpr int kMeters = 8;
constexpr double kLineRate = 520;
constexpr double kTargetMs = 100;

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// When each reading of a meter was written, by its number.
struct SendLog {
    std::mutex lock;
    std::vector<double> writtenMs; // [number - 1]
};

// Notes the start of each paint of a pane with the readings its channel had taken by then.
class PaintLog : public QObject {
public:
    explicit PaintLog(const CChannel& channel) : m_channel(channel) {}
    struct Paint {
        double ms;
        uint64_t readings;
    };
    std::vector<Paint> paints;
    bool recording = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (recording && event->type() == QEvent::Paint)
            paints.push_back({NowMs(), m_channel.ReadingCount()});
        return QObject::eventFilter(watched, event);
    }

private:
    const CChannel& m_channel;
};

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    UsePrivateSetup(home);
    QApplication app(argc, argv);
    PrintMessages();
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 30;
    // "graph" measures the same in the graph display, for comparison.
    const bool graph = argc > 2 && std::string(argv[2]) == "graph";

    std::vector<std::unique_ptr<CMeterSimulator>> meters;
    std::vector<std::unique_ptr<SendLog>> sends;
    std::string ports;
    for (int i = 0; i < kMeters; ++i) {
        MeterProfile profile = DefaultMeterProfile(i);
        profile.readingsPerSecond = kLineRate;
        // Noisy enough that every 50 ms shows another value: a pane repaints only what changed,
        // and a reading whose text and bar are already on the screen would wait for no paint.
        profile.noise = 0.05;
        meters.push_back(std::make_unique<CMeterSimulator>(profile));
        sends.push_back(std::make_unique<SendLog>());
        SendLog& log = *sends.back();
        log.writtenMs.reserve(static_cast<size_t>(kLineRate * (seconds + 60)));
        meters.back()->SetSentObserver([&log](uint64_t number, double ms) {
            std::lock_guard<std::mutex> guard(log.lock);
            log.writtenMs.resize(std::max<size_t>(log.writtenMs.size(), number), 0.0);
            log.writtenMs[number - 1] = ms;
        });
        std::string error;
        if (!meters.back()->Start(error)) {
            std::fprintf(stderr, "meter simulator: %s\n", error.c_str());
            return 1;
        }
        ports += (i ? ":" : "") + meters.back()->PortPath();
    }
    qputenv("KELVARIN_PORTS", QByteArray::fromStdString(ports));

    CMainFrame frame;
    frame.resize(1600, 1000);
    frame.show();
    {
        AcceptStartUpList accept;
        if (!SpinUntil(
                [&] {
                    for (int p = 0; p < kMeters; ++p)
                        if (frame.GetChannel(p).ReadingCount() == 0)
                            return false;
                    return true;
                },
                30000)) {
            std::printf("FAIL: the meters did not all stream\n");
            return 1;
        }
    }
    std::vector<std::unique_ptr<PaintLog>> paints;
    for (int p = 0; p < kMeters; ++p) {
        frame.GetView(p)->OnCommand(graph ? Command::GraphicDisplay : Command::TuningDisplay);
        paints.push_back(std::make_unique<PaintLog>(frame.GetChannel(p)));
        frame.GetView(p)->installEventFilter(paints.back().get());
    }
    Spin(2000); // settled

    const double from = NowMs();
    for (auto& log : paints)
        log->recording = true;
    const CpuTimes cpu0 = WindowCpu();
    Spin(seconds * 1000);
    const CpuTimes cpu1 = WindowCpu();
    const double to = NowMs();
    for (auto& log : paints)
        log->recording = false;

    // Each reading written in the run, and the first paint of its pane with it or a later one.
    std::vector<double> latencies;
    size_t unseen = 0;
    for (int p = 0; p < kMeters; ++p) {
        std::vector<double> written;
        {
            std::lock_guard<std::mutex> guard(sends[static_cast<size_t>(p)]->lock);
            written = sends[static_cast<size_t>(p)]->writtenMs;
        }
        const std::vector<PaintLog::Paint>& shown = paints[static_cast<size_t>(p)]->paints;
        size_t j = 0;
        for (size_t k = 0; k < written.size(); ++k) {
            if (written[k] < from || written[k] > to - 2 * kTargetMs)
                continue; // before the run, or too near its end to have been painted
            while (j < shown.size() && shown[j].readings < k + 1)
                ++j;
            if (j == shown.size()) {
                ++unseen;
                continue;
            }
            latencies.push_back(shown[j].ms - written[k]);
        }
    }
    frame.close();
    if (latencies.empty()) {
        std::printf("FAIL: no reading was painted\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    const double p99 = latencies[latencies.size() * 99 / 100];
    const double cpu = 100.0 * static_cast<double>(cpu1.total - cpu0.total) / ((to - from) * 1e6);
    std::printf("%s display, 8 meters at %.0f readings/s, %d s: %zu readings, from the port "
                "to the pixels: median %.1f ms, 99th percentile %.1f ms, worst %.1f ms; %zu never "
                "painted; window CPU %.2f %% of one core\n",
                graph ? "graph" : "tuning", kLineRate, seconds, latencies.size(), median, p99,
                latencies.back(), unseen, cpu);
    const bool met = graph || (median < kTargetMs && p99 < kTargetMs && unseen == 0);
    std::printf("%s\n", met ? "targets met" : "FAIL: a target was missed");
    return met ? 0 : 1;
}
