// kelvarin: watches up to eight laser power meters at once.

#include "app/KelvarinApp.h"
#include "monitor/MetricsServer.h"
#include "res/HelpText.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

const char kHelp[] =
    "Usage: kelvarin [OPTION]...\n"
    "Watches up to eight laser power meters on serial ports at once: each position's value in\n"
    "large type with its SI prefix, a live graph or running statistics, latched alarms,\n"
    "recordings of every channel on a schedule, and the post-analysis of recorded files.\n"
    "\n"
    "Options:\n"
    "  --demo N     start N simulated meters (1 to 8) inside the application, with settings\n"
    "               of their own in a temporary folder, and list their ports first\n"
    "  --metrics [ADDR:]PORT\n"
    "               serve the metrics page for Prometheus on ADDR:PORT for this run (ADDR\n"
    "               127.0.0.1 unless given), with the password and TLS files set in\n"
    "               Parameters > Remote Monitoring; the exporter is off unless asked here or\n"
    "               in that dialog, whose port is 10640 at first\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "Meters on USB serial adapters are best chosen by their stable names under\n"
    "/dev/serial/by-id/, which stay the same when a cable is pulled and plugged in again. The\n"
    "account needs access to the ports: typically membership of the dialout group.\n"
    "\n" KELVARIN_HELP_ENVIRONMENT "\n"
    "Files:\n"
    "  $KELVARIN_HOME/Kelvarin/SERIAL.dat  the stored settings of each detector head\n"
    "  ~/.config/Kelvarin/Kelvarin.conf    the window's settings (graph points, screenshot\n"
    "                                      prefix, last port, remote monitoring)\n"
    "\n"
    "Exit status:\n"
    "  0  the window was closed\n"
    "  1  it could not start (the reason on standard error)\n"
    "  2  the command line was not understood\n";

int Usage() {
    std::fputs("Usage: kelvarin [--demo N] [--metrics [ADDR:]PORT]\n"
               "  --demo N               start N simulated meters (1 to 8) and list them first\n"
               "  --metrics [ADDR:]PORT  serve the metrics page there (127.0.0.1 by default)\n"
               "More: kelvarin --help\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int demoMeters = 0;
    std::optional<MetricsEndpoint> metrics;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--demo") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 8)
                return Usage();
            demoMeters = static_cast<int>(n);
        } else if (std::strcmp(argv[i], "--metrics") == 0 && i + 1 < argc) {
            MetricsEndpoint endpoint;
            std::string why;
            if (!ParseMetricsListen(argv[++i], endpoint, why)) {
                std::fprintf(stderr, "kelvarin: --metrics: %s\n", why.c_str());
                return Usage();
            }
            metrics = endpoint;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            // Answered before any window system is asked: it works without a display.
            std::fputs(kHelp, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kelvarin %s\n", KELVARIN_VERSION);
            return 0;
        } else if (std::strcmp(argv[i], "--demo") == 0 || std::strcmp(argv[i], "--metrics") == 0) {
            return Usage(); // without its value
        }
    }
    CKelvarinApp app(argc, argv);
    QString error;
    if (!app.InitInstance(demoMeters, metrics, error)) {
        std::fprintf(stderr, "kelvarin: %s\n", qPrintable(error));
        return 1;
    }
    return app.exec();
}
