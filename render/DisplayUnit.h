#pragma once
// The units a pane may show its reading in besides watts: dBm (against 1 mW, for fibre work), dB
// and % (against a reference power: a coupling efficiency, a loss, a drift since the start). Only
// what is shown changes: graphs, statistics, alarm levels, recordings and the exporter stay in
// watts.

#include <string>

enum class DisplayUnit { Watt, Dbm, Db, Percent };

// "W", "dBm", "dB" or "%", exactly; false for anything else.
bool ParseDisplayUnit(const std::string& text, DisplayUnit& unit);
const char* DisplayUnitName(DisplayUnit unit);
// dB and % are read against a reference power.
bool UnitNeedsReference(DisplayUnit unit);

// `watts` in `unit` (`reference` in watts, for dB and %). False when it has no value there: a
// power or ratio that is not positive (or not a number), or no positive reference where one is
// needed.
bool ConvertPower(DisplayUnit unit, double watts, double reference, double& value);

// As a pane shows it: watts with their range's prefix ("12.34 mW"), dBm and dB with two decimals
// and a sign where negative ("-3.01 dBm", "0.42 dB"), % with two decimals ("98.50 %"); "--- dBm"
// (the unit after three dashes) when ConvertPower has no value.
std::string FormatInUnit(DisplayUnit unit, float watts, double reference);
