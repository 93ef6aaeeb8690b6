#pragma once
// What a head's pane adds to the design's display: a zero subtracted from every calibrated
// reading (the room's light, the detector's offset), the unit the value is shown in, and the
// reference that dB and % are read against: a power kept, or another position's live reading
// (a pick-off meter, so that the source's own noise cancels out).
//
// Kept per head beside its configuration record, as lines of KEY=VALUE a user can read:
//   zero=1.25e-05
//   unit=dBm
//   reference=0.001        (or "position 3", or "none")
// The same keys and values are what `kelvarin-cli config set` takes.

#include "render/DisplayUnit.h"

#include <functional>
#include <string>
#include <vector>

struct CDisplayAids {
    enum class Reference { None, Value, Position };

    float m_fZero = 0.0f; // W, subtracted from each calibrated reading; 0 is no zero
    DisplayUnit m_unit = DisplayUnit::Watt;
    Reference m_reference = Reference::None;
    double m_fReferenceWatts = 0.0; // Reference::Value: above 0
    int m_nReferencePosition = -1;  // Reference::Position: 0-based

    bool HasZero() const { return m_fZero != 0.0f; }
    // The reference of each kind, nothing of the others kept. A power must be above 0 W and
    // finite, a position 0 to 7; false (unchanged) otherwise.
    void SetNoReference();
    bool SetReferenceWatts(double watts);
    bool SetReferencePosition(int position);
    bool operator==(const CDisplayAids& other) const;
    bool operator!=(const CDisplayAids& other) const { return !(*this == other); }
};

// The keys, in the order the file and `config show` list them.
const std::vector<std::string>& DisplayAidKeys();
// The value of `key` as the file writes it ("1.25e-05", "dBm", "position 3", "none").
std::string DisplayAidValue(const CDisplayAids& aids, const std::string& key);
// Sets `key` from its text; false with `error` (and `aids` unchanged) for an unknown key or a
// value it cannot take: a zero that is not a finite number, a unit other than W, dBm, dB and %,
// a reference that is not "none", "position 1" to "position 8" or a power above 0 W.
bool SetDisplayAid(CDisplayAids& aids, const std::string& key, const std::string& value,
                   std::string& error);

// The file's text, and back. Parsing stops at the first line it cannot take: false with `error`
// naming the line, `aids` unchanged. Blank lines and lines starting with '#' are skipped.
std::string FormatDisplayAids(const CDisplayAids& aids);
bool ParseDisplayAids(const std::string& text, CDisplayAids& aids, std::string& error);

// The power dB and % are read against: the kept value, or the live zeroed reading of the
// reference position (`live` tells it, false when that position has none); 0, which shows "---",
// without a reference or a live reading.
using LiveReading = std::function<bool(int position, float& watts)>;
double ReferencePower(const CDisplayAids& aids, const LiveReading& live);

// A number in the "C" locale, the shortest text that reads back to the same value (a float's
// reading 0.002 is "0.002", not the digits of its double).
std::string ShortestNumberText(double value);
std::string ShortestNumberText(float value);
