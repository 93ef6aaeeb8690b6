#include "link/ExchangePacer.h"

#include <chrono>

bool CExchangePacer::Pause(unsigned ms) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return !m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_bCut; });
}

bool CExchangePacer::IsCut() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bCut;
}

void CExchangePacer::Cut() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bCut = true;
    }
    m_cv.notify_all();
}

void CExchangePacer::Resume() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bCut = false;
}

const CExchangePacer& CExchangePacer::Uncut() {
    static const CExchangePacer pacer;
    return pacer;
}
