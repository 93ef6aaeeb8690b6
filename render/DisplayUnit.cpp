#include "render/DisplayUnit.h"

#include "render/ValueFormat.h"

#include <cmath>

namespace {

constexpr double kMilliwatt = 1e-3;

} // namespace

bool ParseDisplayUnit(const std::string& text, DisplayUnit& unit) {
    for (DisplayUnit candidate :
         {DisplayUnit::Watt, DisplayUnit::Dbm, DisplayUnit::Db, DisplayUnit::Percent}) {
        if (text == DisplayUnitName(candidate)) {
            unit = candidate;
            return true;
        }
    }
    return false;
}

const char* DisplayUnitName(DisplayUnit unit) {
    switch (unit) {
    case DisplayUnit::Dbm:
        return "dBm";
    case DisplayUnit::Db:
        return "dB";
    case DisplayUnit::Percent:
        return "%";
    case DisplayUnit::Watt:
        break;
    }
    return "W";
}

bool UnitNeedsReference(DisplayUnit unit) {
    return unit == DisplayUnit::Db || unit == DisplayUnit::Percent;
}

bool ConvertPower(DisplayUnit unit, double watts, double reference, double& value) {
    if (std::isnan(watts))
        return false;
    if (UnitNeedsReference(unit) && !(reference > 0 && std::isfinite(reference)))
        return false;
    switch (unit) {
    case DisplayUnit::Watt:
        value = watts;
        return true;
    case DisplayUnit::Dbm:
        if (!(watts > 0))
            return false;
        value = 10.0 * std::log10(watts / kMilliwatt);
        break;
    case DisplayUnit::Db:
        if (!(watts > 0))
            return false;
        value = 10.0 * std::log10(watts / reference);
        break;
    case DisplayUnit::Percent:
        if (!(watts > 0))
            return false; // no ratio of a power that is not positive
        value = 100.0 * watts / reference;
        break;
    }
    return std::isfinite(value);
}

std::string FormatInUnit(DisplayUnit unit, float watts, double reference) {
    if (unit == DisplayUnit::Watt)
        return FormatBigValue(watts);
    const std::string name = DisplayUnitName(unit);
    double value = 0;
    if (!ConvertPower(unit, watts, reference, value))
        return "--- " + name;
    // Two decimals; a value that rounds to zero is shown without a sign ("0.00 dB").
    std::string text = FormatFixed(value, 2);
    if (text == "-0.00")
        text = "0.00";
    return text + " " + name;
}
