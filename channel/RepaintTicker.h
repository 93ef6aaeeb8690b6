#pragma once
// One 300 ms timer for every pane (and one of 50 ms for the panes in the tuning display, where a
// reading is to reach the screen within 100 ms): at each tick the panes whose content changed ask
// for a paint, all in the same pass, so the window is painted and flushed once per tick at most,
// and not at all while nothing changes (no meter, a stopped stream, a lost meter).
//
// Shared by the panes alive: the first one creates it, the last one takes it away.

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class CRepaintTicker : public QObject {
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 300;
    static constexpr int kTuningIntervalMs = 50;

    // The ticker of this thread's panes at that interval, created when none is alive.
    static std::shared_ptr<CRepaintTicker> Acquire(int intervalMs = kIntervalMs);

    // `onTick` runs at every tick until Remove(owner).
    void Add(const QObject* owner, std::function<void()> onTick);
    void Remove(const QObject* owner);

    explicit CRepaintTicker(int intervalMs);

private:
    void Tick();

    QTimer m_timer;
    std::vector<std::pair<const QObject*, std::function<void()>>> m_clients;
};
