#pragma once
// The stream of one meter read without a window (kelvarin-cli): the bytes queued on its port cut
// into lines and each line calibrated with the channel's gain and offset.

#include "link/ComAccess.h"
#include "link/LineBuffer.h"

#include <functional>

class CMeterStream {
public:
    CMeterStream(ComAccess& port, float gain, float offset)
        : m_port(port), m_fGain(gain), m_fOffset(offset) {}

    // Reads what is queued now and hands over each reading. False once the port has gone away
    // (the meter unplugged): the reason is the port's LastError().
    bool Poll(const std::function<void(float)>& onReading);
    void SetCalibration(float gain, float offset) {
        m_fGain = gain;
        m_fOffset = offset;
    }
    // Drops a partial line (the port was closed or changed).
    void Clear() { m_lines.Clear(); }

private:
    ComAccess& m_port;
    CLineBuffer m_lines;
    float m_fGain;
    float m_fOffset;
};
