#include "link/MeterLink.h"

#include "link/ComAccess.h"
#include "link/Ticks.h"

CMeterLink::CMeterLink(ComAccess& port) : m_port(port), m_stream(port, 1.0f, 0.0f) {}

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

LinkEvent CMeterLink::ReadStream(float gain, float offset,
                                 const std::function<void(float)>& onReading) {
    if (m_state.load() != LinkState::Connected)
        return LinkEvent::None;
    m_stream.SetCalibration(gain, offset);
    if (m_stream.Poll(onReading))
        return LinkEvent::None;
    return SetLost(m_port.LastError()) ? LinkEvent::Lost : LinkEvent::None;
}

uint32_t CMeterLink::MsUntilRetry() const {
    const uint32_t since = static_cast<uint32_t>(TickCount() - m_lastTryTicks);
    return since >= kRetryMs ? 0 : kRetryMs - since;
}

bool CMeterLink::SetLost(const PortError& reason) {
    if (m_state.load() != LinkState::Connected)
        return false;
    // The time first: whoever sees the link lost reads when it was lost (it is shown only then).
    m_lostAt.store(std::time(nullptr));
    m_state.store(LinkState::Lost);
    m_lossReason = reason;
    m_port.Close(); // nothing is sent: nobody is there to hear it
    m_stream.Clear();
    m_lastTryTicks = TickCount();
    return true;
}

LinkEvent CMeterLink::TryResume(const std::function<DetectorProtocol::ResumeSettings()>& resume,
                                const CExchangePacer& pacer) {
    if (m_state.load() != LinkState::Lost)
        return LinkEvent::None;
    const DetectorProtocol::ResumeResult result =
        DetectorProtocol::ResumeMeter(m_port, PortName(), resume(), pacer);
    m_lastTryTicks = TickCount(); // the next try counts from the end of this one
    if (result != DetectorProtocol::ResumeResult::Resumed)
        return LinkEvent::None;
    m_stream.Clear();
    m_state.store(LinkState::Connected);
    return LinkEvent::Resumed;
}
