#include "link/MeterStream.h"

#include "link/DetectorProtocol.h"

#include <algorithm>

bool CMeterStream::Poll(const std::function<void(float)>& onReading) {
    char buffer[DetectorProtocol::kStreamBufferSize];
    const int queued = m_port.QueuedInputCount();
    // Ask for one byte when nothing is queued, so that a port that has gone away is noticed.
    const uint32_t wanted =
        queued > 0 ? std::min<uint32_t>(static_cast<uint32_t>(queued), sizeof buffer - 1) : 1;
    const int got = m_port.ReadData(buffer, wanted);
    if (got < 0)
        return false;
    if (got > 0) {
        m_lines.Append(buffer, static_cast<size_t>(got));
        m_lines.TakeReadings(m_fGain, m_fOffset, onReading);
    }
    return true;
}
