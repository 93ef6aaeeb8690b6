#include "detectors/DisplayAids.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace {

constexpr int kPositions = 8;

// A whole text as a finite number, "C" locale, no blanks around it.
bool ParseNumber(const std::string& text, double& value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin; // from_chars takes no plus sign; a user may well write one
    const auto [at, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && at == end && begin != end && std::isfinite(value);
}

} // namespace

void CDisplayAids::SetNoReference() {
    m_reference = Reference::None;
    m_fReferenceWatts = 0.0;
    m_nReferencePosition = -1;
}

bool CDisplayAids::SetReferenceWatts(double watts) {
    if (!(watts > 0) || !std::isfinite(watts))
        return false;
    SetNoReference();
    m_reference = Reference::Value;
    m_fReferenceWatts = watts;
    return true;
}

bool CDisplayAids::SetReferencePosition(int position) {
    if (position < 0 || position >= kPositions)
        return false;
    SetNoReference();
    m_reference = Reference::Position;
    m_nReferencePosition = position;
    return true;
}

bool CDisplayAids::operator==(const CDisplayAids& other) const {
    return m_fZero == other.m_fZero && m_unit == other.m_unit && m_reference == other.m_reference &&
           m_fReferenceWatts == other.m_fReferenceWatts &&
           m_nReferencePosition == other.m_nReferencePosition;
}

namespace {

template <typename Number> std::string Shortest(Number value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

} // namespace

std::string ShortestNumberText(double value) {
    return Shortest(value);
}

std::string ShortestNumberText(float value) {
    return Shortest(value);
}

const std::vector<std::string>& DisplayAidKeys() {
    static const std::vector<std::string> keys{"zero", "unit", "reference"};
    return keys;
}

std::string DisplayAidValue(const CDisplayAids& aids, const std::string& key) {
    if (key == "zero")
        return ShortestNumberText(aids.m_fZero);
    if (key == "unit")
        return DisplayUnitName(aids.m_unit);
    if (key == "reference") {
        switch (aids.m_reference) {
        case CDisplayAids::Reference::Value:
            return ShortestNumberText(aids.m_fReferenceWatts);
        case CDisplayAids::Reference::Position:
            return "position " + std::to_string(aids.m_nReferencePosition + 1);
        case CDisplayAids::Reference::None:
            break;
        }
        return "none";
    }
    return std::string();
}

bool SetDisplayAid(CDisplayAids& aids, const std::string& key, const std::string& value,
                   std::string& error) {
    if (key == "zero") {
        double zero = 0;
        // Stored as the float every reading is; a zero beyond it is no zero of a meter.
        if (!ParseNumber(value, zero) || !std::isfinite(static_cast<float>(zero))) {
            error = "zero must be a number of watts, not \"" + value + "\"";
            return false;
        }
        aids.m_fZero = static_cast<float>(zero);
        return true;
    }
    if (key == "unit") {
        DisplayUnit unit;
        if (!ParseDisplayUnit(value, unit)) {
            error = "unit must be W, dBm, dB or %, not \"" + value + "\"";
            return false;
        }
        aids.m_unit = unit;
        return true;
    }
    if (key == "reference") {
        if (value == "none") {
            aids.SetNoReference();
            return true;
        }
        const std::string prefix = "position ";
        if (value.compare(0, prefix.size(), prefix) == 0) {
            const std::string digits = value.substr(prefix.size());
            if (digits.size() == 1 && aids.SetReferencePosition(digits[0] - '1'))
                return true;
        } else {
            double watts = 0;
            if (ParseNumber(value, watts) && aids.SetReferenceWatts(watts))
                return true;
        }
        error = "reference must be a power above 0 W, \"position 1\" to \"position 8\" or "
                "\"none\", not \"" +
                value + "\"";
        return false;
    }
    error = "unknown setting \"" + key + "\" (zero, unit, reference)";
    return false;
}

double ReferencePower(const CDisplayAids& aids, const LiveReading& live) {
    switch (aids.m_reference) {
    case CDisplayAids::Reference::Value:
        return aids.m_fReferenceWatts;
    case CDisplayAids::Reference::Position: {
        float watts = 0.0f;
        return live && live(aids.m_nReferencePosition, watts) ? watts : 0.0;
    }
    case CDisplayAids::Reference::None:
        break;
    }
    return 0.0;
}

std::string FormatDisplayAids(const CDisplayAids& aids) {
    std::string text;
    for (const std::string& key : DisplayAidKeys())
        text += key + "=" + DisplayAidValue(aids, key) + "\n";
    return text;
}

bool ParseDisplayAids(const std::string& text, CDisplayAids& aids, std::string& error) {
    CDisplayAids parsed;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back(); // written on another system
        if (line.empty() || line[0] == '#')
            continue;
        const size_t equals = line.find('=');
        std::string reason = "no KEY=VALUE";
        if (equals != std::string::npos &&
            SetDisplayAid(parsed, line.substr(0, equals), line.substr(equals + 1), reason))
            continue;
        error = "line " + std::to_string(number) + ": " + reason;
        return false;
    }
    aids = parsed;
    return true;
}
