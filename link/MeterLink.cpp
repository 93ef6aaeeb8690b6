#include "link/MeterLink.h"

#include "link/ComAccess.h"
#include "link/Ticks.h"

CMeterLink::CMeterLink(ComAccess& port) : m_port(port), m_stream(port, 1.0f, 0.0f) {}

void CMeterLink::SetConnecting(const std::string& portName) {
    // May come from any thread: the stream is left to the worker, which clears it when
    // the port is connected.
    {
        std::lock_guard<std::mutex> guard(m_nameLock);
        m_portName = portName;
    }
    m_state.store(LinkState::Connecting);
}

void CMeterLink::SetConnected(const std::string& portName) {
    {
        std::lock_guard<std::mutex> guard(m_nameLock);
        m_portName = portName;
    }
    m_stream.Clear();
    m_state.store(LinkState::Connected);
}

void CMeterLink::SetClosed() {
    m_state.store(LinkState::Closed);
}

std::string CMeterLink::PortName() const {
    std::lock_guard<std::mutex> guard(m_nameLock);
    return m_portName;
}

LinkEvent CMeterLink::Poll(float gain, float offset, const std::function<void(float)>& onReading,
                           const std::function<DetectorProtocol::ResumeSettings()>& resume,
                           const CExchangePacer& pacer) {
    switch (m_state.load()) {
    case LinkState::Closed:
    case LinkState::Connecting:
        return LinkEvent::None;
    case LinkState::Lost:
        if (static_cast<uint32_t>(TickCount() - m_lastTryTicks) < kRetryMs)
            return LinkEvent::None;
        return TryResume(resume, pacer);
    case LinkState::Connected:
        break;
    }
    m_stream.SetCalibration(gain, offset);
    if (m_stream.Poll(onReading))
        return LinkEvent::None;
    return SetLost(m_port.LastError()) ? LinkEvent::Lost : LinkEvent::None;
}

bool CMeterLink::SetLost(const PortError& reason) {
    if (m_state.load() != LinkState::Connected)
        return false;
    // The time first: whoever sees the link lost reads when it was lost (it is shown only then).
    m_lostAt.store(std::time(nullptr));
    // Closed or bound anew by the owner meanwhile: that is no loss.
    LinkState expected = LinkState::Connected;
    if (!m_state.compare_exchange_strong(expected, LinkState::Lost))
        return false;
    m_lossReason = reason;
    m_port.Close(); // nothing is sent: nobody is there to hear it
    m_stream.Clear();
    m_lastTryTicks = TickCount();
    return true;
}

LinkEvent CMeterLink::TryResume(const std::function<DetectorProtocol::ResumeSettings()>& resume,
                                const CExchangePacer& pacer) {
    const DetectorProtocol::ResumeResult result =
        DetectorProtocol::ResumeMeter(m_port, PortName(), resume(), pacer);
    m_lastTryTicks = TickCount(); // the next try counts from the end of this one
    if (result != DetectorProtocol::ResumeResult::Resumed)
        return LinkEvent::None;
    LinkState expected = LinkState::Lost;
    if (!m_state.compare_exchange_strong(expected, LinkState::Connected)) {
        DetectorProtocol::CloseMeter(m_port); // closed by the owner while it was tried
        return LinkEvent::None;
    }
    m_stream.Clear();
    return LinkEvent::Resumed;
}
