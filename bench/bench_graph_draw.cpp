// One paint of a live graph into an 800 x 600 off-screen image, as a pane repaints every 300 ms
// (the image's fill included). Target: 5000 samples in at most 0.3 ms median on one core. The
// run with no sample shows what the frame, grid and level lines cost alone.

#include "render/GraphRenderer.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

namespace {

void BM_Draw(benchmark::State& state) {
    CGraphRenderer graph;
    graph.m_rcPlot = CPlotRect{100, 50, 760, 580};
    graph.m_bShowLevelHigh = graph.m_bShowLevelLow = true;
    graph.m_fLevelHighLine = 1.05e-3f;
    graph.m_fLevelLowLine = 0.95e-3f;
    const auto count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i) {
        const float t = 0.05f * static_cast<float>(i);
        graph.m_points.push_back(
            {t, 1e-3f * (1.0f + 0.03f * std::sin(t) + 0.01f * std::sin(7 * t))});
    }
    graph.m_nPointCount = count;
    graph.AutoScaleY();
    QImage image(800, 600, QImage::Format_RGB32);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter painter(&image);
        graph.Draw(painter);
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Draw)
    ->Arg(0)
    ->Arg(2000)
    ->Arg(5000)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
