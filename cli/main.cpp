// kelvarin-cli: checks meters and cabling without the GUI, and scripts them.

#include "cli/CliCommands.h"
#include "link/NumberText.h"
#include "res/HelpText.h"

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
               "               [--unit W|dBm|dB|%] [--reference WATTS]\n"
               "  kelvarin-cli record --prefix PATH [--period SECONDS]\n"
               "               (--duration SECONDS | --start \"YYYY-MM-DD HH:MM:SS\"\n"
               "                --end \"YYYY-MM-DD HH:MM:SS\")\n"
               "                [--metrics [ADDR:]PORT [--metrics-auth FILE]] [PORT...]\n"
               "  kelvarin-cli monitor [--metrics [ADDR:]PORT] [--metrics-auth FILE] [PORT...]\n"
               "  kelvarin-cli analyze FILE [--from SECONDS] [--to SECONDS]\n"
               "  kelvarin-cli config show SERIAL\n"
               "  kelvarin-cli config set SERIAL name=value...\n"
               "PORT is a name under /dev (ttyUSB0), a device path, or rfc2217://HOST:PORT or\n"
               "socket://HOST:PORT for a meter behind a serial device server. Ports listed in\n"
               "KELVARIN_PORTS (separated by ':') come first, the window's Network Ports last.\n"
               "Configuration files live under $KELVARIN_HOME/Kelvarin (else $HOME/Kelvarin).\n"
               "More: kelvarin-cli --help\n",
               stderr);
    return Cli::kUsage;
}

const char kHelp[] =
    "Usage: kelvarin-cli COMMAND [OPTION]... [PORT]...\n"
    "Checks laser power meters on serial ports without the window, records them and studies\n"
    "the recordings, with the same code as the Kelvarin window.\n"
    "\n"
    "Commands:\n"
    "  ports              list the ports Kelvarin would probe: local ones first, then the\n"
    "                     network ports kept by the window (Detectors, Network Ports...)\n"
    "  probe [PORT]...    identify the meter on each port (all listed ports by default):\n"
    "                     position, port, name, serial number and title\n"
    "  stream PORT        print each calibrated reading: seconds since connection, watts,\n"
    "                     and the value as a pane shows it\n"
    "  record [PORT]...   record the meters that answer into an acquisition file\n"
    "  monitor [PORT]...  serve the metrics of the meters that answer for Prometheus until\n"
    "                     stopped; the first line printed is the URL served\n"
    "  analyze FILE       the post-analysis figures of a recorded file, one line per channel\n"
    "  config show SERIAL           print the stored settings of a detector head\n"
    "  config set SERIAL NAME=VALUE...  change stored settings (m_fGain=1.02 m_nWavelength=532;\n"
    "                     zero=WATTS, 0 clears it; unit=W|dBm|dB|%; reference=WATTS,\n"
    "                     \"reference=position N\" or reference=none)\n"
    "\n"
    "Options:\n"
    "  --count N          stream: stop after N readings\n"
    "  --timeout SECONDS  stream: stop after SECONDS without a reading\n"
    "  --stats            stream: end with the statistics table of the readings\n"
    "  --unit UNIT        stream: the third column in W (default), dBm, dB or %\n"
    "  --reference WATTS  stream: the power dB and % are read against (default: the head's\n"
    "                     kept reference)\n"
    "  --prefix PATH      record: the file is PATH followed by the local start time and .txt\n"
    "  --period SECONDS   record: one line every SECONDS (default 1)\n"
    "  --duration SECONDS  record: for SECONDS from now (default 60)\n"
    "  --start \"YYYY-MM-DD HH:MM:SS\"  record: from this local time (with --end)\n"
    "  --end \"YYYY-MM-DD HH:MM:SS\"    record: up to this local time (with --start)\n"
    "  --metrics [ADDR:]PORT  monitor, record: serve the metrics page on ADDR (127.0.0.1\n"
    "                     unless given) and PORT (monitor: 127.0.0.1:10640 by default, a\n"
    "                     port not taken in Prometheus's list of default port allocations)\n"
    "  --metrics-auth FILE  monitor, record: ask for the user and password of FILE, whose first\n"
    "                     line is user:password; FILE must not be readable by other users\n"
    "  --from SECONDS     analyze: from SECONDS after the file's start\n"
    "  --to SECONDS       analyze: up to SECONDS after the file's start\n"
    "  -h, --help         show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "PORT is a name under /dev (ttyUSB0), a device path (/dev/serial/by-id/...), or a meter "
    "behind\n"
    "a serial device server: rfc2217://HOST:PORT (the server's line is set to 57600 8N1) or\n"
    "socket://HOST:PORT (raw TCP; the server's own settings hold). record stops\n"
    "like the window's Stop Acquisition on Ctrl+C or SIGTERM, with its last line whole; a meter\n"
    "unplugged meanwhile keeps its column with its last reading until it answers again.\n"
    "monitor answers GET /metrics only (read-only) and stops the same way: every meter stopped,\n"
    "exit 0. A lost meter is shown down, without power, until it answers again on its port.\n"
    "\n" KELVARIN_HELP_ENVIRONMENT "\n"
    "Files:\n"
    "  $KELVARIN_HOME/Kelvarin/SERIAL.dat  the stored settings of each detector head, named\n"
    "                                      after the first six characters of its serial number\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  failure (the reason on standard error)\n"
    "  2  the command line was not understood\n";

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

