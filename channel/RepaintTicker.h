#pragma once
// One 300 ms timer for every pane: at each tick the panes whose content changed ask for a paint,
// all in the same pass, so the window is painted and flushed once per tick at most, and not at
// all while nothing changes (no meter, a stopped stream, a lost meter).
//
// And one of 50 ms for the panes in the tuning display, where a reading is to reach the screen
// within 100 ms. It ticks 10 ms after the 50 ms steps of the steady clock on which every channel
// reads its meter, so that a batch just read is painted at once rather than up to 50 ms later;
// it runs only while a pane is in that display.
//
// Shared by the panes alive: the first one creates it, the last one takes it away. A client may
// add or remove itself (or another) while a tick runs.

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
    static constexpr int kTuningPhaseMs = 10; // after each step of the channels' reads

    // The ticker of this thread's panes at that interval, created when none is alive.
    static std::shared_ptr<CRepaintTicker> Acquire(int intervalMs = kIntervalMs);

    // `onTick` runs at every tick until Remove(owner).
    void Add(const QObject* owner, std::function<void()> onTick);
    void Remove(const QObject* owner);
    bool IsRunning() const { return m_timer.isActive(); }

    explicit CRepaintTicker(int intervalMs);

private:
    void Tick();
    // The tuning ticker's next tick, kTuningPhaseMs after the next step of the clock.
    void ArmAligned();

    const int m_intervalMs;
    const bool m_aligned; // the tuning ticker: on the channels' steps, only while it has clients
    QTimer m_timer;
    std::vector<std::pair<const QObject*, std::function<void()>>> m_clients;
    bool m_bTicking = false; // removals during a tick only clear the owner
};
