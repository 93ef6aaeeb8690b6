// A deliberate data race in this project's code, reached from Qt's event loop: the worker is
// started from a timer slot and the main thread writes from another, so both stacks hold Qt's
// own frames below ours. The ThreadSanitizer stage runs it with the suppressions of the real
// tests and requires a report naming these functions: a suppression that matched Qt's frames
// anywhere in a stack would hide it, and with it every race of ours under the event loop.

#include <QCoreApplication>
#include <QTimer>

#include <thread>

namespace {

int g_nUnguarded = 0; // written by both threads without a lock, on purpose

__attribute__((noinline)) void RaceCanaryWorkerWrites() {
    ++g_nUnguarded;
}

__attribute__((noinline)) void RaceCanaryMainWrites() {
    ++g_nUnguarded;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::thread worker;
    QTimer::singleShot(0, &app, [&worker] { worker = std::thread(RaceCanaryWorkerWrites); });
    // The main thread writes before it joins, so nothing orders the two writes.
    QTimer::singleShot(100, &app, [&app, &worker] {
        RaceCanaryMainWrites();
        worker.join();
        app.quit();
    });
    return app.exec();
}
