// kelvarin: watches up to eight laser power meters at once.

#include "app/KelvarinApp.h"
#include "res/HelpText.h"

#include <cstdio>
#include <cstring>
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
    "                                      prefix, last port)\n"
    "\n"
    "Exit status:\n"
    "  0  the window was closed\n"
    "  1  it could not start (the reason on standard error)\n"
    "  2  the command line was not understood\n";

int Usage() {
    std::fputs("Usage: kelvarin [--demo N]\n"
               "  --demo N  start N simulated meters (1 to 8) and list them first\n"
               "More: kelvarin --help\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int demoMeters = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--demo") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 8)
                return Usage();
            demoMeters = static_cast<int>(n);
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            // Answered before any window system is asked: it works without a display.
            std::fputs(kHelp, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kelvarin %s\n", KELVARIN_VERSION);
            return 0;
        } else if (std::strcmp(argv[i], "--demo") == 0) {
            return Usage();
        }
    }
    CKelvarinApp app(argc, argv);
    QString error;
    if (!app.InitInstance(demoMeters, error)) {
        std::fprintf(stderr, "kelvarin: %s\n", qPrintable(error));
        return 1;
    }
    return app.exec();
}
