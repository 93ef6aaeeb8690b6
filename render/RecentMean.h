#pragma once
// The mean of the readings of the last second, as "Zero" takes it for a head's zero: the room's
// light or the detector's offset, read while the beam is blocked. Keeps the readings of the last
// window only, and at most kMaxReadings of them (a meter at its full line rate sends about 520 a
// second), so memory stays bounded whatever a meter sends.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

class CRecentMean {
public:
    static constexpr int64_t kWindowMs = 1000;
    static constexpr size_t kMaxReadings = 4096;

    // A reading at `nowMs` on a steady clock; NaN is no reading.
    void Add(int64_t nowMs, float value);
    // The mean of the readings of the window before `nowMs`; none when there is none.
    std::optional<double> Mean(int64_t nowMs) const;
    void Clear();

private:
    struct Reading {
        int64_t ms;
        float value;
    };
    std::deque<Reading> m_readings;
};
