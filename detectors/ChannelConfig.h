#pragma once
// The configuration record of one channel: what the meter reported (serial number, name), the
// port, and what the user set for that head (title, gain, offset, wavelength, alarm levels,
// position, anticipation), with the zero, unit and reference its pane shows it with.

#include "detectors/DisplayAids.h"

#include <cstdint>
#include <string>

class CArchiveWriter;
class CArchiveReader;

class CChannelConfig {
public:
    std::string m_strSerial;      // "*SNN" reply without its 4-character header
    std::string m_strName;        // "*NAM" reply
    std::string m_strTitle;       // the user's name for the channel, no blanks
    std::string m_strPort;        // port name, such as ttyUSB0
    float m_fGain = 1.0f;         // multiplies each raw reading
    float m_fOffset = 0.0f;       // W, added after the gain
    int32_t m_nWavelength = 1064; // nm, sent with "*PWC%5i"
    float m_fLevelHigh = 0.0f;    // W, alarm above
    float m_fLevelLow = 0.0f;     // W, alarm below
    int32_t m_nPosition = -1;     // 0-based pane index, -1 when unassigned
    bool m_bAnticipation = true;
    // Kept in a file of their own (DisplayAidsFile), never in the record below.
    CDisplayAids m_aids;

    // Stores the eight persistent fields (title, position, gain, offset, high and low levels,
    // wavelength, anticipation). Serial, name and port come from the meter, not the file.
    void Serialize(CArchiveWriter& ar) const;
    // Loads the eight persistent fields. On failure (data ends early, impossible title length,
    // a gain, offset or level that is not a finite number) the record is left exactly as it was.
    bool Serialize(CArchiveReader& ar);
};
