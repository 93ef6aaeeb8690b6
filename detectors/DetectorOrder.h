#pragma once
// How the detectors found on the serial ports are put in order and bound to positions, the same
// for the auto-detection list and for kelvarin-cli record.

#include <array>
#include <cstdint>
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
