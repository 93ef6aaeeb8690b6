#pragma once
// The eight (label, value text) lines of a channel's statistics display, shared by the channel
// view and the command-line tool.

#include "render/Statistics.h"

#include <string>
#include <utility>
#include <vector>

// Lines in display order: current value, maximum, minimum, average, standard deviation (powers
// with one decimal more than the range's, then "W"; "OutW" beyond the range table), RMS and PTP
// stability (percent, then " %") and the elapsed time in whole seconds.
std::vector<std::pair<std::string, std::string>> StatisticsTableLines(const CStatistics& stats,
                                                                      float currentValue);

// The six rows of the post-analysis panel, labels exactly as shown ("Average: ", ..., "Minimum:"
// without its blank): mean, maximum, minimum and standard deviation with the range's decimals
// (plus the object's extra decimals) and the unit, the stabilities with " %"; "Out" alone for a
// value beyond the ranges, or a stability that is not a number.
std::vector<std::pair<std::string, std::string>> StatisticsPanelLines(const CStatistics& stats,
                                                                      const std::string& unit);
