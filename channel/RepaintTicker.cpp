#include "channel/RepaintTicker.h"

#include <algorithm>

std::shared_ptr<CRepaintTicker> CRepaintTicker::Acquire() {
    // Panes live on the UI thread only; the weak pointer never outlives the last of them.
    static std::weak_ptr<CRepaintTicker> current;
    std::shared_ptr<CRepaintTicker> ticker = current.lock();
    if (!ticker) {
        ticker = std::make_shared<CRepaintTicker>();
        current = ticker;
    }
    return ticker;
}

CRepaintTicker::CRepaintTicker() {
    m_timer.setInterval(kIntervalMs);
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
