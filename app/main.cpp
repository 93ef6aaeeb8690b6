// kelvarin: watches up to eight laser power meters at once.

#include "app/KelvarinApp.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fputs("Usage: kelvarin [--demo N]\n"
               "  --demo N  start N simulated meters (1 to 8) and list them first\n",
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
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 ||
                   std::strcmp(argv[i], "--demo") == 0) {
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
