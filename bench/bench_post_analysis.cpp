// Figures of the post-analysis window on a 1,000,000-row, 8-channel file written by the
// acquisition writer (about 110 MB): the load (read, parse, times, all eight channels in
// memory; on every processor and in one piece), one paint of the whole window showing a
// 1,000,000-sample channel, and a box zoom, a wheel step and a range change (statistics over the
// visible samples plus the repaint), each the median of 21. Targets: load at most 0.1 s on two
// processors, paint at most 10 ms, each change at most 20 ms.
//
//   bench_post_analysis [rows] [folder] [--keep]     --keep leaves the file for other benches

#include "acquisition/AcquisitionFile.h"
#include "acquisition/AcquisitionReader.h"
#include "analysis/PostAnalyseDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Median time of `step`, with `undo` (not timed) after each.
double MedianMs(int runs, const std::function<void()>& step,
                const std::function<void()>& undo = {}) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (i > 0 && undo)
            undo();
        const auto start = Clock::now();
        step();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Mouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void Wheel(QWidget* widget, int delta, Qt::KeyboardModifiers modifiers) {
    const QPointF at(300, 300);
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

long PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    const std::string path = (folder / "kelvarin-bench-post-analysis.txt").string();
    {
        std::mt19937 random(3);
        std::normal_distribution<float> noise(1.0f, 0.005f);
        const float nominal[8] = {1.2e-6f, 3.4e-5f, 5.6e-4f, 7.8e-3f, 0.09f, 1.2f, 34.0f, 560.0f};
        CAcquisitionFileWriter writer;
        std::string error;
        if (!writer.Create(path, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::string text = AcquisitionHeader({"A", "B", "C", "D", "E", "F", "G", "H"}, true);
        std::vector<float> readings(8);
        for (long i = 0; i < rows; ++i) {
            for (size_t c = 0; c < 8; ++c)
                readings[c] = nominal[c] * noise(random);
            // Ten rows a second: ten samples share each whole second.
            AppendAcquisitionDataLine(text, 1300000000 + i / 10, readings);
            if (text.size() > (1 << 20)) {
                writer.Append(text, error, false);
                text.clear();
            }
        }
        writer.Append(text, error, false);
    }
    const auto bytes = std::filesystem::file_size(path);
    ::sync(); // the file written back before the loads, so that no write-back runs beside them

    // The load alone, in one piece as on one processor and in as many pieces as processors.
    const auto load = [&](const CReadPlan& plan, std::vector<double>& seconds) {
        for (int i = 0; i < 5; ++i) {
            CAcquisitionData data;
            std::string error;
            const auto start = Clock::now();
            LoadAcquisitionFile(path, data, error, nullptr, plan);
            seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        }
        std::sort(seconds.begin(), seconds.end());
    };
    std::vector<double> loads, onePiece;
    load(CReadPlan{1}, onePiece);
    load(CReadPlan(), loads);
    CPostAnalyseDlg window;
    window.LoadAcquisitionFile(path);
    while (window.IsLoading() || window.m_cbChannel->count() == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const long peak = PeakMegabytes();

    const double paint = MedianMs(21, [&] { window.Render(); });
    const auto backToFull = [&] {
        Mouse(&window, QEvent::MouseButtonDblClick, QPoint(300, 300), Qt::LeftButton);
    };
    const double box = MedianMs(
        21,
        [&] {
            Mouse(&window, QEvent::MouseButtonPress, QPoint(150, 100), Qt::LeftButton);
            Mouse(&window, QEvent::MouseMove, QPoint(500, 600), Qt::LeftButton);
            Mouse(&window, QEvent::MouseButtonRelease, QPoint(500, 600), Qt::NoButton);
            window.Render();
        },
        backToFull);
    const double doubleClick = MedianMs(21, [&] {
        backToFull();
        window.Render();
    });
    const double wheel = MedianMs(21, [&] {
        Wheel(&window, 120, Qt::ShiftModifier);
        window.Render();
    });
    const double range = MedianMs(21, [&] {
        window.m_graph.m_fXMin = 1000.0f;
        window.m_graph.m_fXMax = 90000.0f;
        window.RecomputeStatistics(true);
        window.Render();
    });
    if (!(argc > 3 && std::string(argv[3]) == "--keep"))
        std::filesystem::remove(path);

    std::printf("post-analysis: %ld rows of 8 channels, %.1f MB\n", rows,
                static_cast<double>(bytes) / 1e6);
    std::printf("  load: %.3f s median of 5 (%.3f to %.3f) on %u processors, peak memory %ld MB\n",
                loads[2], loads.front(), loads.back(), std::thread::hardware_concurrency(), peak);
    std::printf("  load in one piece: %.3f s median of 5 (%.3f to %.3f)\n", onePiece[2],
                onePiece.front(), onePiece.back());
    std::printf("  paint of the window, %d samples shown: %.2f ms median\n",
                window.m_graph.m_nPointCount, paint);
    std::printf("  box zoom and its repaint: %.2f ms median\n", box);
    std::printf("  double click back to everything and its repaint: %.2f ms median\n", doubleClick);
    std::printf("  Shift+wheel step and its repaint: %.2f ms median\n", wheel);
    std::printf("  range change (statistics and repaint): %.2f ms median\n", range);
    return 0;
}
