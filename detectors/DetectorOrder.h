#pragma once
// How the detectors found on the serial ports are put in order and bound to positions, the same
// for the auto-detection list and for kelvarin-cli record.

#include "detectors/ChannelConfig.h"
#include "link/DetectorProtocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The order of the list: detectors with a stored (or chosen) position first, ascending, ties in
// port order; then the ones without a position (negative) in port order. Returns, for each place
// of the new order, the index of the detector that goes there.
std::vector<int> DetectorListOrder(const std::vector<int32_t>& positions);

// The position index (0 to 7) each detector of the list takes, in list order: the next position
// not `taken`, for a detector that gave its serial number; -1 for one that did not, and for
// every detector once the positions are used up.
std::vector<int> AssignDetectorPositions(const std::vector<std::string>& serials,
                                         std::array<bool, 8> taken);

// The title given to a detector whose stored title is empty: "Position_%i" with the number.
std::string DefaultPositionTitle(int positionIndex);

// Only the first rows of the list carry their columns into the records bound to positions.
inline constexpr size_t kAssignableRows = 8;

// The position and title stored for the serial number of `row`, put into it; a row without a
// serial number, or whose serial number has no file, is left as it is. `onDamaged` is told the
// message of a stored file that cannot be read (the row is then left as it is too).
void ReadStoredPlace(CChannelConfig& row,
                     const std::function<void(const std::string& error)>& onDamaged);

// The rows of the list after a probe, one per port in port order: the port, the name and serial
// number its meter gave, and for each serial number the position and title stored for it ("-1"
// and no title when none is). `onDamaged` is told the message of each stored file that cannot be
// read (that detector is listed without a stored position).
std::vector<CChannelConfig>
DetectorRowsFromProbe(const std::vector<std::string>& ports,
                      const std::vector<DetectorProtocol::ProbeResult>& probes,
                      const std::function<void(const std::string& error)>& onDamaged);
// The rows put in list order (DetectorListOrder of their positions).
void SortDetectorRows(std::vector<CChannelConfig>& rows);

// A detector of the list bound to a position: the record its channel is connected with.
struct DetectorBinding {
    size_t row = 0;        // its row in the list
    int position = -1;     // position index 0 to 7
    CChannelConfig config; // serial, name and port of the list, the stored settings, the
                           // position, and "Position_%i" when no title is stored
    bool stored = false;   // the settings came from its file
    std::string damaged;   // its file could not be read (the message): default settings
};
// Binds the rows of the list, in list order, to the positions not `taken`, as the window does
// after OK: only the first kAssignableRows rows, and only those with a serial number.
std::vector<DetectorBinding> BindDetectorRows(const std::vector<CChannelConfig>& rows,
                                              std::array<bool, 8> taken);
