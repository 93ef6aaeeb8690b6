#pragma once
// A simulated meter whose readings tests can predict, and what a meter was sent.

#include "sim/MeterSimulator.h"

#include <string>

// A meter named `name` reading a constant `watts` (no noise, no drift) `rate` times a second.
inline MeterProfile SteadyProfile(const std::string& name, const std::string& serial,
                                  double rate = 40, double watts = 1.5e-3) {
    MeterProfile profile;
    profile.name = name;
    profile.serialReply = "S/N " + serial;
    profile.nominalWatts = watts;
    profile.readingsPerSecond = rate;
    profile.noise = 0;
    profile.drift = false;
    return profile;
}

// Every byte the meter received, in order.
inline std::string ReceivedText(const CMeterSimulator& meter) {
    std::string text;
    for (const ReceivedByte& b : meter.ReceivedBytes())
        text += b.byte;
    return text;
}
