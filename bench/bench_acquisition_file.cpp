// Figures of the acquisition file: lines per second written (each line formatted and written in
// one piece, as the engine writes them, without forcing each to the disk) and read back by the
// reader the post-analysis window loads files with; and the cost of forcing one line to the disk,
// as each tick of a real run does. Target: a million 8-channel lines read in well under a second.
//
//   bench_acquisition_file [lines] [folder]

#include "acquisition/AcquisitionFile.h"
#include "acquisition/AcquisitionReader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv) {
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    const std::string path = (folder / "kelvarin-bench-acquisition.txt").string();
    const std::vector<std::string> titles = {"Seed", "Amp1", "Amp2", "Out", "Probe",
                                             "Ref",  "Pump", "Tail"};

    // Readings of eight heads spread over decades, with noise: every line's text differs.
    std::mt19937 random(7);
    std::normal_distribution<float> noise(1.0f, 0.005f);
    const float nominal[8] = {1.2e-6f, 3.4e-5f, 5.6e-4f, 7.8e-3f, 0.09f, 1.2f, 34.0f, 560.0f};
    std::vector<std::vector<float>> pool(4096, std::vector<float>(8));
    for (auto& readings : pool)
        for (size_t c = 0; c < 8; ++c)
            readings[c] = nominal[c] * noise(random);

    CAcquisitionFileWriter writer;
    std::string error;
    if (!writer.Create(path, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    writer.Append(AcquisitionHeader(titles, true), error, false);
    const std::time_t t0 = 1300000000;
    std::string line;
    auto start = Clock::now();
    for (long i = 0; i < lines; ++i) {
        line.clear();
        AppendAcquisitionDataLine(line, t0 + i, pool[static_cast<size_t>(i) % pool.size()]);
        if (!writer.Append(line, error, false)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    writer.Close();
    const double writeSeconds = Seconds(start);
    const auto bytes = std::filesystem::file_size(path);

    start = Clock::now();
    CAcquisitionData data;
    if (!LoadAcquisitionFile(path, data, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const double readSeconds = Seconds(start);
    if (data.m_nLines != lines || !data.m_messages.empty()) {
        std::fprintf(stderr, "read back %lld lines, %zu messages\n",
                     static_cast<long long>(data.m_nLines), data.m_messages.size());
        return 1;
    }

    // One durable line, as each tick of a run writes it.
    CAcquisitionFileWriter durable;
    durable.Create(path, error);
    constexpr int kDurable = 200;
    start = Clock::now();
    for (int i = 0; i < kDurable; ++i)
        durable.Append(line, error, true);
    const double durableMs = Seconds(start) * 1000.0 / kDurable;
    durable.Close();
    std::filesystem::remove(path);

    std::printf("acquisition file: %ld lines of 8 channels, %.1f MB\n", lines,
                static_cast<double>(bytes) / 1e6);
    std::printf("  write: %.2f s, %.0f lines/s\n", writeSeconds,
                static_cast<double>(lines) / writeSeconds);
    std::printf("  read:  %.2f s, %.0f lines/s\n", readSeconds,
                static_cast<double>(lines) / readSeconds);
    std::printf("  a line forced to the disk: %.3f ms\n", durableMs);
    return 0;
}
