#include "channel/RepaintTicker.h"

#include <algorithm>
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

CRepaintTicker::CRepaintTicker(int intervalMs) {
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &CRepaintTicker::Tick);
    m_timer.start();
}

void CRepaintTicker::Add(const QObject* owner, std::function<void()> onTick) {
    m_clients.emplace_back(owner, std::move(onTick));
}

void CRepaintTicker::Remove(const QObject* owner) {
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [owner](const auto& client) { return client.first == owner; }),
                    m_clients.end());
}

void CRepaintTicker::Tick() {
    for (const auto& client : m_clients)
        client.second();
}
