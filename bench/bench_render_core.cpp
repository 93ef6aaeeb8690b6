// Running statistics and value formatting. A channel adds every reading to its statistics on the
// polling thread (target: tens of millions of readings per second on one core, so eight meters
// cost nothing), and every repaint and graph label formats values (target: at least a million
// texts per second).

#include "render/Statistics.h"
#include "render/ValueFormat.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// Readings spread over the whole range table: log-uniform from 1 pW to 300 MW, some negative
// (offset-corrected noise), some beyond the table.
std::vector<float> RealisticReadings(size_t count) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> decade(-12.0, 8.5);
    std::uniform_int_distribution<int> kind(0, 99);
    std::vector<float> values(count);
    for (float& v : values) {
        const int k = kind(random);
        v = static_cast<float>(std::pow(10.0, decade(random)));
        if (k < 10)
            v = -v;
        else if (k == 99)
            v = 5e8f;
    }
    return values;
}

void BM_AddSample(benchmark::State& state) {
    // A meter near 2.5 mW with a little noise.
    std::mt19937 random(3);
    std::normal_distribution<float> noise(2.5e-3f, 2e-5f);
    std::vector<float> readings(4096);
    for (float& v : readings)
        v = noise(random);
    CStatistics stats;
    stats.Reset();
    stats.m_bEnabled = true;
    for (auto _ : state) {
        for (float v : readings)
            stats.AddSample(v);
        benchmark::DoNotOptimize(stats.m_fRmsStability);
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * readings.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AddSample);

void BM_FormatValue(benchmark::State& state) {
    const std::vector<float> values = RealisticReadings(4096);
    const int extraDecimals = static_cast<int>(state.range(0));
    std::string text;
    size_t characters = 0;
    for (auto _ : state) {
        for (float v : values) {
            FormatValue(text, v, extraDecimals);
            characters += text.size();
        }
        benchmark::DoNotOptimize(characters);
    }
    state.counters["texts/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * values.size()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FormatValue)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
