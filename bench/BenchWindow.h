#pragma once
// What the benchmarks that run the real window share: a private profile and data folder, the
// event loop run for a while or until something holds, the start-up auto-detection accepted,
// and the CPU time of the window's threads apart from the simulated meters'.

#include "gui/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

namespace Bench {

// Offscreen unless a platform is named; the profile, the detector files and the ports are the
// benchmark's own (never the user's, never a meter of the machine). Call before QApplication.
inline void UsePrivateSetup(const QTemporaryDir& home) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KELVARIN_HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("KELVARIN_PORTS_ONLY", "1");
}

// Messages the window would show in a box, printed on stderr instead (a benchmark clicks none).
inline void PrintMessages() {
    SetMessageInterceptor(
        [](const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
}

// Runs the event loop for `ms`.
inline void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits, with the event loop running, until `condition` holds or `ms` have passed.
template <typename Condition> bool SpinUntil(Condition condition, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        Spin(10);
    }
    return true;
}

// Clicks OK in the auto-detection list of start-up once its probe is done, while alive.
class AcceptStartUpList {
public:
    AcceptStartUpList() {
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* ok = modal ? modal->findChild<QPushButton*>(QStringLiteral("buttonOk")) : nullptr;
            if (ok && ok->isEnabled() && modal->objectName() == QLatin1String("AutoDetectDlg"))
                ok->click();
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

// CPU time of this process's threads, but those of the simulated meters ("kv-meter"), in ns, in
// all and by thread name.
struct CpuTimes {
    uint64_t total = 0;
    std::map<std::string, uint64_t> byName;
};

inline CpuTimes WindowCpu() {
    CpuTimes times;
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return times;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(task + "/comm"), name);
        uint64_t ns = 0;
        if (name != "kv-meter" && (std::ifstream(task + "/schedstat") >> ns)) {
            times.total += ns;
            times.byName[name] += ns;
        }
    }
    closedir(dir);
    return times;
}

} // namespace Bench
