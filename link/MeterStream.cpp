#include "link/MeterStream.h"

#include "link/DetectorProtocol.h"

bool CMeterStream::Poll(const std::function<void(float)>& onReading) {
    char buffer[DetectorProtocol::kStreamBufferSize];
    // Asked even when nothing is queued, so that a port that has gone away is noticed. At most
    // the buffer less one: the rest stays queued for the next pass.
    const int got = m_port.ReadQueued(buffer, sizeof buffer - 1);
    if (got < 0)
        return false;
    if (got > 0) {
        m_lines.Append(buffer, static_cast<size_t>(got));
        m_lines.TakeReadings(m_fGain, m_fOffset, onReading);
    }
    return true;
}
