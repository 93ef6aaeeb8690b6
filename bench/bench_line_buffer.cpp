// Line cutting and calibration of a meter stream, fed in receive-buffer sized chunks as the
// polling thread feeds it. One meter at 57600 baud sends about 5.8 kB/s; the target is at
// least 50 MB/s on one core.

#include "link/LineBuffer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

std::string RealisticStream(size_t lines) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> mantissa(1.0, 9.999);
    std::uniform_int_distribution<int> exponent(-9, 1);
    std::string text;
    char line[32];
    for (size_t i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line, "%.3fE%+03d\r\n", mantissa(random), exponent(random));
        text += line;
        if (i % 500 == 0)
            text += "ERR\r\n"; // the odd line that is not a number
    }
    return text;
}

void BM_CutAndCalibrate(benchmark::State& state) {
    const std::string stream = RealisticStream(100000);
    const size_t chunk = static_cast<size_t>(state.range(0));
    size_t readings = 0;
    for (auto _ : state) {
        CLineBuffer buffer;
        float sum = 0.0f;
        for (size_t at = 0; at < stream.size(); at += chunk) {
            const size_t n = std::min(chunk, stream.size() - at);
            buffer.Append(stream.data() + at, n);
            readings += buffer.TakeReadings(1.02f, 1e-6f, [&](float v) { sum += v; });
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.counters["readings/s"] =
        benchmark::Counter(static_cast<double>(readings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CutAndCalibrate)->Arg(999)->Arg(64)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
