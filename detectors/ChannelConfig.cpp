#include "detectors/ChannelConfig.h"

#include "detectors/Archive.h"

#include <cmath>
#include <utility>

void CChannelConfig::Serialize(CArchiveWriter& ar) const {
    ar.WriteString(m_strTitle);
    ar.WriteInt32(m_nPosition);
    ar.WriteFloat(m_fGain);
    ar.WriteFloat(m_fOffset);
    ar.WriteFloat(m_fLevelHigh);
    ar.WriteFloat(m_fLevelLow);
    ar.WriteInt32(m_nWavelength);
    ar.WriteInt32(m_bAnticipation ? 1 : 0);
}

bool CChannelConfig::Serialize(CArchiveReader& ar) {
    // Read into a copy so that a damaged record never leaves a half-loaded channel behind.
    CChannelConfig loaded = *this;
    int32_t anticipation = 0;
    const bool ok = ar.ReadString(loaded.m_strTitle) && ar.ReadInt32(loaded.m_nPosition) &&
                    ar.ReadFloat(loaded.m_fGain) && ar.ReadFloat(loaded.m_fOffset) &&
                    ar.ReadFloat(loaded.m_fLevelHigh) && ar.ReadFloat(loaded.m_fLevelLow) &&
                    ar.ReadInt32(loaded.m_nWavelength) && ar.ReadInt32(anticipation);
    if (!ok)
        return false;
    // No dialog or tool writes these, and a NaN gain would turn every reading into "nan".
    for (float value :
         {loaded.m_fGain, loaded.m_fOffset, loaded.m_fLevelHigh, loaded.m_fLevelLow}) {
        if (!std::isfinite(value)) {
            ar.SetError("a gain, offset or level is not a finite number");
            return false;
        }
    }
    loaded.m_bAnticipation = anticipation != 0;
    *this = std::move(loaded);
    return true;
}
