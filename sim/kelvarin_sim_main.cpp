// kelvarin-sim: simulated meters on pseudo-terminals for trying the application without hardware.
// Prints the port paths, then serves until SIGINT or SIGTERM; "fault INDEX KIND" lines on stdin
// switch faults while it runs.

#include "sim/MeterSimulator.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxInputLine = 256;

const char kUsage[] =
    "Usage: kelvarin-sim [COUNT] [--rate HZ] [--fault INDEX=KIND]... [--links DIR]\n"
    "Simulated laser power meters on pseudo-terminals, for trying Kelvarin without hardware.\n"
    "Prints each meter's port and a KELVARIN_PORTS=... line, then serves until SIGINT or\n"
    "SIGTERM.\n"
    "\n"
    "Options:\n"
    "  COUNT              number of meters, 1 to 8 (default 3)\n"
    "  --rate HZ          readings per second of every meter (a meter at 57600 baud: 520)\n"
    "  --fault INDEX=KIND start meter INDEX with a fault\n"
    "  --links DIR        a stable link per meter in DIR, printed instead of its port\n"
    "  -h, --help         show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "KIND is none, garbage (lines that are not numbers), no-crlf (no line ends), silence or\n"
    "hangup (the port disappears). The links of --links are named like those of\n"
    "/dev/serial/by-id; a re-plugged meter is found through its link again.\n"
    "\n"
    "Commands on standard input, one per line:\n"
    "  fault INDEX KIND       switch a meter's fault\n"
    "  replug INDEX SECONDS   unplug a meter now, back on a new port after SECONDS\n"
    "  count                  print \"sent INDEX READINGS\" for each meter\n"
    "\n"
    "Exit status:\n"
    "  0  stopped by SIGINT or SIGTERM\n"
    "  1  the meters could not be started\n"
    "  2  the command line was not understood\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kelvarin-sim: %s\n%s", message.c_str(), kUsage);
    return 2;
}

template <class T> bool ParseWhole(std::string_view text, T& value) {
    if (text.empty())
        return false;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

struct FaultRequest {
    int index;
    MeterFault fault;
};

// "INDEX KIND" or "INDEX=KIND" after the separator has been given.
bool ParseFaultRequest(std::string_view index, std::string_view kind, FaultRequest& request) {
    return ParseWhole(index, request.index) && ParseMeterFault(std::string(kind), request.fault);
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

void HandleInputLine(std::string_view line, CSimulatorSet& meters) {
    std::vector<std::string_view> words = Words(line);
    if (words.empty())
        return;
    if (words.size() == 1 && words[0] == "count") {
        for (size_t i = 0; i < meters.Size(); ++i)
            std::printf("sent %zu %llu\n", i,
                        static_cast<unsigned long long>(meters.Meter(i).ReadingsSent()));
        std::fflush(stdout);
        return;
    }
    int index = -1;
    double seconds = 0;
    if (words.size() == 3 && words[0] == "replug" && ParseWhole(words[1], index) && index >= 0 &&
        static_cast<size_t>(index) < meters.Size() && ParseWhole(words[2], seconds) &&
        std::isfinite(seconds) && seconds >= 0 && seconds <= 86400) {
        meters.Meter(static_cast<size_t>(index)).Replug(static_cast<int>(seconds * 1000));
        return;
    }
    FaultRequest request{};
    if (words.size() == 3 && words[0] == "fault" &&
        ParseFaultRequest(words[1], words[2], request) && request.index >= 0 &&
        static_cast<size_t>(request.index) < meters.Size()) {
        meters.Meter(static_cast<size_t>(request.index)).SetFault(request.fault);
        return;
    }
    std::fprintf(stderr,
                 "kelvarin-sim: not understood: %.*s (fault INDEX KIND, replug INDEX SECONDS)\n",
                 static_cast<int>(std::min(line.size(), kMaxInputLine)), line.data());
}

} // namespace

int main(int argc, char** argv) {
    int count = 3;
    bool countGiven = false;
    double rate = 0;
    std::vector<FaultRequest> faults;
    std::string linkDir;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--rate") {
            if (i + 1 >= argc || !ParseWhole(argv[i + 1], rate) || !std::isfinite(rate) ||
                rate <= 0)
                return UsageError("--rate needs a positive number of readings per second");
            ++i;
        } else if (arg == "--fault") {
            std::string_view value = i + 1 < argc ? argv[i + 1] : "";
            size_t equals = value.find('=');
            FaultRequest request{};
            if (equals == std::string_view::npos ||
                !ParseFaultRequest(value.substr(0, equals), value.substr(equals + 1), request))
                return UsageError("--fault needs INDEX=KIND");
            faults.push_back(request);
            ++i;
        } else if (arg == "--links") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return UsageError("--links needs a folder");
            linkDir = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("kelvarin-sim %s\n", KELVARIN_VERSION);
            return 0;
        } else if (!countGiven && ParseWhole(arg, count)) {
            countGiven = true;
        } else {
            return UsageError("unexpected argument: " + std::string(arg));
        }
    }
    if (count < 1 || count > 8)
        return UsageError("COUNT must be 1 to 8");
    for (const FaultRequest& request : faults) {
        if (request.index < 0 || request.index >= count)
            return UsageError("--fault INDEX must be 0 to " + std::to_string(count - 1));
    }

    // Blocked before any thread starts so that every thread inherits the mask and the signals
    // arrive only through the signal descriptor.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::fputs("kelvarin-sim: cannot block signals\n", stderr);
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::fputs("kelvarin-sim: cannot create the signal descriptor\n", stderr);
        return 1;
    }

    CSimulatorSet meters;
    std::string error;
    if (!meters.Start(count, error, linkDir)) {
        std::fprintf(stderr, "kelvarin-sim: %s\n", error.c_str());
        close(signalFd);
        return 1;
    }
    for (size_t i = 0; i < meters.Size(); ++i) {
        if (rate > 0)
            meters.Meter(i).SetReadingsPerSecond(rate);
    }
    for (const FaultRequest& request : faults)
        meters.Meter(static_cast<size_t>(request.index)).SetFault(request.fault);

    for (const std::string& path : meters.PortPaths())
        std::printf("%s\n", path.c_str());
    std::printf("KELVARIN_PORTS=%s\n", meters.PortsVariable().c_str());
    std::fflush(stdout);

    pollfd watched[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    std::string line;
    bool lineTooLong = false;
    for (;;) {
        int ready = poll(watched, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched[0].revents != 0)
            break; // SIGINT or SIGTERM
        if (watched[1].revents == 0)
            continue;
        char buffer[512];
        ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0) {
            watched[1].fd = -1; // end of input: keep serving until a signal
            continue;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == '\n') {
                if (!lineTooLong)
                    HandleInputLine(line, meters);
                line.clear();
                lineTooLong = false;
            } else if (line.size() < kMaxInputLine) {
                line.push_back(buffer[i]);
            } else {
                lineTooLong = true;
            }
        }
    }

    meters.Stop();
    close(signalFd);
    return 0;
}
