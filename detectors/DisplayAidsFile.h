#pragma once
// The file of a head's zero, unit and reference: <data root>/Kelvarin/<stem>.aids, beside the
// head's configuration record (<stem>.dat), which stays exactly as it is.

#include "detectors/ChannelConfigFile.h"
#include "detectors/DisplayAids.h"

#include <string>

// Full path of the file of a serial number; empty when the serial number is empty.
std::string DisplayAidsFilePath(const std::string& serial);

// Missing: no file (the head has none of them set), `aids` unchanged. Damaged: unreadable or a
// line it cannot take; `aids` unchanged and `error` names the file and the line.
ConfigLoad LoadDisplayAidsFile(const std::string& serial, CDisplayAids& aids, std::string& error);
// Stores them atomically; false with `error` naming the file and the reason, the old file left.
bool SaveDisplayAidsFile(const std::string& serial, const CDisplayAids& aids, std::string& error);
