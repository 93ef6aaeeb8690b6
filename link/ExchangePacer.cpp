#include "link/ExchangePacer.h"

#include <chrono>
#include <thread>

uint64_t CExchangeGate::Advance() {
    uint64_t next;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        next = m_generation.fetch_add(1) + 1;
    }
    m_cv.notify_all();
    return next;
}

bool CExchangeGate::Pause(uint64_t generation, unsigned ms) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return !m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return IsStale(generation); });
}

bool CExchangePacer::Pause(unsigned ms) const {
    if (m_gate)
        return m_gate->Pause(m_generation, ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
}

const CExchangePacer& CExchangePacer::Uncut() {
    static const CExchangePacer pacer;
    return pacer;
}
