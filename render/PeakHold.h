#pragma once
// The tuning display's bar and its peak-hold mark: the highest reading since the display was
// chosen or since "Reset Peak", and the full scale the bar is drawn to, that of the measuring
// range holding the peak (ValueFormat's 1-3-10 table). The scale follows the peak, never the
// value, so the bar does not jump when the power falls while a mirror is turned.

class CPeakHold {
public:
    void Reset() { m_bHasPeak = false; }
    // A NaN is no reading and changes nothing.
    void Add(float value);

    bool HasPeak() const { return m_bHasPeak; }
    float Peak() const { return m_fPeak; }
    // The full scale of the range of the peak (of 0 before the first reading).
    float FullScale() const;
    // Where `value` and the peak fall on the bar, 0 to 1 (clamped: a negative value is at 0).
    float Fraction(float value) const;

private:
    bool m_bHasPeak = false;
    float m_fPeak = 0.0f;
};
