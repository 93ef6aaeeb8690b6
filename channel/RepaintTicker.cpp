#include "channel/RepaintTicker.h"

#include <algorithm>
#include <chrono>
#include <map>

std::shared_ptr<CRepaintTicker> CRepaintTicker::Acquire(int intervalMs) {
    // Panes live on the UI thread only; a weak pointer never outlives the last of its panes.
    static std::map<int, std::weak_ptr<CRepaintTicker>> current;
    std::weak_ptr<CRepaintTicker>& slot = current[intervalMs];
    std::shared_ptr<CRepaintTicker> ticker = slot.lock();
    if (!ticker) {
        ticker = std::make_shared<CRepaintTicker>(intervalMs);
        slot = ticker;
    }
    return ticker;
}

CRepaintTicker::CRepaintTicker(int intervalMs)
    : m_intervalMs(intervalMs), m_aligned(intervalMs == kTuningIntervalMs) {
    connect(&m_timer, &QTimer::timeout, this, &CRepaintTicker::Tick);
    if (m_aligned) {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        return; // armed by its first client
    }
    m_timer.setInterval(intervalMs);
    m_timer.start();
}

void CRepaintTicker::ArmAligned() {
    using Clock = std::chrono::steady_clock;
    const auto step = std::chrono::milliseconds(m_intervalMs);
    const auto now = Clock::now().time_since_epoch();
    auto next = (now / step) * step + std::chrono::milliseconds(kTuningPhaseMs);
    if (next <= now)
        next += step;
    m_timer.start(static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1));
}

void CRepaintTicker::Add(const QObject* owner, std::function<void()> onTick) {
    m_clients.emplace_back(owner, std::move(onTick));
    if (m_aligned && !m_timer.isActive())
        ArmAligned();
}

void CRepaintTicker::Remove(const QObject* owner) {
    if (m_bTicking) {
        for (auto& client : m_clients)
            if (client.first == owner)
                client.first = nullptr; // erased once the tick is over
        return;
    }
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [owner](const auto& client) { return client.first == owner; }),
                    m_clients.end());
    if (m_aligned && m_clients.empty())
        m_timer.stop(); // no pane in the tuning display: no wake-up
}

void CRepaintTicker::Tick() {
    m_bTicking = true;
    // By index, each call a copy: a client added during the tick may move the others.
    for (size_t i = 0; i < m_clients.size(); ++i) {
        if (!m_clients[i].first)
            continue;
        const std::function<void()> onTick = m_clients[i].second;
        onTick();
    }
    m_bTicking = false;
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [](const auto& client) { return client.first == nullptr; }),
                    m_clients.end());
    if (m_aligned && !m_clients.empty())
        ArmAligned();
}