// --metrics and --metrics-auth with their value at args[i]; advances i. 0 when
// args[i] is none of them, -1 when it is one with a bad or missing value (told), 1 when taken.
int TakeMetricsOption(const std::vector<std::string>& args, size_t& i, MetricsEndpoint& endpoint,
                      bool& given) {
    const std::string& arg = args[i];
    if (arg != "--metrics" && arg != "--metrics-auth")
        return 0;
    if (i + 1 >= args.size()) {
        Usage();
        return -1;
    }
    const std::string& value = args[++i];
    if (arg == "--metrics-auth") {
        endpoint.authFile = value;
    } else {
        std::string error;
        if (!ParseMetricsListen(value, endpoint, error)) {
            std::fprintf(stderr, "--metrics: %s\n", error.c_str());
            return -1;
        }
        given = true;
    }
    return 1;
}

int MonitorCommand(const std::vector<std::string>& args) {
    Cli::MonitorOptions options;
    bool given = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const int taken = TakeMetricsOption(args, i, options.metrics, given);
        if (taken < 0)
            return Cli::kUsage;
        if (taken > 0)
            continue;
        if (!args[i].empty() && args[i][0] != '-')
            options.ports.push_back(args[i]);
        else
            return Usage();
    }
    CatchStopSignals();
    return Cli::Monitor(options, g_stop, stdout, stderr);
}

int RecordCommand(const std::vector<std::string>& args) {
    Cli::RecordOptions options;
    bool prefix = false, duration = false;
    std::string start, end;
    for (size_t i = 0; i < args.size(); ++i) {
        const int taken = TakeMetricsOption(args, i, options.metrics, options.serveMetrics);
        if (taken < 0)
            return Cli::kUsage;
        if (taken > 0)
            continue;
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
    if (!options.serveMetrics && !options.metrics.authFile.empty()) {
        std::fprintf(stderr, "record: --metrics-auth goes with --metrics\n");
        return Cli::kUsage;
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
        } else if (arg == "--unit" && i + 1 < args.size()) {
            const std::string& value = args[++i];
            if (!ParseDisplayUnit(value, options.unit)) {
                std::fprintf(stderr, "--unit takes W, dBm, dB or %%, not \"%s\"\n", value.c_str());
                return Cli::kUsage;
            }
        } else if (arg == "--reference" && i + 1 < args.size()) {
            const std::string& value = args[++i];
            float watts = 0.0f;
            if (!ParseFloatExact(value, watts) || !(watts > 0)) {
                std::fprintf(stderr, "--reference takes a power above 0 W, not \"%s\"\n",
                             value.c_str());
                return Cli::kUsage;
            }
            options.reference = watts;
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
    if ((command == "--help" || command == "-h") && args.size() == 1) {
        std::fputs(kHelp, stdout);
        return Cli::kSuccess;
    }
    if (command == "--version" && args.size() == 1) {
        std::printf("kelvarin-cli %s\n", KELVARIN_VERSION);
        return Cli::kSuccess;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "ports" && rest.empty())
        return Cli::Ports(stdout, stderr);
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
    if (command == "monitor")
        return MonitorCommand(rest);
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
