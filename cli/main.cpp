// kelvarin-cli: checks meters and cabling without the GUI, and scripts them.

#include "cli/CliCommands.h"
#include "link/NumberText.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) {
    g_stop.store(true);
}

int Usage() {
    std::fputs("Usage:\n"
               "  kelvarin-cli ports\n"
               "  kelvarin-cli probe [PORT...]\n"
               "  kelvarin-cli stream PORT [--count N] [--timeout SECONDS] [--stats]\n"
               "  kelvarin-cli record --prefix PATH [--period SECONDS]\n"
               "               (--duration SECONDS | --start \"YYYY-MM-DD HH:MM:SS\"\n"
               "                --end \"YYYY-MM-DD HH:MM:SS\") [PORT...]\n"
               "  kelvarin-cli analyze FILE [--from SECONDS] [--to SECONDS]\n"
               "  kelvarin-cli config show SERIAL\n"
               "  kelvarin-cli config set SERIAL name=value...\n"
               "PORT is a name under /dev (ttyUSB0) or a device path. Ports listed in\n"
               "KELVARIN_PORTS (paths separated by ':') come first. Configuration files live\n"
               "under $KELVARIN_HOME/Kelvarin (else $HOME/Kelvarin).\n",
               stderr);
    return Cli::kUsage;
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// A whole number of seconds, at least 1.
bool ParseSeconds(const std::string& option, const std::string& value, int32_t& seconds) {
    int n = 0;
    if (ParseIntExact(value, n) && n >= 1) {
        seconds = n;
        return true;
    }
    std::fprintf(stderr, "%s takes a positive whole number of seconds, not \"%s\"\n",
                 option.c_str(), value.c_str());
    return false;
}

int RecordCommand(const std::vector<std::string>& args) {
    Cli::RecordOptions options;
    bool prefix = false, duration = false;
    std::string start, end;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool valued = arg == "--prefix" || arg == "--period" || arg == "--duration" ||
                            arg == "--start" || arg == "--end";
        if (valued && i + 1 >= args.size())
            return Usage();
        if (arg == "--prefix") {
            options.prefix = args[++i];
            prefix = !options.prefix.empty();
        } else if (arg == "--period") {
            if (!ParseSeconds(arg, args[++i], options.periodSeconds))
                return Cli::kUsage;
        } else if (arg == "--duration") {
            if (!ParseSeconds(arg, args[++i], options.durationSeconds))
                return Cli::kUsage;
            duration = true;
        } else if (arg == "--start") {
            start = args[++i];
        } else if (arg == "--end") {
            end = args[++i];
        } else if (!arg.empty() && arg[0] != '-') {
            options.ports.push_back(arg);
        } else {
            return Usage();
        }
    }
    // By time needs both ends of the window and no duration.
    const bool byTime = !start.empty() || !end.empty();
    if (!prefix || (byTime && (start.empty() || end.empty() || duration)))
        return Usage();
    if (byTime) {
        options.byTime = true;
        for (const auto& [text, t] : {std::pair{&start, &options.start}, {&end, &options.end}}) {
            if (!Cli::ParseLocalDateTime(*text, *t)) {
                std::fprintf(stderr, "Not a date and time (YYYY-MM-DD HH:MM:SS): \"%s\"\n",
                             text->c_str());
                return Cli::kFailure;
            }
        }
    }
    CatchStopSignals();
    return Cli::Record(options, g_stop, stdout, stderr);
}

int AnalyzeCommand(const std::vector<std::string>& args) {
    Cli::AnalyzeOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--from" || arg == "--to") && i + 1 < args.size()) {
            float seconds = 0.0f;
            if (!ParseFloatExact(args[++i], seconds)) {
                std::fprintf(stderr, "%s takes a number of seconds, not \"%s\"\n", arg.c_str(),
                             args[i].c_str());
                return Cli::kUsage;
            }
            (arg == "--from" ? options.from : options.to) = seconds;
            (arg == "--from" ? options.hasFrom : options.hasTo) = true;
        } else if (!arg.empty() && arg[0] != '-' && options.file.empty()) {
            options.file = arg;
        } else {
            return Usage();
        }
    }
    if (options.file.empty())
        return Usage();
    if (options.hasFrom && options.hasTo && options.from > options.to) {
        std::fprintf(stderr, "--from must not come after --to\n");
        return Cli::kUsage;
    }
    return Cli::Analyze(options, stdout, stderr);
}

int StreamCommand(const std::vector<std::string>& args) {
    Cli::StreamOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--count" || arg == "--timeout") && i + 1 < args.size()) {
            const std::string& value = args[++i];
            int n = 0;
            float seconds = 0.0f;
            if (arg == "--count") {
                if (!ParseIntExact(value, n) || n < 1) {
                    std::fprintf(stderr, "--count takes a positive integer, not \"%s\"\n",
                                 value.c_str());
                    return Cli::kUsage;
                }
                options.count = n;
            } else {
                if (!ParseFloatExact(value, seconds) || seconds <= 0) {
                    std::fprintf(stderr, "--timeout takes a positive number of seconds\n");
                    return Cli::kUsage;
                }
                options.timeoutSeconds = seconds;
            }
        } else if (arg == "--stats") {
            options.stats = true;
        } else if (!arg.empty() && arg[0] != '-' && options.port.empty()) {
            options.port = arg;
        } else {
            return Usage();
        }
    }
    if (options.port.empty())
        return Usage();
    CatchStopSignals();
    return Cli::Stream(options, g_stop, stdout, stderr);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage();
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "ports" && rest.empty())
        return Cli::Ports(stdout);
    if (command == "probe") {
        for (const std::string& port : rest)
            if (port.empty() || port[0] == '-')
                return Usage();
        return Cli::Probe(rest, stdout, stderr);
    }
    if (command == "stream")
        return StreamCommand(rest);
    if (command == "record")
        return RecordCommand(rest);
    if (command == "analyze")
        return AnalyzeCommand(rest);
    if (command == "config" && rest.size() >= 2 && !rest[1].empty()) {
        const std::vector<std::string> assignments(rest.begin() + 2, rest.end());
        if (rest[0] == "show" && assignments.empty())
            return Cli::ConfigShow(rest[1], stdout, stderr);
        if (rest[0] == "set" && !assignments.empty())
            return Cli::ConfigSet(rest[1], assignments, stdout, stderr);
    }
    return Usage();
}
