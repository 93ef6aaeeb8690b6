#pragma once
// Work that a worker thread hands to the user-interface thread (an acquisition's end, a failure
// to report). Post never waits, so a worker never blocks on the UI thread, which may itself be
// waiting for the worker to stop. The work is kept under this queue's own lock, which orders
// the worker's writes before the UI thread's reads (Qt's event queue orders them too, but with
// locks that the thread sanitizer cannot see). Work still queued when the queue goes is dropped.

#include <QObject>

#include <functional>
#include <mutex>
#include <vector>

class CUiThreadQueue : public QObject {
    Q_OBJECT

public:
    explicit CUiThreadQueue(QObject* parent = nullptr) : QObject(parent) {}

    // From any thread: `work` runs on the thread this queue lives on, soon, in posting order.
    void Post(std::function<void()> work);

private slots:
    void RunPosted();

private:
    std::mutex m_lock;
    std::vector<std::function<void()>> m_work; // under m_lock
};
