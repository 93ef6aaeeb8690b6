// Eight streaming meters read two ways, for the CPU of each: eight readers, one per meter, each
// waking every 50 ms on the same boundaries (as the channels' workers do), and one reader waking
// every 50 ms for all eight ports. The meters stream at the full 57600-baud line rate from a
// separate kelvarin-sim process; the lines are cut and calibrated as a channel does. Prints the
// CPU of this process (the readers only) and the wake-ups per second of each way.
//
//   bench_readers [path/to/kelvarin-sim] [seconds per way (20)]

#include "link/ComAccess.h"
#include "link/DetectorProtocol.h"
#include "link/MeterStream.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <cstring>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPeriod = std::chrono::milliseconds(50);

struct Usage {
    double cpuSeconds = 0;
    long long switches = 0;
};

Usage Sample() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    Usage u;
    u.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    u.switches = usage.ru_nvcsw + usage.ru_nivcsw;
    return u;
}

// The next 50 ms boundary of the steady clock: every reader of a way wakes on the same ones.
Clock::time_point NextBoundary() {
    const auto now = Clock::now().time_since_epoch();
    return Clock::time_point((now / kPeriod + 1) * kPeriod);
}

struct Meter {
    ComAccess port;
    std::unique_ptr<CMeterStream> stream;
    std::atomic<unsigned long long> readings{0};
    std::atomic<float> value{0};
};

void ReadOnce(Meter& meter) {
    meter.stream->Poll([&meter](float v) {
        meter.value.store(v, std::memory_order_relaxed);
        meter.readings.fetch_add(1, std::memory_order_relaxed);
    });
}

struct Figure {
    double cpu = 0;
    double wakeUps = 0;
    unsigned long long readings = 0;
};

Figure Run(std::vector<std::unique_ptr<Meter>>& meters, bool oneReader, int seconds) {
    std::atomic<bool> stop{false};
    for (auto& meter : meters)
        meter->readings.store(0);
    std::vector<std::thread> threads;
    const Usage before = Sample();
    const auto start = Clock::now();
    if (oneReader) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                std::this_thread::sleep_until(NextBoundary());
                for (auto& meter : meters)
                    ReadOnce(*meter);
            }
        });
    } else {
        for (auto& meter : meters)
            threads.emplace_back([&stop, m = meter.get()] {
                while (!stop.load()) {
                    std::this_thread::sleep_until(NextBoundary());
                    ReadOnce(*m);
                }
            });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop.store(true);
    for (std::thread& thread : threads)
        thread.join();
    const Usage after = Sample();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    Figure figure;
    figure.cpu = (after.cpuSeconds - before.cpuSeconds) / elapsed;
    figure.wakeUps = static_cast<double>(after.switches - before.switches) / elapsed;
    for (auto& meter : meters)
        figure.readings += meter->readings.load();
    return figure;
}

} // namespace

int main(int argc, char** argv) {
    std::string simulator = argc > 1 ? argv[1] : "sim/kelvarin-sim";
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    int out[2];
    if (pipe(out) != 0) {
        std::perror("bench_readers: pipe");
        return 1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string count = "8", rate = "--rate", perSecond = "520";
    char* args[] = {simulator.data(), count.data(), rate.data(), perSecond.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, simulator.c_str(), &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        std::fprintf(stderr, "bench_readers: %s: %s\n", simulator.c_str(), std::strerror(spawned));
        return 1;
    }
    FILE* sim = fdopen(out[0], "r");
    std::string ports;
    char line[4096];
    while (ports.empty() && std::fgets(line, sizeof line, sim)) {
        const std::string text(line);
        if (text.rfind("KELVARIN_PORTS=", 0) == 0)
            ports = text.substr(15, text.find_last_not_of("\r\n") - 14);
    }
    if (ports.empty()) {
        std::fprintf(stderr, "bench_readers: cannot start %s\n", simulator.c_str());
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return 1;
    }
    std::vector<std::unique_ptr<Meter>> meters;
    std::stringstream list(ports);
    for (std::string path; std::getline(list, path, ':');) {
        auto meter = std::make_unique<Meter>();
        if (!DetectorProtocol::OpenMeterPort(meter->port, path) ||
            !DetectorProtocol::ApplyWavelengthAndStart(meter->port, 1064)) {
            std::fprintf(stderr, "bench_readers: %s: %s\n", path.c_str(),
                         meter->port.LastError().Text().c_str());
            return 1;
        }
        meter->stream = std::make_unique<CMeterStream>(meter->port, 1.0f, 0.0f);
        meters.push_back(std::move(meter));
    }
    Run(meters, false, 2); // the queues emptied, the streams steady
    // Each way twice, interleaved, so that a drift of the machine shows as a spread.
    for (int round = 0; round < 2; ++round) {
        for (bool one : {false, true}) {
            const Figure f = Run(meters, one, seconds);
            std::printf("%-22s %.3f %% of one core, %6.1f wake-ups/s, %.0f readings/s\n",
                        one ? "one reader for eight:" : "eight readers:", 100.0 * f.cpu, f.wakeUps,
                        static_cast<double>(f.readings) / seconds);
        }
    }
    for (auto& meter : meters)
        DetectorProtocol::CloseMeter(meter->port);
    meters.clear();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::fclose(sim);
    return 0;
}
