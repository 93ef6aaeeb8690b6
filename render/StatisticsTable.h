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
